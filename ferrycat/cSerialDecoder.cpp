#include "ferrycat/cSerialDecoder.h"

#include <memory>

#include "support/YMsg.h"

namespace {

constexpr size_t kCommandLineMax = 1024;  // as the daemon's line builder

const cStats::Counter kShown[] = {
    cStats::kMessages,       cStats::kBytes,         cStats::kInvalidUnits, cStats::kStalePartials,
    cStats::kLostStarts,     cStats::kOutOfOrder,    cStats::kOversize,     cStats::kBadFcs,
    cStats::kOversizeFrames, cStats::kAbortedFrames, cStats::kOutOfMemory};

const cStats::Counter kFrameDrops[cHDLC::kReasons] = {cStats::kBadFcs, cStats::kOversizeFrames,
                                                      cStats::kAbortedFrames};
const char* const kFrameStates[cHDLC::kReasons] = {"bad", "oversize", "aborted"};

}  // namespace

cSerialDecoder::cSide::cSide(const cYlog& log, const char* name, char m)
    : mark(m), reassembler(log, name) {}

cSerialDecoder::cSerialDecoder(cDecodeOutput& out)
    : mOut(out),
      mLog("ferrycat"),
      mModule(mLog, "module to daemon", '<'),
      mDaemon(mLog, "daemon to module", '>'),
      mModem(cBTModem::cNoDevice{}, this) {
  mModule.reassembler.reportDropsTo(&cSerialDecoder::moduleUnitDropped, this);
  mDaemon.reassembler.reportDropsTo(&cSerialDecoder::daemonUnitDropped, this);
  mDaemon.hdlc.reportDropsTo(&cSerialDecoder::sentFrameDropped, this);
}

void cSerialDecoder::at(cSide& side, uint64_t ns) {
  mOut.setPosition(ns, side.mark, side.offset);
}

void cSerialDecoder::fromModule(uint64_t ns, const unsigned char* data, size_t len) {
  mNs = ns;
  for (size_t i = 0; i < len && !mOut.failed(); ++i) {
    ++mModule.offset;
    at(mModule, ns);
    mModem.onSerialBytes(data + i, 1);
  }
}

// Each byte is taken in the mode the receive path is in when it is written: a line cut by a mode
// change is shown as far as it went, and a frame cut by one is forgotten, as the daemon's
// decoder forgets it.
void cSerialDecoder::toModule(uint64_t ns, const unsigned char* data, size_t len) {
  mNs = ns;
  for (size_t i = 0; i < len && !mOut.failed(); ++i) {
    ++mDaemon.offset;
    at(mDaemon, ns);
    bool bypass = mModem.inBypass();
    if (bypass != mDaemon.bypass) {
      if (!mDaemon.line.empty()) commandByte('\n');
      mDaemon.hdlc.reset();
      mDaemon.bypass = bypass;
    }
    if (bypass) {
      mDaemon.hdlc.unFrame(data + i, 1, &cSerialDecoder::sentFrame, this);
    } else {
      commandByte(data[i]);
    }
  }
}

void cSerialDecoder::commandByte(unsigned char byte) {
  std::string& line = mDaemon.line;
  if (byte == '\n') {
    ++mDaemon.lines;
    mOut.event("command", {cDecodeOutput::str("text", line)});
    line.clear();
  } else if (byte != '\r' && line.size() < kCommandLineMax - 1) {
    line += static_cast<char>(byte);
  }
}

void cSerialDecoder::lost(uint64_t ns, int toModule, uint64_t len) {
  cSide& side = toModule ? mDaemon : mModule;
  side.notRecorded += len;
  at(side, ns);
  mOut.event("gap", {cDecodeOutput::num("not-recorded", len)});
}

void cSerialDecoder::onLine(const char* line, int len, const char* keyword) {
  ++mModule.lines;
  std::string text(line, static_cast<size_t>(len));
  if (keyword != nullptr) {
    mOut.event("status",
               {cDecodeOutput::str("text", text), cDecodeOutput::str("keyword", keyword)});
  } else {
    mOut.event("line", {cDecodeOutput::str("text", text)});
  }
}

