#include "support/cLogLimit.h"

#include <time.h>

cLogLimit::cLogLimit(int intervalSeconds, int burst)
    : mInterval(intervalSeconds),
      mBurst(burst),
      mStarted(false),
      mWindowStart(0),
      mPassed(0),
      mHeld(0),
      mHeldBefore(0) {}

bool cLogLimit::pass() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (!mStarted || now.tv_sec - mWindowStart >= mInterval) {
    mStarted = true;
    mWindowStart = now.tv_sec;
    mPassed = 0;
  }
  if (mPassed >= mBurst) {
    ++mHeld;
    return false;
  }
  ++mPassed;
  mHeldBefore = mHeld;
  mHeld = 0;
  return true;
}

std::string cLogLimit::held() const {
  if (mHeldBefore == 0) return std::string();
  return " (" + std::to_string(mHeldBefore) + " more since the last report)";
}
