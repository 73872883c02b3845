#include "ferrycat/cMsgInput.h"

#include <cctype>
#include <cstdio>

namespace {

int hexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string shown(uint8_t c) {
  char text[16];
  if (c > 0x20 && c < 0x7F)
    snprintf(text, sizeof text, "'%c'", c);
  else
    snprintf(text, sizeof text, "byte 0x%02x", c);
  return text;
}

}  // namespace

cMsgInput::cMsgInput(bool whole, bool hex, std::string name)
    : mWhole(whole),
      mHex(hex),
      mName(std::move(name)),
      mLine(1),
      mRefused(false),
      mNibble(-1),
      mStarted(false) {}

std::string cMsgInput::where() const {
  return mWhole ? mName : mName + " line " + std::to_string(mLine);
}

void cMsgInput::refuse(const std::string& why, std::vector<std::string>* errors) {
  if (!mRefused) errors->push_back(where() + ": " + why + ": message refused");
  mRefused = true;
  mMessage.clear();
  mMessage.shrink_to_fit();
}

void cMsgInput::feed(const uint8_t* data, size_t length,
                     std::vector<std::vector<uint8_t>>* messages,
                     std::vector<std::string>* errors) {
  for (size_t i = 0; i < length; ++i) onByte(data[i], messages, errors);
}

void cMsgInput::onByte(uint8_t byte, std::vector<std::vector<uint8_t>>* messages,
                       std::vector<std::string>* errors) {
  if (!mWhole && byte == '\n') {
    complete(messages, errors);
    ++mLine;
    return;
  }
  mStarted = true;
  if (mRefused) return;
  if (!mHex) {
    if (mMessage.size() >= kMaxMessage) return refuse("more than 65535 bytes", errors);
    mMessage.push_back(byte);
    return;
  }
  if (isspace(byte)) {
    if (mNibble >= 0) refuse("a hex digit pair is split by white space", errors);
    return;
  }
  int value = hexValue(byte);
  if (value < 0) return refuse("bad hex: " + shown(byte), errors);
  if (mNibble < 0) {
    mNibble = value;
    return;
  }
  if (mMessage.size() >= kMaxMessage) return refuse("more than 65535 bytes", errors);
  mMessage.push_back(static_cast<uint8_t>(mNibble << 4 | value));
  mNibble = -1;
}

void cMsgInput::complete(std::vector<std::vector<uint8_t>>* messages,
                         std::vector<std::string>* errors) {
  if (!mRefused && mNibble >= 0) refuse("bad hex: an odd number of digits", errors);
  if (!mRefused) messages->push_back(std::move(mMessage));
  mMessage = std::vector<uint8_t>();
  mRefused = false;
  mNibble = -1;
  mStarted = false;
}

void cMsgInput::finish(std::vector<std::vector<uint8_t>>* messages,
                       std::vector<std::string>* errors) {
  if (mWhole || mStarted) complete(messages, errors);
}

bool cMsgInput::decodeHex(const std::string& text, std::vector<uint8_t>* out, std::string* why) {
  cMsgInput input(true, true, "hex");
  std::vector<std::vector<uint8_t>> messages;
  std::vector<std::string> errors;
  input.feed(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &messages, &errors);
  input.finish(&messages, &errors);
  if (!errors.empty()) {
    *why = errors.front();
    return false;
  }
  *out = std::move(messages.front());
  return true;
}
