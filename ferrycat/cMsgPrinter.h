#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Writes whole messages to an output stream, one at a time, in one of three formats:
//
//   kText  one line for a person: the length, then the content as text when it is printable
//          (valid UTF-8 without control characters other than tab), else a hex dump in the
//          offset/hex/ASCII layout of "hexdump -C", 16 bytes a line:
//            5 bytes: hello
//            7 bytes:
//            00000000  41 54 2d 41 42 7e 7d                              |AT-AB~}|
//          An empty message is "0 bytes". With a source (below) the line starts with it:
//            "peer: 5 bytes: hello".
//   kJson  one JSON object a line, for scripts. Exactly one of "text" (printable content, as a
//          JSON string) or "hex" (two lower-case digits a byte) holds the content:
//            {"seq":1,"id":5,"length":5,"text":"hello"}
//            {"seq":2,"id":6,"length":3,"hex":"00017e"}
//          "seq" counts the messages this printer wrote, from 1; "id" (the segments' 7-bit
//          message id) and "source" appear only when given.
//   kRaw   the payload bytes and nothing else: messages back to back, for a file or a pipe.
//
// Each message is flushed as a whole, so a reader of a pipe sees it at once. Not thread-safe.
class cMsgPrinter {
 public:
  enum Format { kText, kJson, kRaw };

  // "text", "json" or "raw"; false (format unchanged) for anything else.
  static bool parseFormat(const char* name, Format* format);

  explicit cMsgPrinter(Format format, FILE* out = stdout);

  // Writes one message. id: its message id, or -1 when unknown. source: a short label of where
  // it came from ("broker", "peer", a capture's side) or null. Returns false when the output
  // failed (a closed pipe, a full disk): the caller stops and ends quietly.
  bool print(const uint8_t* data, size_t length, int id = -1, const char* source = nullptr);
  // The bytes print writes for one message, for a caller that writes them itself.
  std::string render(const uint8_t* data, size_t length, int id = -1, const char* source = nullptr);

  Format format() const { return mFormat; }
  unsigned long printed() const { return mSeq; }

  // The pieces of the formats, for callers that show bytes the same way.
  // True when the bytes are shown as text (see kText above).
  static bool isPrintable(const uint8_t* data, size_t length);
  // The hex dump lines of kText, each ending in '\n'.
  static std::string hexDump(const uint8_t* data, size_t length);
  // The bytes as a JSON string literal in valid UTF-8, quotes included: control characters as
  // \u00XX, each byte that is not part of a UTF-8 character as \ufffd. Where the bytes must be
  // read back exactly, they go beside it in hex.
  static std::string jsonString(const uint8_t* data, size_t length);

 private:
  std::string textLine(const uint8_t* data, size_t length, const char* source) const;
  std::string jsonLine(const uint8_t* data, size_t length, int id, const char* source) const;

  Format mFormat;
  FILE* mOut;
  unsigned long mSeq;
};
