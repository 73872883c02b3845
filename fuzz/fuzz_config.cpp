// The configuration file and the tokenizer. Input: two separator bytes, then the text of a
// configuration file. cProperties::load reads the text from a memory-backed file and must hold
// exactly what the file's rules give (key = value, trimmed, '#' comments and blank lines
// skipped, lines without a key skipped, the later duplicate wins), with getInt accepting only
// whole decimal ints. Every line of the text is also split by cArgParser with the two
// separators and must give exactly the runs of non-separator characters, in place.
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/cFuzzCheck.h"
#include "support/cArgParser.h"
#include "support/cProperties.h"

namespace {

const char kBlanks[] = " \t\r\n\f\v";

std::string trim(const std::string& s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// The file's lines as getline gives them (LF kept off), each read as C text: a NUL ends the
// line's text.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    size_t end = lf == std::string::npos ? text.size() : lf;
    std::string line = text.substr(start, end - start);
    lines.push_back(line.substr(0, line.find('\0')));
    start = end + 1;
  }
  return lines;
}

std::map<std::string, std::string> expectedKeys(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> keys;
  for (const std::string& raw : lines) {
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(line.substr(0, eq));
    if (!key.empty()) keys[key] = trim(line.substr(eq + 1));
  }
  return keys;
}

// A whole decimal int: an optional sign, then digits only, within int's range.
bool wholeInt(const std::string& s, int& value) {
  size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (i == s.size()) return false;
  long long v = 0;
  for (size_t k = i; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    v = v * 10 + (s[k] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (s[0] == '-') v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

// A memory-backed file the configuration is read from, through its /proc/self/fd path.
class cMemFile {
 public:
  cMemFile() : mFd(memfd_create("ferryd-fuzz.conf", 0)) {
    FUZZ_CHECK(mFd >= 0);
    std::snprintf(mPath, sizeof mPath, "/proc/self/fd/%d", mFd);
  }
  const char* write(const std::string& text) {
    FUZZ_CHECK(ftruncate(mFd, 0) == 0);
    FUZZ_CHECK(pwrite(mFd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
    return mPath;
  }

 private:
  int mFd;
  char mPath[64];
};

void checkConfig(const std::string& text, const std::vector<std::string>& lines) {
  static cMemFile file;
  cProperties props;
  FUZZ_CHECK(props.load(file.write(text)) == 0);
  std::map<std::string, std::string> keys = expectedKeys(lines);
  const char* const kDefault = "default";
  for (const auto& kv : keys) {
    const char* got = props.getString(kv.first.c_str(), kDefault);
    FUZZ_CHECK(got != kDefault && kv.second == got);
    FUZZ_CHECK(props.getString(kv.first.c_str(), nullptr) == got);  // the same stored text
    int want = 0;
    bool isInt = wholeInt(kv.second, want);
    int value = props.getInt(kv.first.c_str(), -7);
    FUZZ_CHECK(value == (isInt ? want : -7));
  }
  // Any other text asked for as a key gives the caller's default back.
  for (const std::string& line : lines) {
    for (const std::string& probe : {line, trim(line)}) {
      if (keys.count(probe)) continue;
      FUZZ_CHECK(props.getString(probe.c_str(), kDefault) == kDefault);
      FUZZ_CHECK(props.getInt(probe.c_str(), 42) == 42);
    }
  }
}

// The runs of characters that are neither separator.
std::vector<std::string> expectedTokens(const std::string& line, char s1, char s2) {
  std::vector<std::string> tokens;
  std::string cur;
  for (char c : line) {
    if (c == s1 || c == s2) {
      if (!cur.empty()) tokens.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) tokens.push_back(cur);
  return tokens;
}

void checkTokens(const std::string& line, char s1, char s2) {
  // An exact-size heap copy: ASan sees a read or write past the terminator.
  std::unique_ptr<char[]> copy(new char[line.size() + 1]);
  std::memcpy(copy.get(), line.c_str(), line.size() + 1);
  char** list = cArgParser::parseList(copy.get(), s1, s2);
  std::vector<std::string> want = expectedTokens(line, s1, s2);
  FUZZ_CHECK(cArgParser::argCnt(list) == static_cast<int>(want.size()));
  FUZZ_CHECK((list == nullptr) == want.empty());
  for (size_t i = 0; i < want.size(); ++i) {
    FUZZ_CHECK(list[i] >= copy.get() && list[i] < copy.get() + line.size());
    FUZZ_CHECK(want[i] == list[i]);
  }
  if (list != nullptr) FUZZ_CHECK(list[want.size()] == nullptr);
  delete[] list;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzQuietLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  char s1 = static_cast<char>(data[0]), s2 = static_cast<char>(data[1]);
  std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::vector<std::string> lines = linesOf(text);
  checkConfig(text, lines);
  for (const std::string& line : lines) checkTokens(line, s1, s2);
  FUZZ_CHECK(cArgParser::argCnt(nullptr) == 0);
  return 0;
}
