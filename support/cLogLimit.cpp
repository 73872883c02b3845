#include "support/cLogLimit.h"

#include <time.h>

#include <cstdio>

cLogLimit::cLogLimit(int intervalSeconds, int burst)
    : mInterval(intervalSeconds),
      mBurst(burst),
      mStarted(false),
      mWindowStart(0),
      mPassed(0),
      mHeld(0),
      mHeldText{} {}

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
  if (mHeld == 0) {
    mHeldText[0] = '\0';
  } else {
    snprintf(mHeldText, sizeof mHeldText, " (%lu more since the last report)", mHeld);
  }
  mHeld = 0;
  return true;
}
