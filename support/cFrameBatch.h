#pragma once

// Frames of one message gathered for few writes to the serial line. The buffer is bounded, so a
// command line waiting for the line never waits behind more than one buffer's worth of frames;
// a frame is always whole inside one buffer.
class cFrameBatch {
 public:
  static constexpr int kSize = 6144;  // three worst-case frames of the largest segment

  cFrameBatch() : mUsed(0), mFrames(0) {}
  cFrameBatch(const cFrameBatch&) = delete;
  cFrameBatch& operator=(const cFrameBatch&) = delete;

  // Frames the payload behind the frames already gathered; false (nothing added) when it might
  // not fit: write the batch out, clear it and add again. A payload longer than a frame carries
  // (cHDLC::kMaxPayload) is never added.
  bool add(const unsigned char* payload, int length);
  void clear() {
    mUsed = 0;
    mFrames = 0;
  }
  const unsigned char* data() const { return mBuf; }
  int size() const { return mUsed; }
  bool empty() const { return mUsed == 0; }
  int frames() const { return mFrames; }

 private:
  unsigned char mBuf[kSize];
  int mUsed;
  int mFrames;
};
