#include "support/cFrameBatch.h"

#include "support/cHDLC.h"

bool cFrameBatch::add(const unsigned char* payload, int length) {
  if (length < 0 || length > cHDLC::kMaxPayload) return false;
  if (mUsed + cHDLC::maxFramed(length) > kSize) return false;
  mUsed += cHDLC::frame(payload, length, mBuf + mUsed);
  ++mFrames;
  return true;
}
