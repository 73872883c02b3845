#include "bench/cSimBroker.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "bench/cBenchClock.h"
#include "ferrycat/cCatWire.h"

cSimBroker::cSimBroker(uint16_t port)
    : mLog("cSimBroker"),
      mPort(0),
      mStop(false),
      mThread(),
      mReceiver(mLog, "daemon", -1, FERRY_KIND_DATAGRAM),
      mListening(false) {
  bindSocket(port);
  pthread_create(&mThread, nullptr, &cSimBroker::receiverEntry, this);
  mListening = true;
}

cSimBroker::~cSimBroker() {
  setListening(false);
}

void cSimBroker::bindSocket(uint16_t port) {
  std::string why;
  if (!mSocket.open("127.0.0.1", port, &why)) throw std::runtime_error("cSimBroker: " + why);
  mPort = mSocket.port();
}

void cSimBroker::setListening(bool listening) {
  if (listening == mListening) return;
  if (!listening) {
    mStop = true;
    pthread_join(mThread, nullptr);
    mSocket.close();
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
    pollfd pfd{mSocket.fd(), POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) continue;
    uint32_t overflow = 0;
    ssize_t n;
    while ((n = mSocket.receive(buffer.data(), buffer.size(), &overflow)) >= 0)
      onDatagram(buffer.data(), static_cast<size_t>(n));
  }
}

void cSimBroker::onDatagram(const uint8_t* data, size_t length) {
  bool complete = false;
  cMessage m{0, 0, {}};
  mReceiver.setSink([&](int id, const uint8_t* bytes, size_t n) {
    complete = true;
    m.id = id;
    m.payload.assign(bytes, bytes + n);
  });
  mReceiver.feed(data, length);
  std::function<void(int, const std::vector<uint8_t>&)> sink;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    sink = mSink;
    m.time = benchNow();
    if (!sink) mDatagrams.push_back({m.time, std::vector<uint8_t>(data, data + length)});
    if (complete && !sink) mMessages.push_back(m);
  }
  mChanged.notify_all();
  if (complete && sink) sink(m.id, m.payload);
}

bool cSimBroker::waitForPeer(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (mSocket.findDaemon()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(10 * 1000);
  }
}

uint16_t cSimBroker::peerPort() const {
  return mSocket.daemonPort();
}

bool cSimBroker::sendRaw(const std::vector<uint8_t>& bytes) {
  if (!mSocket.sendUnit(bytes.data(), bytes.size())) return false;
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mSink) mSent.push_back({benchNow(), bytes});
  return true;
}

int cSimBroker::sendMessage(int id, const std::vector<uint8_t>& payload, int segSize) {
  if (segSize > kMaxDatagram) segSize = kMaxDatagram;
  std::vector<std::vector<uint8_t>> units;
  if (!cCatWire::segments(id, payload.data(), payload.size(), segSize, &units)) return -1;
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
