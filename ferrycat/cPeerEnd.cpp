#include "ferrycat/cPeerEnd.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

#include "ferrycat/cCatWire.h"

cPeerEnd::cPeerEnd(int fd, std::string path, int segSize)
    : mFd(fd),
      mPath(std::move(path)),
      mSegSize(segSize),
      mLog("ferrycat"),
      mReceiver(mLog, "ferryd", cStats::kSouth),
      mWritten(0) {}

std::vector<cStats::Counter> cPeerEnd::dropCounters() const {
  return {cStats::kInvalidUnits,   cStats::kStalePartials, cStats::kLostStarts,
          cStats::kOutOfOrder,     cStats::kOversize,      cStats::kBadFcs,
          cStats::kOversizeFrames, cStats::kAbortedFrames, cStats::kOutOfMemory};
}

short cPeerEnd::events() const {
  return mPending.empty() ? 0 : POLLOUT;
}

bool cPeerEnd::onReadable(const cSink& sink, std::string* why) {
  mReceiver.setSink(
      [&sink](int id, const uint8_t* data, size_t length) { sink(data, length, id); });
  uint8_t buffer[16384];
  for (int reads = 0; reads < 16; ++reads) {
    ssize_t n = read(mFd, buffer, sizeof buffer);
    if (n > 0) {
      mReceiver.feed(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
    // A tty whose other end went away reads as the end of the file or fails with EIO.
    *why = mPath + ": " + (n == 0 || errno == EIO ? "the line hung up" : strerror(errno));
    return false;
  }
  return true;
}

bool cPeerEnd::onWritable(std::string* why) {
  while (mWritten < mPending.size()) {
    ssize_t n = write(mFd, mPending.data() + mWritten, mPending.size() - mWritten);
    if (n > 0) {
      mWritten += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    *why = mPath + ": " + (errno == EIO ? "the line hung up" : strerror(errno));
    return false;
  }
  mPending.clear();
  mWritten = 0;
  return true;
}

bool cPeerEnd::send(int id, const std::vector<uint8_t>& message, std::string* why) {
  std::string frames;
  if (!cCatWire::frames(id, message.data(), message.size(), mSegSize, &frames)) {
    *why = "it cannot be cut into segments of " + std::to_string(mSegSize) + " bytes";
    return false;
  }
  mPending += frames;
  return true;
}
