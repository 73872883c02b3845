#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ferrycat/cCatEnd.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cCatOutput.h"
#include "ferrycat/cMsgInput.h"
#include "ferrycat/cMsgPrinter.h"

// The run of either end: messages from the input (standard input or files) go out through the
// end, messages the end receives are printed, until the count is reached and the input is sent,
// the time-out passes, SIGINT or SIGTERM comes, or something fails. Single-threaded: one poll
// over the end, standard input, standard output (written without blocking, cCatOutput) and a
// pipe the signal handler writes; nothing else waits, so a signal always ends the run.
class cCatLoop {
 public:
  // Takes SIGINT and SIGTERM over from here on.
  explicit cCatLoop(const cCatOptions& options);

  // Runs with the end; returns the exit status. Every -f file is read and every message in them
  // checked first: when one cannot be read or is refused, nothing is sent. The summary goes to
  // standard error unless quiet.
  int run(cCatEnd* end);

  // Prints the summary line for an end's counters ("ferrycat: sent messages=... ; received ...").
  static std::string summary(const cCatEnd& end, unsigned long refused);

 private:
  enum Load { kLoaded, kLoadFailed, kLoadInterrupted };
  Load loadFiles();
  // Reads one -f file to its end (a FIFO: until its writer closes it); false when a signal came.
  bool readFile(const std::string& path, std::vector<std::vector<uint8_t>>* messages,
                std::vector<std::string>* errors);
  bool loop(std::string* failure);
  void readInput();
  void sendQueued(int* retryMs);
  void onMessage(const uint8_t* data, size_t length, int id);
  bool finished() const;
  int pollTimeout(int retryMs) const;
  void sayErrors(std::vector<std::string>* errors);
  int endStatus(bool interrupted, const std::string& failure);

  const cCatOptions& mOptions;
  cCatEnd* mEnd;
  cMsgPrinter mPrinter;
  cCatOutput mOutput;
  std::deque<std::vector<uint8_t>> mQueue;
  bool mInputDone;
  unsigned long mRefused;
  unsigned long mFailedSends;
  unsigned long mReceived;
  int mNextId;
  double mLastTraffic;
  std::unique_ptr<cMsgInput> mInput;
  int mSignals;  // readable once SIGINT or SIGTERM came
};
