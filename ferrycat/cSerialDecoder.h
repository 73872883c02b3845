#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ferrycat/cDecodeOutput.h"
#include "ferrycat/cPcapWriter.h"
#include "modem/cBTModem.h"
#include "modem/cBTModemListener.h"
#include "support/cHDLC.h"
#include "support/cReassembler.h"
#include "support/cStats.h"
#include "support/cYlog.h"

// Decodes both directions of the serial line with the daemon's own code. The module's bytes run
// through the daemon's receive path (a driver without device), which reports every line, mode
// change, frame and dropped frame to this listener; its frames are segments for a reassembler
// like the daemon's. The daemon's bytes are command lines while the receive path is in command
// mode and frames of segments (the daemon's unframer and reassembler) while it is in bypass mode.
// Bytes are handed in one at a time, so every event knows the offset of the byte that caused it.
// Every byte is accounted for: it belongs to a line, to a frame, or is counted as skipped (bytes
// before a frame's opening flag, the rest of an oversize frame, a frame cut by a mode change, what
// is left at the end), shown with its offsets when verbose.
// A capture of the daemon's side alone holds no mode changes (sentAlone): its bytes are taken by
// what they are, a frame from a flag at the start of a line, a command line from an unescaped 'A'
// (which a frame never holds).
class cSerialDecoder : private cBTModemListener {
 public:
  struct cSettings {
    bool verbose = false;         // show skipped bytes
    bool sentAlone = false;       // the daemon's side without the module's
    cPcapWriter* pcap = nullptr;  // also writes each line and frame as a packet here
  };
  cSerialDecoder(cDecodeOutput& out, const cSettings& settings);
  cSerialDecoder(const cSerialDecoder&) = delete;
  cSerialDecoder& operator=(const cSerialDecoder&) = delete;

  void fromModule(uint64_t ns, const unsigned char* data, size_t len);
  void toModule(uint64_t ns, const unsigned char* data, size_t len);
  // A gap in a trace: len bytes of one direction were not recorded.
  void lost(uint64_t ns, int toModule, uint64_t len);
  // The capture has ended: what is left of a line or a frame is skipped.
  void finish();
  // The counts of both directions, under the daemon's counter names.
  void printCounts();
  // Bytes of a direction that belonged to no line and no frame.
  uint64_t skipped(bool toModule) const { return toModule ? mDaemon.skipped : mModule.skipped; }

 private:
  // One direction's decoding state and counts.
  struct cSide {
    cSide(const cYlog& log, const char* name, char mark);
    char mark;
    uint64_t offset = 0;  // bytes of this direction so far
    cHDLC hdlc;           // the daemon's side only: the module's side unframes in the driver
    cReassembler reassembler;
    uint64_t counts[cStats::kCounters] = {};
    uint64_t lines = 0, frames = 0, notRecorded = 0, skipped = 0;
    std::vector<unsigned char> pending;  // bytes since the last line or frame ended
    std::string line;                    // the daemon's side: the command line being built
    bool bypass = false;                 // the daemon's side: the mode its last byte was decoded in
  };

  void onLine(const char* line, int len, const char* keyword) override;
  void onModeChange(ModeChange change) override;
  void onFrame(const unsigned char* payload, int len) override;
  void onFrameDropped(cHDLC::DropReason reason, int len) override;

  void at(cSide& side, uint64_t ns);
  void unit(cSide& side, cPcapWriter::Kind kind);
  void skip(cSide& side, size_t count);
  void daemonMode(unsigned char byte);
  void frame(cSide& side, const unsigned char* payload, int len);
  void frameDropped(cSide& side, cHDLC::DropReason reason, int len);
  void drop(cSide& side, cStats::Counter reason);
  void commandByte(unsigned char byte);
  static void sentFrame(void* self, const unsigned char* payload, int len);
  static void sentFrameDropped(void* self, cHDLC::DropReason reason, int len);
  // The drop event gives only the reason: the frame and segment events before it say what came.
  static void moduleUnitDropped(void* self, cStats::Counter reason, int id, int length);
  static void daemonUnitDropped(void* self, cStats::Counter reason, int id, int length);

  cDecodeOutput& mOut;
  cSettings mSettings;
  cYlog mLog;
  cSide mModule;  // '<' module to daemon
  cSide mDaemon;  // '>' daemon to module
  cBTModem mModem;
  uint64_t mNs = 0;
};
