#include "ferrycat/cBrokerEnd.h"

#include <errno.h>

#include <cstring>
#include <memory>

#include "ferrycat/cCat.h"

cBrokerEnd::cBrokerEnd(cBrokerSocket* socket, int segSize, bool quiet)
    : mSocket(socket),
      mSegSize(segSize),
      mQuiet(quiet),
      mLog("ferrycat"),
      mReassembler(mLog, "ferryd", cStats::kNorth),
      mOverflow(0),
      mToldWaiting(false),
      mToldPort(0) {}

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
  if (mQuiet || port == mToldPort) return;
  mToldPort = port;
  fprintf(stderr, "ferrycat: ferryd is connected from port %u\n", port);
}

std::string cBrokerEnd::stuck() const {
  return "no ferryd is connected to " + mSocket->address();
}

bool cBrokerEnd::onReadable(const cSink& sink, std::string* why) {
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
    std::unique_ptr<YMsg> msg(mReassembler.onUnit(buffer, static_cast<int>(n)));
    if (msg) sink(msg->payload().data(), msg->payload().size(), msg->getMsgId());
  }
  return true;
}

int cBrokerEnd::readyIn() {
  long queued = mSocket->daemonQueue();  // also finds the daemon
  if (queued < 0 && !mSocket->findDaemon()) {
    if (!mToldWaiting && !mQuiet)
      fprintf(stderr, "ferrycat: no ferryd is connected to %s yet: waiting\n",
              mSocket->address().c_str());
    mToldWaiting = true;
    return 200;
  }
  sayDaemon();
  return queued > kMaxDaemonQueue ? 1 : 0;
}

bool cBrokerEnd::send(int id, const std::vector<uint8_t>& message, std::string* why) {
  if (mSocket->sendMessage(id, message.data(), message.size(), mSegSize) >= 0) return true;
  *why = mSocket->address() + ": " + strerror(errno);
  return false;
}
