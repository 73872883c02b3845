#include "fuzz/cRefModem.h"

namespace {

const char kEscape[] = "AT-AB";
constexpr size_t kMaxLine = 1023;
constexpr size_t kMaxLogLine = 1023;  // the log cuts longer lines

struct cStatus {
  const char* keyword;
  const char* logLine;
};
const cStatus kStatus[] = {{"BDAddress", "BDAddress URC"},
                           {"-BypassMode-", "BypassMode Enabled URC"},
                           {"ConnectionDown", "Connection Down URC"},
                           {"-CommandMode-", "Command Mode URC"},
                           {"BondOk", "Bond Ok (pairing) URC"}};

const cStatus* statusOf(const std::vector<std::string>& w) {
  if (w.size() < 2 || w[0] != kEscape) return nullptr;
  for (const cStatus& s : kStatus)
    if (w[1] == s.keyword) return &s;
  return nullptr;
}

std::string cText(const std::string& s) {
  return s.substr(0, s.find('\0'));
}

}  // namespace

std::vector<std::string> cRefModem::words(const std::string& text, char s1, char s2) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : cText(text)) {
    if (c != s1 && c != s2) {
      cur += c;
      continue;
    }
    if (!cur.empty()) out.push_back(cur);
    cur.clear();
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// An event as the log shows it: the whole log line cut to its limit, then the prefix taken off.
void cRefModem::event(const char* kind, const std::string& logged, size_t prefixLen) {
  mEvents.push_back(std::string(kind) + logged.substr(0, kMaxLogLine).substr(prefixLen));
}

void cRefModem::feed(unsigned char byte) {
  if (mBypass)
    onBypassByte(byte);
  else
    onCommandByte(byte);
}

void cRefModem::onCommandByte(unsigned char byte) {
  if (byte == '\n') {
    std::string line;
    line.swap(mLine);
    onLine(line);
  } else if (byte != '\r' && mLine.size() < kMaxLine) {
    mLine += static_cast<char>(byte);
  }
}

void cRefModem::onLine(const std::string& line) {
  event("L:", "Received: " + cText(line), 10);
  std::vector<std::string> w = words(line, ' ', ' ');
  if (statusOf(w) == nullptr && mPending) {
    event("C:", "cmdH: " + cText(line) + "\n", 6);
    mReply = line;
    mHasReply = true;
    return;
  }
  onStatus(w);
}

void cRefModem::onStatus(const std::vector<std::string>& w) {
  const cStatus* s = statusOf(w);
  if (s == nullptr) return;
  event("U:", s->logLine, 0);
  std::string keyword = s->keyword;
  if (keyword == "-BypassMode-") {
    mBypass = true;
    mUnframer.reset();
    mWindow.clear();
  } else if (keyword == "ConnectionDown") {
    mBypass = false;
  }
}

void cRefModem::onBypassByte(unsigned char byte) {
  Bytes frame;
  if (mUnframer.feed(byte, frame)) mFrames.push_back(frame);
  mWindow += static_cast<char>(byte);
  if (mWindow.size() > 5) mWindow.erase(0, 1);
  if (mWindow != kEscape) return;
  event("B:", "", 0);
  mBypass = false;
  mUnframer.reset();
  mWindow.clear();
  mLine = kEscape;
}

std::vector<std::string> cRefModem::takeEvents() {
  std::vector<std::string> out;
  out.swap(mEvents);
  return out;
}

std::vector<cRefModem::Bytes> cRefModem::takeFrames() {
  std::vector<Bytes> out;
  out.swap(mFrames);
  return out;
}

bool cRefModem::takeReply(std::string& line) {
  if (!mHasReply) return false;
  line = mReply;
  mHasReply = false;
  return true;
}
