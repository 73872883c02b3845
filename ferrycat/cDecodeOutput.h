#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ferrycat/cMsgPrinter.h"

// The lines of "ferrycat decode": one event a line, as text for a person or as one JSON object
// a line. Every line names the direction ('<' module to daemon, '>' daemon to module) and the
// offset of the byte that completed the event in that direction's stream, after the time since
// the first record when the capture has time stamps:
//   text   "    0.012000 < @130 frame length=105 fcs=good"
//   json   {"t":0.012000,"dir":"<","at":130,"event":"frame","length":105,"fcs":"good"}
// A string field whose bytes are not printable UTF-8 text also has "<key>-hex" in JSON, the exact
// bytes in hex (the string itself holds U+FFFD for each byte that is not UTF-8).
// Messages are printed by the message printer ("... message 3: 5 bytes: hello"). Once the output
// fails (a closed pipe, a full disk) nothing more is written and failed() is true.
class cDecodeOutput {
 public:
  struct cField {
    const char* key;
    std::string value;
    bool number;
  };
  static cField num(const char* key, uint64_t value) { return {key, std::to_string(value), true}; }
  static cField str(const char* key, const std::string& value) { return {key, value, false}; }

  cDecodeOutput(bool json, bool quiet, bool timed, FILE* out = stdout);

  // The time stamp of the first record: times are shown relative to it.
  void setTimeBase(uint64_t ns) { mBase = ns; }
  void setPosition(uint64_t ns, char dir, uint64_t offset);
  void event(const char* name, const std::vector<cField>& fields);
  void message(int id, const std::vector<uint8_t>& payload);
  // Printed even when quiet.
  void counts(char dir, const std::vector<cField>& fields);

  // Two lower-case hex digits a byte.
  static std::string hex(const uint8_t* data, size_t length);

  bool failed() const { return mFailed; }
  int error() const { return mError; }

 private:
  std::string prefix() const;
  std::string jsonHead(const char* name) const;
  void write(const std::string& line);
  static std::string quoted(const std::string& value);

  bool mJson;
  bool mQuiet;
  bool mTimed;
  FILE* mOut;
  cMsgPrinter mPrinter;
  uint64_t mBase = 0;
  uint64_t mNs = 0;
  char mDir = '<';
  uint64_t mOffset = 0;
  bool mFailed = false;
  int mError = 0;
};
