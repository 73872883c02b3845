#include "bench/cSimPeer.h"

#include "ferrycat/cCatWire.h"

namespace {

const char kCommandStart[] = "AT+AB";
const size_t kCommandStartLen = 5;
const size_t kMaxCommand = 1024;

}  // namespace

cSimPeer::cSimPeer(const cYlog& log) : mReceiver(log, "peer"), mInCommand(false) {
  mReceiver.setSink([this](int id, const uint8_t* data, size_t length) {
    onMessage(id, std::vector<uint8_t>(data, data + length));
  });
  mReceiver.setUnitObserver([this](int length) {
    if (!mSink) mSegmentSizes.push_back(static_cast<size_t>(length));
  });
}

void cSimPeer::reset() {
  mReceiver.reset();
  mWindow.clear();
  mInCommand = false;
  mCommand.clear();
}

void cSimPeer::onByte(unsigned char byte, std::vector<std::string>* commands) {
  mReceiver.feed(&byte, 1);
  scanCommand(byte, commands);
}

void cSimPeer::onMessage(int id, const std::vector<uint8_t>& payload) {
  if (mSink) {
    mSink(id, payload);
  } else {
    mMessages.push_back(payload);
    mMessageIds.push_back(id);
  }
}

void cSimPeer::scanCommand(unsigned char byte, std::vector<std::string>* commands) {
  if (mInCommand) {
    if (byte == '\n') {
      commands->push_back(mCommand);
      mInCommand = false;
      mCommand.clear();
    } else if (byte != '\r' && mCommand.size() < kMaxCommand) {
      mCommand += static_cast<char>(byte);
    }
    return;
  }
  mWindow += static_cast<char>(byte);
  if (mWindow.size() > kCommandStartLen) mWindow.erase(0, mWindow.size() - kCommandStartLen);
  if (mWindow == kCommandStart) {
    mInCommand = true;
    mCommand = kCommandStart;
    mWindow.clear();
  }
}

std::string cSimPeer::frameMessage(int id, const std::vector<uint8_t>& payload, int segSize) {
  std::string out;
  cCatWire::frames(id, payload.data(), payload.size(), segSize, &out);
  return out;
}