void cSerialDecoder::onModeChange(ModeChange change) {
  static const char* const kBy[] = {"bypass-mode-line", "escape", "connection-down"};
  const char* to = change == kBypassEntered ? "bypass" : "command";
  mOut.event("mode", {cDecodeOutput::str("to", to), cDecodeOutput::str("by", kBy[change])});
}

void cSerialDecoder::onFrame(const unsigned char* payload, int len) {
  frame(mModule, payload, len);
}

void cSerialDecoder::sentFrame(void* self, const unsigned char* payload, int len) {
  cSerialDecoder* d = static_cast<cSerialDecoder*>(self);
  d->frame(d->mDaemon, payload, len);
}

// A good frame is a segment (or an invalid unit) for the side's reassembler.
void cSerialDecoder::frame(cSide& side, const unsigned char* payload, int len) {
  ++side.frames;
  mOut.event("frame", {cDecodeOutput::num("length", static_cast<uint64_t>(len)),
                       cDecodeOutput::str("fcs", "good")});
  YMsg::cHeader h;
  if (YMsg::parseHeader(payload, static_cast<unsigned short>(len), &h)) {
    mOut.event("segment", {cDecodeOutput::num("id", static_cast<uint64_t>(h.id)),
                           cDecodeOutput::num("index", static_cast<uint64_t>(h.index)),
                           cDecodeOutput::str("last", h.last ? "yes" : "no"),
                           cDecodeOutput::num("length", static_cast<uint64_t>(len))});
  }
  std::unique_ptr<YMsg> whole(side.reassembler.onUnit(payload, len));
  if (!whole) return;
  ++side.counts[cStats::kMessages];
  side.counts[cStats::kBytes] += whole->payload().size();
  mOut.message(whole->getMsgId(), whole->payload());
}

void cSerialDecoder::onFrameDropped(cHDLC::DropReason reason, int len) {
  frameDropped(mModule, reason, len);
}

void cSerialDecoder::sentFrameDropped(void* self, cHDLC::DropReason reason, int len) {
  cSerialDecoder* d = static_cast<cSerialDecoder*>(self);
  d->frameDropped(d->mDaemon, reason, len);
}

// The frame as far as the unframer collected it (payload and check sequence), then the drop.
void cSerialDecoder::frameDropped(cSide& side, cHDLC::DropReason reason, int len) {
  ++side.frames;
  mOut.event("frame", {cDecodeOutput::num("length", static_cast<uint64_t>(len)),
                       cDecodeOutput::str(reason == cHDLC::kBadFcs ? "fcs" : "state",
                                          kFrameStates[reason])});
  drop(side, kFrameDrops[reason]);
}

void cSerialDecoder::moduleUnitDropped(void* self, cStats::Counter reason) {
  cSerialDecoder* d = static_cast<cSerialDecoder*>(self);
  d->drop(d->mModule, reason);
}

void cSerialDecoder::daemonUnitDropped(void* self, cStats::Counter reason) {
  cSerialDecoder* d = static_cast<cSerialDecoder*>(self);
  d->drop(d->mDaemon, reason);
}

void cSerialDecoder::drop(cSide& side, cStats::Counter reason) {
  ++side.counts[reason];
  mOut.event("drop", {cDecodeOutput::str("reason", cStats::name(reason))});
}

void cSerialDecoder::printCounts() {
  for (cSide* side : {&mModule, &mDaemon}) {
    std::vector<cDecodeOutput::cField> fields = {cDecodeOutput::num("lines", side->lines),
                                                 cDecodeOutput::num("frames", side->frames)};
    for (cStats::Counter c : kShown)
      fields.push_back(cDecodeOutput::num(cStats::name(c), side->counts[c]));
    fields.push_back(cDecodeOutput::num("not-recorded", side->notRecorded));
    mOut.counts(side->mark, fields);
  }
}
