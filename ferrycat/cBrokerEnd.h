#pragma once

#include <string>

#include "ferrycat/cBrokerSocket.h"
#include "ferrycat/cCatEnd.h"
#include "ferrycat/cFrameReceiver.h"
#include "support/cYlog.h"

// ferrycat broker's end: the broker's socket where the daemon sends. Messages go out as the
// broker sends them (segments of at most segSize bytes, a datagram each) once the daemon is
// found, never faster than the daemon reads them (its receive queue is kept short); messages
// from the daemon are put back together by libferry's datagram codec (the daemon's own
// reassembly, through cFrameReceiver as the peer's end does). While no daemon is
// connected (none yet, or the one there was has gone) messages wait, and it says so.
class cBrokerEnd : public cCatEnd {
 public:
  // The daemon's receive queue is let grow to this many bytes, a small part of any socket
  // buffer, so a burst of input never overflows it.
  static constexpr long kMaxDaemonQueue = 32 * 1024;
  // While the daemon's queue stays full, it is looked at again after 1 ms, then twice as long
  // each time up to this: a daemon that stopped reading costs a few looks a second.
  static constexpr int kMaxQueueWaitMs = 64;
  // How often /proc/net/udp is searched for a daemon while none is connected.
  static constexpr int kFindDaemonMs = 200;

  cBrokerEnd(cBrokerSocket* socket, int segSize, bool quiet);

  cStats::Dir received() const override { return cStats::kNorth; }
  cStats::Dir sent() const override { return cStats::kSouth; }
  std::vector<cStats::Counter> dropCounters() const override;
  int fd() const override { return mSocket->fd(); }
  short events() const override { return 0; }
  bool onReadable(const cSink& sink, std::string* why) override;
  bool onWritable(std::string*) override { return true; }
  int readyIn() override;
  bool send(int id, const std::vector<uint8_t>& message, std::string* why) override;
  bool drained() const override { return true; }
  std::string stuck() const override;
  void settle() override;

  // Says where it listens and whether a daemon is connected to it (unless quiet).
  void greet();

 private:
  void sayDaemon();
  void sayWaiting();

  cBrokerSocket* mSocket;
  int mSegSize;
  bool mQuiet;
  cYlog mLog;
  cFrameReceiver mReceiver;
  uint32_t mOverflow;
  bool mToldWaiting;
  uint16_t mToldPort;  // the daemon's port last said (0: none since the last wait)
  int mQueueWaitMs;    // the last wait for a full queue, 0 once it took a message
};
