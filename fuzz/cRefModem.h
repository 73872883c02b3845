#pragma once

#include <string>
#include <vector>

#include "fuzz/cRefUnframer.h"

// A plain model of the modem receive path, byte by byte: command-mode lines (CR dropped, at most
// 1023 characters kept), status lines ("AT-AB" and one of five keywords) acted on whether or not
// a command waits, other lines handed to the waiting command or parsed as status lines, bypass
// mode entered after the "-BypassMode-" line's LF and left at the last byte of "AT-AB" found
// anywhere in the bypass stream, whose text then starts the next line. Records what the real
// driver logs (cFuzzLogTap's events) and the frames it unframes.
class cRefModem {
 public:
  using Bytes = std::vector<unsigned char>;

  void feed(unsigned char byte);
  // A command starts or ends waiting; a reply handed to an earlier command is not its reply.
  void setPending(bool pending) {
    mPending = pending;
    mHasReply = false;
  }
  bool bypass() const { return mBypass; }

  std::vector<std::string> takeEvents();
  std::vector<Bytes> takeFrames();
  // The last line handed to the waiting command since the previous call, if any.
  bool takeReply(std::string& line);

  // Splits text (up to its first NUL) at runs of either separator.
  static std::vector<std::string> words(const std::string& text, char s1, char s2);

 private:
  void onCommandByte(unsigned char byte);
  void onLine(const std::string& line);
  void onStatus(const std::vector<std::string>& w);
  void onBypassByte(unsigned char byte);
  void event(const char* kind, const std::string& logged, size_t prefixLen);

  bool mBypass = false;
  bool mPending = false;
  std::string mLine;
  std::string mWindow;  // the last bypass bytes, up to five
  cRefUnframer mUnframer;
  std::vector<std::string> mEvents;
  std::vector<Bytes> mFrames;
  bool mHasReply = false;
  std::string mReply;
};
