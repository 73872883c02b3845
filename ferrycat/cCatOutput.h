#pragma once

#include <cstddef>
#include <deque>
#include <string>

// Standard output as a run writes it: whole messages queued and written without blocking, so a
// reader that stops reading (a full pipe, a terminal on hold) never holds the run and SIGINT or
// SIGTERM still ends it. A pipe, a FIFO or a terminal is opened a second time through
// /proc/self/fd with O_NONBLOCK: that open file is this process's own, so the flags of the one it
// shares with the shell and the rest of a pipeline stay as they are. A socket is written with
// MSG_DONTWAIT; a regular file is written as it is (it does not wait on a reader). Where none of
// this works (no /proc) the writes block, as any program's do.
class cCatOutput {
 public:
  // Bytes waiting beyond this take no further message: the run stops reading its end until the
  // reader catches up.
  static constexpr size_t kMaxPending = 1 << 20;

  explicit cCatOutput(int fd);
  ~cCatOutput();
  cCatOutput(const cCatOutput&) = delete;
  cCatOutput& operator=(const cCatOutput&) = delete;

  // The descriptor to poll for POLLOUT while messages wait.
  int fd() const { return mFd; }
  // Queues one message's bytes.
  void add(std::string bytes);
  bool full() const { return mBytes > kMaxPending; }
  bool empty() const { return mQueue.empty(); }
  // Messages not yet wholly written.
  size_t waiting() const { return mQueue.size(); }
  // Writes what can go now. False when the output failed (error() says why).
  bool flush();
  int error() const { return mError; }

 private:
  int mFd;
  bool mOwnFd;   // opened here: closed here
  bool mSocket;  // written with send(MSG_DONTWAIT)
  std::deque<std::string> mQueue;
  size_t mOffset;  // written of the first message
  size_t mBytes;   // waiting, all messages
  int mError;
};
