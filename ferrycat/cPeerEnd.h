#pragma once

#include <string>

#include "ferrycat/cCatEnd.h"
#include "ferrycat/cFrameReceiver.h"
#include "support/cYlog.h"

// ferrycat peer's end: the serial stream of the module in bypass mode. Messages go out as
// segments of segSize bytes, each framed as the daemon frames them; the daemon's frames are
// unframed (every FCS checked) and put back together.
class cPeerEnd : public cCatEnd {
 public:
  // Framed bytes waiting for the line beyond this take no further message for now.
  static constexpr size_t kMaxPending = 64 * 1024;

  cPeerEnd(int fd, std::string path, int segSize);

  cStats::Dir received() const override { return cStats::kSouth; }
  cStats::Dir sent() const override { return cStats::kNorth; }
  std::vector<cStats::Counter> dropCounters() const override;
  int fd() const override { return mFd; }
  short events() const override;
  bool onReadable(const cSink& sink, std::string* why) override;
  bool onWritable(std::string* why) override;
  int readyIn() override { return mPending.size() > kMaxPending ? -1 : 0; }
  bool send(int id, const std::vector<uint8_t>& message, std::string* why) override;
  bool drained() const override { return mPending.empty(); }
  std::string stuck() const override;

 private:
  int mFd;
  std::string mPath;
  int mSegSize;
  cYlog mLog;
  cFrameReceiver mReceiver;
  std::string mPending;  // framed bytes not yet written
  size_t mWritten;       // of mPending
};
