#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ferrycat/cCatEnd.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cMsgInput.h"
#include "ferrycat/cMsgPrinter.h"

// The run of either end: messages from the input (standard input or files) go out through the
// end, messages the end receives are printed, until the count is reached and the input is sent,
// the time-out passes, SIGINT or SIGTERM comes, or something fails. Single-threaded: one poll
// over the end, standard input and a pipe the signal handler writes.
class cCatLoop {
 public:
  explicit cCatLoop(const cCatOptions& options);

  // Reads every -f file and checks every message in them before anything is sent; false (with
  // the messages said) when one cannot be read or is refused. Call before run().
  bool loadFiles();
  // Runs with the end; returns the exit status. The summary goes to standard error unless quiet.
  int run(cCatEnd* end);

  // Prints the summary line for an end's counters ("ferrycat: sent messages=... ; received ...").
  static std::string summary(const cCatEnd& end, unsigned long refused);

 private:
  void readInput();
  void sendQueued(int* retryMs);
  bool onMessage(const uint8_t* data, size_t length, int id);
  bool finished() const;
  void sayErrors(std::vector<std::string>* errors);

  const cCatOptions& mOptions;
  cCatEnd* mEnd;
  cMsgPrinter mPrinter;
  std::deque<std::vector<uint8_t>> mQueue;
  bool mInputDone;
  unsigned long mRefused;
  unsigned long mReceived;
  int mNextId;
  double mLastTraffic;
  bool mOutputFailed;
  int mOutputErrno;
  std::unique_ptr<cMsgInput> mInput;
};
