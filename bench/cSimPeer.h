#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ferrycat/cFrameReceiver.h"
#include "support/cYlog.h"

// The Bluetooth peer behind the simulated module in bypass mode: unframes the daemon's stream and
// puts the messages back together (ferrycat's cFrameReceiver), and frames messages for the daemon
// (cCatWire). It also picks out command
// lines the daemon writes into the stream ("AT+AB ..."; the framer escapes 'A', so the text cannot
// occur inside a frame). Not thread-safe: its owner serialises the calls.
class cSimPeer {
 public:
  // Takes each message put back together instead of keeping it (long runs).
  using cSink = std::function<void(int id, const std::vector<uint8_t>& payload)>;

  explicit cSimPeer(const cYlog& log);
  void setSink(cSink sink) { mSink = std::move(sink); }

  // Feeds one byte from the daemon; a command line completed by it is appended to commands.
  void onByte(unsigned char byte, std::vector<std::string>* commands);
  // Forgets a partly received frame and command line.
  void reset();

  const std::vector<std::vector<uint8_t>>& messages() const { return mMessages; }
  const std::vector<int>& messageIds() const { return mMessageIds; }
  const std::vector<size_t>& segmentSizes() const { return mSegmentSizes; }
  unsigned droppedFrames() const { return mReceiver.droppedFrames(); }

  // The message as framed segments of at most segSize serialised bytes, back to back; empty
  // when it cannot be cut that way.
  static std::string frameMessage(int id, const std::vector<uint8_t>& payload, int segSize);

 private:
  void scanCommand(unsigned char byte, std::vector<std::string>* commands);
  void onMessage(int id, const std::vector<uint8_t>& payload);

  cFrameReceiver mReceiver;
  std::string mWindow;  // the last bytes seen, to spot "AT+AB"
  bool mInCommand;
  std::string mCommand;  // the command line being collected
  std::vector<std::vector<uint8_t>> mMessages;
  std::vector<int> mMessageIds;
  std::vector<size_t> mSegmentSizes;
  cSink mSink;
};
