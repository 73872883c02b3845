#include "bench/cSimPeer.h"

#include <memory>

#include "support/YMsg.h"

namespace {

const char kCommandStart[] = "AT+AB";
const size_t kCommandStartLen = 5;
const size_t kMaxCommand = 1024;

}  // namespace

cSimPeer::cSimPeer(const cYlog& log) : mReassembler(log, "peer"), mInCommand(false) {}

void cSimPeer::reset() {
  mHDLC.reset();
  mWindow.clear();
  mInCommand = false;
  mCommand.clear();
}

void cSimPeer::onByte(unsigned char byte, std::vector<std::string>* commands) {
  unsigned char frame[cHDLC::kMaxPayload];
  int len = 0;
  if (mHDLC.unFrameByte(byte, frame, &len)) {
    if (!mSink) mSegmentSizes.push_back(static_cast<size_t>(len));
    YMsg* msg = mReassembler.onUnit(frame, len);
    if (msg != nullptr && mSink) {
      mSink(msg->getMsgId(), msg->payload());
    } else if (msg != nullptr) {
      mMessages.push_back(msg->payload());
      mMessageIds.push_back(msg->getMsgId());
    }
    delete msg;
  }
  scanCommand(byte, commands);
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
  if (segSize < 1) return std::string();
  std::unique_ptr<YMsg> msg(YMsg::create(id, payload.data(), payload.size()));
  std::string out;
  if (segSize > 0xFFFF || !msg || !msg->segmentMessage(segSize)) return out;
  msg->resetSegment();
  std::vector<unsigned char> seg(static_cast<size_t>(segSize));
  std::vector<unsigned char> framed(2 + 2 * (static_cast<size_t>(segSize) + 2));
  for (YMsg* s = msg->getNextSegment(); s != nullptr; s = msg->getNextSegment()) {
    int n = s->getMsg(seg.data(), static_cast<unsigned short>(segSize));
    int flen = 0;
    cHDLC().frameData(seg.data(), n, framed.data(), &flen);
    out.append(reinterpret_cast<const char*>(framed.data()), static_cast<size_t>(flen));
  }
  return out;
}
