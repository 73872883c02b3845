#include "ferrycat/cBrokerEnd.h"

#include <errno.h>

#include <algorithm>
#include <cstring>

#include "ferrycat/cCat.h"

cBrokerEnd::cBrokerEnd(cBrokerSocket* socket, int segSize, bool quiet)
    : mSocket(socket),
      mSegSize(segSize),
      mQuiet(quiet),
      mLog("ferrycat"),
      mReceiver(mLog, "ferryd", cStats::kNorth, FERRY_KIND_DATAGRAM),
      mOverflow(0),
      mToldWaiting(false),
      mToldPort(0),
      mQueueWaitMs(0) {}

std::vector<cStats::Counter> cBrokerEnd::dropCounters() const {
  return {cStats::kInvalidUnits, cStats::kStalePartials, cStats::kLostStarts, cStats::kOutOfOrder,
          cStats::kOversize,     cStats::kOverflow,      cStats::kOutOfMemory};
}

void cBrokerEnd::greet() {
  if (mQuiet) return;
  fprintf(stderr, "ferrycat: listening on %s\n", mSocket->address().c_str());
  if (mSocket->findDaemon()) {
    sayDaemon();
  } else {
    fprintf(stderr, "ferrycat: no ferryd is connected to %s yet\n", mSocket->address().c_str());
    mToldWaiting = true;
  }
}

void cBrokerEnd::sayDaemon() {
  uint16_t port = mSocket->daemonPort();
  if (port == mToldPort) return;
  mToldPort = port;
  mToldWaiting = false;
  if (!mQuiet) fprintf(stderr, "ferrycat: ferryd is connected from port %u\n", port);
}

void cBrokerEnd::sayWaiting() {
  if (mToldWaiting) return;
  mToldWaiting = true;
  std::string address = mSocket->address();
  if (!mQuiet && mToldPort != 0)
    fprintf(stderr, "ferrycat: ferryd (port %u) has gone: waiting for one connected to %s\n",
            mToldPort, address.c_str());
  else if (!mQuiet)
    fprintf(stderr, "ferrycat: no ferryd is connected to %s yet: waiting\n", address.c_str());
  mToldPort = 0;
}

// Datagrams dropped after the last one received carry no count: the socket's own line has it.
void cBrokerEnd::settle() {
  long drops = mSocket->ownDrops();
  if (drops > static_cast<long>(mOverflow)) {
    cStats::add(cStats::kNorth, cStats::kOverflow, static_cast<uint64_t>(drops - mOverflow));
    mOverflow = static_cast<uint32_t>(drops);
  }
}

std::string cBrokerEnd::stuck() const {
  uint16_t port = mSocket->daemonPort();
  if (port == 0) return "no ferryd is connected to " + mSocket->address();
  return "ferryd (port " + std::to_string(port) + ") did not read what it was sent before";
}

bool cBrokerEnd::onReadable(const cSink& sink, std::string* why) {
  mReceiver.setSink(
      [&sink](int id, const uint8_t* data, size_t length) { sink(data, length, id); });
  uint8_t buffer[65536];
  for (int reads = 0; reads < 64; ++reads) {
    uint32_t overflow = mOverflow;
    ssize_t n = mSocket->receive(buffer, sizeof buffer, &overflow);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      *why = mSocket->address() + ": " + strerror(errno);
      return false;
    }
    if (overflow != mOverflow) cStats::add(cStats::kNorth, cStats::kOverflow, overflow - mOverflow);
    mOverflow = overflow;
    sayDaemon();
    mReceiver.feed(buffer, static_cast<size_t>(n));
  }
  return true;
}

int cBrokerEnd::readyIn() {
  long queued = mSocket->daemonQueue();  // also finds the daemon, and forgets one that has gone
  if (queued < 0) {
    sayWaiting();
    return kFindDaemonMs;
  }
  sayDaemon();
  if (queued <= kMaxDaemonQueue) {
    mQueueWaitMs = 0;
    return 0;
  }
  mQueueWaitMs = std::min(mQueueWaitMs > 0 ? mQueueWaitMs * 2 : 1, kMaxQueueWaitMs);
  return mQueueWaitMs;
}

bool cBrokerEnd::send(int id, const std::vector<uint8_t>& message, std::string* why) {
  if (mSocket->sendMessage(id, message.data(), message.size(), mSegSize) >= 0) return true;
  int error = errno;
  std::string daemon = mSocket->daemonAddress();
  *why = (daemon.empty() ? "no ferryd" : daemon) + ": " + strerror(error);
  return false;
}
