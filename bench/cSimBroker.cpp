#include "bench/cSimBroker.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bench/cBenchClock.h"
#include "bench/cBenchWire.h"

cSimBroker::cSimBroker(uint16_t port)
    : mLog("cSimBroker"),
      mSocket(-1),
      mPort(0),
      mStop(false),
      mThread(),
      mPeer(),
      mHavePeer(false),
      mReassembler(mLog, "daemon"),
      mListening(false) {
  bindSocket(port);
  pthread_create(&mThread, nullptr, &cSimBroker::receiverEntry, this);
  mListening = true;
}

cSimBroker::~cSimBroker() {
  setListening(false);
}

void cSimBroker::bindSocket(uint16_t port) {
  mSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // not inherited by the daemon
  int one = 1;
  setsockopt(mSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int big = 1 << 20;
  setsockopt(mSocket, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(mSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    std::string why = strerror(errno);
    close(mSocket);
    throw std::runtime_error("cSimBroker: cannot bind 127.0.0.1:" + std::to_string(port) + ": " +
                             why);
  }
  socklen_t len = sizeof addr;
  getsockname(mSocket, reinterpret_cast<sockaddr*>(&addr), &len);
  mPort = ntohs(addr.sin_port);
}

void cSimBroker::setListening(bool listening) {
  if (listening == mListening) return;
  if (!listening) {
    mStop = true;
    pthread_join(mThread, nullptr);
    close(mSocket);
    mListening = false;
    return;
  }
  bindSocket(mPort);
  mStop = false;
  pthread_create(&mThread, nullptr, &cSimBroker::receiverEntry, this);
  mListening = true;
}

void cSimBroker::setMessageSink(
    std::function<void(int id, const std::vector<uint8_t>& payload)> sink) {
  std::lock_guard<std::mutex> lock(mMutex);
  mSink = std::move(sink);
}

void* cSimBroker::receiverEntry(void* self) {
  static_cast<cSimBroker*>(self)->receiver();
  return nullptr;
}

// Whole datagrams, oversize ones included: the broker side never cuts.
void cSimBroker::receiver() {
  std::vector<uint8_t> buffer(65536);
  while (!mStop) {
    pollfd pfd{mSocket, POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(mSocket, buffer.data(), buffer.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), &len);
    if (n >= 0) onDatagram(buffer.data(), static_cast<size_t>(n), from);
  }
}

void cSimBroker::onDatagram(const uint8_t* data, size_t length, const sockaddr_in& from) {
  YMsg* complete = mReassembler.onUnit(data, static_cast<int>(length));
  std::function<void(int, const std::vector<uint8_t>&)> sink;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    sink = mSink;
    double now = benchNow();
    if (!sink) mDatagrams.push_back({now, std::vector<uint8_t>(data, data + length)});
    if (complete != nullptr && !sink)
      mMessages.push_back({now, complete->getMsgId(), complete->payload()});
    mPeer = from;
    mHavePeer = true;
  }
  mChanged.notify_all();
  if (complete != nullptr && sink) sink(complete->getMsgId(), complete->payload());
  delete complete;
}

// The daemon's socket is the UDP socket on loopback whose remote end is this broker's port.
bool cSimBroker::lookupPeer() {
  std::ifstream udp("/proc/net/udp");
  std::string line;
  std::getline(udp, line);  // header
  while (std::getline(udp, line)) {
    unsigned localIp = 0, localPort = 0, remoteIp = 0, remotePort = 0, state = 0;
    if (sscanf(line.c_str(), " %*d: %8X:%4X %8X:%4X %2X", &localIp, &localPort, &remoteIp,
               &remotePort, &state) != 5)
      continue;
    // /proc shows the addresses as the kernel stores them (network order read as a host word).
    if (remotePort != mPort || remoteIp != htonl(INADDR_LOOPBACK) || state != 1) continue;
    std::lock_guard<std::mutex> lock(mMutex);
    mPeer = sockaddr_in{};
    mPeer.sin_family = AF_INET;
    mPeer.sin_addr.s_addr = localIp;
    mPeer.sin_port = htons(static_cast<uint16_t>(localPort));
    mHavePeer = true;
    return true;
  }
  return false;
}

bool cSimBroker::waitForPeer(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (mHavePeer) return true;
    }
    if (lookupPeer()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(10 * 1000);
  }
}

uint16_t cSimBroker::peerPort() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mHavePeer ? ntohs(mPeer.sin_port) : 0;
}

bool cSimBroker::sendRaw(const std::vector<uint8_t>& bytes) {
  sockaddr_in to;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mHavePeer) return false;
    to = mPeer;
  }
  ssize_t n =
      sendto(mSocket, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (n != static_cast<ssize_t>(bytes.size())) return false;
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mSink) mSent.push_back({benchNow(), bytes});
  return true;
}

int cSimBroker::sendMessage(int id, const std::vector<uint8_t>& payload, int segSize) {
  if (segSize > kMaxDatagram) segSize = kMaxDatagram;
  std::vector<std::vector<uint8_t>> units = cBenchWire::segments(id, payload, segSize);
  if (units.empty()) return -1;
  for (const std::vector<uint8_t>& unit : units) {
    if (!sendRaw(unit)) return -1;
  }
  return static_cast<int>(units.size());
}

std::vector<cSimBroker::cDatagram> cSimBroker::datagrams() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mDatagrams;
}

std::vector<cSimBroker::cMessage> cSimBroker::messages() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mMessages;
}

std::vector<cSimBroker::cDatagram> cSimBroker::sent() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mSent;
}

bool cSimBroker::waitForDatagrams(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mMutex);
  return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return mDatagrams.size() >= n; });
}

bool cSimBroker::waitForMessages(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mMutex);
  return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return mMessages.size() >= n; });
}
