#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Messages from an input stream, fed as it is read. Lines (the default): every line is one
// message, without its '\n' (an empty line is an empty message; the last line needs no '\n').
// Whole: everything up to the end is one message. Hex: the text is hexadecimal, two digits a
// byte, white space anywhere between digit pairs ignored.
//
// A message over 65,535 bytes, bad hex or an odd number of digits is refused whole: it is never
// handed out, and one line saying where and why is added to the errors. Memory stays bounded by
// one message, however long a line.
class cMsgInput {
 public:
  static constexpr size_t kMaxMessage = 65535;

  // name is used in the errors: "standard input", a file's path.
  cMsgInput(bool whole, bool hex, std::string name);

  // Feeds bytes read; messages completed by them are appended to *messages.
  void feed(const uint8_t* data, size_t length, std::vector<std::vector<uint8_t>>* messages,
            std::vector<std::string>* errors);
  // The end of the input: completes the last line, or the whole message.
  void finish(std::vector<std::vector<uint8_t>>* messages, std::vector<std::string>* errors);
  // True once a whole input was refused: the rest need not be read.
  bool refusedWhole() const { return mWhole && mRefused; }

  // The bytes of hex text (white space ignored); false with *why.
  static bool decodeHex(const std::string& text, std::vector<uint8_t>* out, std::string* why);

 private:
  void onByte(uint8_t byte, std::vector<std::vector<uint8_t>>* messages,
              std::vector<std::string>* errors);
  void add(uint8_t byte);  // a byte of the message being read
  void complete(std::vector<std::vector<uint8_t>>* messages, std::vector<std::string>* errors);
  void refuse(const std::string& why, std::vector<std::string>* errors);
  std::string where() const;

  bool mWhole;
  bool mHex;
  std::string mName;
  std::vector<uint8_t> mMessage;
  unsigned long mLine;  // of the message being read, from 1
  bool mRefused;        // the message being read is refused; the rest of it is skipped
  int mNibble;          // a first hex digit waiting for its second (-1: none)
  bool mStarted;        // the message being read has begun (lines: any byte since the last end)
};
