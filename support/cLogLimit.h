#pragma once

// Keeps a repeated report from flooding the log: in each interval of intervalSeconds
// (CLOCK_MONOTONIC) the first burst reports pass and the rest are held back and counted; the
// next report that passes says how many were held. One instance serves one thread.
class cLogLimit {
 public:
  static constexpr int kDefaultInterval = 60;
  static constexpr int kDefaultBurst = 5;

  explicit cLogLimit(int intervalSeconds = kDefaultInterval, int burst = kDefaultBurst);

  // True when this report is to be logged now.
  bool pass();
  // The text to append to a report that passed: empty, or " (N more since the last report)".
  // Kept in the instance until the next pass(): building a warning never needs memory, so a
  // report cannot fail while its caller holds a lock or a turn.
  const char* held() const { return mHeldText; }

 private:
  int mInterval;
  int mBurst;
  bool mStarted;
  long long mWindowStart;  // CLOCK_MONOTONIC seconds
  int mPassed;             // reports passed in this interval
  unsigned long mHeld;     // held back since the last report that passed
  char mHeldText[64];      // what the last report that passed is to mention
};
