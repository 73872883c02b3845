#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A capture of the serial line, as "ferrycat decode" reads it: a trace written by the daemon
// ("ferryd.io.trace", docs/serial-trace.md), hex text (whitespace ignored) or raw bytes. A hex or
// raw capture is one direction's bytes without time stamps.
class cCapture {
 public:
  enum Kind { kAuto, kTrace, kHex, kRaw };
  enum Dir { kFromModule = 0, kToModule = 1 };
  struct cRecord {
    uint64_t ns;  // CLOCK_MONOTONIC time stamp (0 for hex and raw)
    Dir dir;
    bool lost;  // a gap: lostBytes bytes of dir were not recorded here
    uint32_t lostBytes;
    std::vector<unsigned char> bytes;
  };

  // Takes input apart as kind (kAuto: a trace by its magic, hex text when the input is nothing
  // but hex digit pairs and whitespace, else raw); hex and raw bytes go to direction rawDir.
  // False with the reason in *error when the input is not usable at all (a trace with a bad
  // version or a cut header, one whose size lies past the file, hex text with a stray character). A
  // trace whose end is cut or garbled keeps its whole records; problem() then says where it went
  // wrong.
  bool parse(const std::string& input, Kind kind, Dir rawDir, std::string* error);

  // A trace's header at the start of input: false with the reason in *error when it is not one
  // or cannot be whole; else *headerSize is where the records begin.
  static bool traceHeader(const std::string& input, size_t* headerSize, std::string* error);
  // Takes the whole records of a trace from input[*at] on into records, moving *at past them.
  // kCut: the last record is not whole (yet); kGarbled: bytes that are not a record; *why says
  // where.
  enum Stop { kEnd, kCut, kGarbled };
  static Stop takeRecords(const std::string& input, size_t* at, std::vector<cRecord>* records,
                          std::string* why);
  // Writers on different threads take their time stamps before they queue: a stable sort puts
  // their records in time order.
  static void inTimeOrder(std::vector<cRecord>* records);

  Kind kind() const { return mKind; }
  const std::vector<cRecord>& records() const { return mRecords; }
  const std::string& problem() const { return mProblem; }

 private:
  bool parseTrace(const std::string& input, std::string* error);
  static bool isHex(const std::string& input);
  bool parseHex(const std::string& input, Dir dir, std::string* error);

  Kind mKind = kAuto;
  std::vector<cRecord> mRecords;
  std::string mProblem;
};
