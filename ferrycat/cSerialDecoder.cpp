#include "ferrycat/cSerialDecoder.h"

#include <memory>

#include "support/YMsg.h"

namespace {

constexpr size_t kCommandLineMax = 1024;  // as the daemon's line builder
constexpr unsigned char kFlag = 0x7E;

// Where the frame that just ended (or overflowed) starts in the bytes since the last event: at
// the idle flags before its opening flag. Bytes before that were hunted over by the unframer.
size_t frameStart(const std::vector<unsigned char>& p) {
  size_t end = p.size();
  if (end > 0 && p[end - 1] == kFlag) --end;  // the closing flag
  while (end > 0 && p[end - 1] != kFlag) --end;
  if (end == 0) return 0;  // the frame began at the previous event's closing flag
  size_t start = end - 1;
  while (start > 0 && p[start - 1] == kFlag) --start;
  return start;
}

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

cSerialDecoder::cSerialDecoder(cDecodeOutput& out, const cSettings& settings)
    : mOut(out),
      mSettings(settings),
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
    mModule.pending.push_back(data[i]);
    at(mModule, ns);
    mModem.onSerialBytes(data + i, 1);
  }
}

void cSerialDecoder::toModule(uint64_t ns, const unsigned char* data, size_t len) {
  mNs = ns;
  for (size_t i = 0; i < len && !mOut.failed(); ++i) {
    daemonMode(data[i]);
    ++mDaemon.offset;
    at(mDaemon, ns);
    mDaemon.pending.push_back(data[i]);
    if (mDaemon.bypass) {
      mDaemon.hdlc.unFrame(data + i, 1, &cSerialDecoder::sentFrame, this);
    } else {
      commandByte(data[i]);
    }
  }
}

// The mode the daemon's next byte is taken in: the receive path's, or with the daemon's side
// alone, the byte's own. A line cut by a mode change is shown as far as it went; a frame cut by
// one is skipped.
void cSerialDecoder::daemonMode(unsigned char byte) {
  bool bypass = mModem.inBypass();
  if (mSettings.sentAlone) {
    bypass = mDaemon.bypass ? byte != 'A' : byte == kFlag && mDaemon.line.empty();
  }
  if (bypass == mDaemon.bypass) return;
  if (!mDaemon.line.empty()) commandByte('\n');
  if (mDaemon.bypass) skip(mDaemon, mDaemon.pending.size());
  mDaemon.hdlc.reset();
  mDaemon.bypass = bypass;
}

void cSerialDecoder::commandByte(unsigned char byte) {
  std::string& line = mDaemon.line;
  if (byte == '\n') {
    ++mDaemon.lines;
    mOut.event("command", {cDecodeOutput::str("text", line)});
    unit(mDaemon, cPcapWriter::kLine);
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
  if (mSettings.pcap != nullptr) {
    unsigned char count[4];
    for (int i = 0; i < 4; ++i) count[i] = static_cast<unsigned char>(len >> (8 * i));
    mSettings.pcap->packet(ns, toModule != 0, cPcapWriter::kGap, count, sizeof count,
                           std::to_string(len) + " bytes not recorded");
  }
}

void cSerialDecoder::finish() {
  for (cSide* side : {&mModule, &mDaemon}) {
    at(*side, mNs);
    skip(*side, side->pending.size());
  }
}

// The event just shown ends a line or a frame: its bytes become one packet.
void cSerialDecoder::unit(cSide& side, cPcapWriter::Kind kind) {
  if (mSettings.pcap != nullptr) {
    mSettings.pcap->packet(mNs, &side == &mDaemon, kind, side.pending.data(), side.pending.size());
  }
  side.pending.clear();
}

// The first count bytes since the last event belong to no line and no frame.
void cSerialDecoder::skip(cSide& side, size_t count) {
  if (count == 0) return;
  side.skipped += count;
  uint64_t from = side.offset - side.pending.size() + 1;
  if (mSettings.verbose) {
    mOut.event("skipped",
               {cDecodeOutput::num("from", from), cDecodeOutput::num("length", count),
                cDecodeOutput::str("hex", cDecodeOutput::hex(side.pending.data(), count))});
  }
  if (mSettings.pcap != nullptr) {
    mSettings.pcap->packet(mNs, &side == &mDaemon, cPcapWriter::kSkipped, side.pending.data(),
                           count);
  }
  side.pending.erase(side.pending.begin(), side.pending.begin() + static_cast<long>(count));
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
  unit(mModule, cPcapWriter::kLine);
}

void cSerialDecoder::onModeChange(ModeChange change) {
  static const char* const kBy[] = {"bypass-mode-line", "escape", "connection-down"};
  const char* to = change == kBypassEntered ? "bypass" : "command";
  // The escape's "AT-AB" begins the status line; what came before it in bypass mode (a frame it
  // cut) belongs to no line and no frame.
  const size_t kEscapeLength = 5;
  if (change == kBypassEscaped && mModule.pending.size() > kEscapeLength)
    skip(mModule, mModule.pending.size() - kEscapeLength);
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
  skip(side, frameStart(side.pending));
  ++side.frames;
  mOut.event("frame", {cDecodeOutput::num("length", static_cast<uint64_t>(len)),
                       cDecodeOutput::str("fcs", "good")});
  unit(side, cPcapWriter::kFrame);
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
  skip(side, frameStart(side.pending));
  ++side.frames;
  mOut.event("frame", {cDecodeOutput::num("length", static_cast<uint64_t>(len)),
                       cDecodeOutput::str(reason == cHDLC::kBadFcs ? "fcs" : "state",
                                          kFrameStates[reason])});
  unit(side, cPcapWriter::kFrame);
  drop(side, kFrameDrops[reason]);
}

void cSerialDecoder::moduleUnitDropped(void* self, cStats::Counter reason, int, int) {
  cSerialDecoder* d = static_cast<cSerialDecoder*>(self);
  d->drop(d->mModule, reason);
}

void cSerialDecoder::daemonUnitDropped(void* self, cStats::Counter reason, int, int) {
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
    fields.push_back(cDecodeOutput::num("skipped", side->skipped));
    fields.push_back(cDecodeOutput::num("not-recorded", side->notRecorded));
    mOut.counts(side->mark, fields);
  }
}
