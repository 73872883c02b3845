#include "support/cProperties.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/cConfigKeys.h"

namespace {

std::string trim(const std::string& s) {
  const char* blanks = " \t\r\n\f\v";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

// Opens path for reading; a directory counts as not openable (errno EISDIR).
FILE* openRegular(const char* path) {
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return nullptr;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    errno = EISDIR;
    return nullptr;
  }
  return f;
}

}  // namespace

cProperties::cProperties() : cYlog("cProperties") {}

int cProperties::load(const char* path) {
  if (path == nullptr) {
    mProblem = "no configuration file given";
    warn("No configuration file given: using defaults");
    return -1;
  }
  mPath = path;
  FILE* f = openRegular(path);
  if (f == nullptr) {
    int err = errno;
    mProblem = std::string("could not be opened (") + std::strerror(err) + ")";
    warn("Configuration file %s could not be opened (%s): using defaults", path,
         std::strerror(err));
    return -1;
  }
  char* raw = nullptr;
  size_t rawSize = 0;
  int lineNo = 0;
  int& malformed = mMalformedCount;
  while (getline(&raw, &rawSize, f) != -1) {
    ++lineNo;
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : trim(line.substr(0, eq));
    if (key.empty()) {
      if (++malformed <= kMalformedReported) {
        mMalformed.push_back(lineNo);
        warn("%s:%d: malformed line skipped (expected key = value)", path, lineNo);
      }
      continue;
    }
    mValues[key] = trim(line.substr(eq + 1));
    mLines[key] = lineNo;
  }
  int readError = std::ferror(f) ? (errno != 0 ? errno : EIO) : 0;
  std::free(raw);
  std::fclose(f);
  if (malformed > kMalformedReported) {
    warn("%s: %d further malformed lines skipped (%d in all)", path, malformed - kMalformedReported,
         malformed);
  }
  if (readError != 0) {
    mProblem = "could not be read after line " + std::to_string(lineNo) + " (" +
               std::strerror(readError) + ")";
    warn(
        "Configuration file %s could not be read after line %d (%s): %zu keys read before it, "
        "defaults for the rest",
        path, lineNo, std::strerror(readError), mValues.size());
    return -1;
  }
  info("Configuration read from %s (%zu keys)", path, mValues.size());
  return 0;
}

const char* cProperties::getString(const char* key, const char* defaultValue) const {
  if (key == nullptr) return defaultValue;
  auto it = mValues.find(key);
  return it == mValues.end() ? defaultValue : it->second.c_str();
}

int cProperties::getInt(const char* key, int defaultValue) const {
  const char* text = getString(key, nullptr);
  if (text == nullptr) return defaultValue;
  int value = 0;
  if (!parseInt(text, &value)) {
    warn("%s%sKey %s: value \"%s\" is not a whole decimal int, using default %d", mPath.c_str(),
         mPath.empty() ? "" : ": ", key, text, defaultValue);
    return defaultValue;
  }
  return value;
}

bool cProperties::parseInt(const char* text, int* value) {
  // Values are stored trimmed, so strtol's skipping of leading blanks never applies.
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  bool whole = end != text && *end == '\0';
  if (!whole || errno == ERANGE || n < INT_MIN || n > INT_MAX) return false;
  *value = static_cast<int>(n);
  return true;
}

int cProperties::lineOf(const std::string& key) const {
  auto it = mLines.find(key);
  return it == mLines.end() ? 0 : it->second;
}

// A binary file can hold hundreds of "keys": after kMalformedReported the rest are counted.
void cProperties::warnUnknownKeys() const {
  int unknown = 0;
  for (const auto& kv : mValues) {
    if (cConfigKeys::known(kv.first) || ++unknown > kMalformedReported) continue;
    std::string guess = cConfigKeys::suggest(kv.first);
    warn("%s:%d: unknown key %s ignored%s%s%s", mPath.c_str(), lineOf(kv.first), kv.first.c_str(),
         guess.empty() ? "" : "; did you mean ", guess.c_str(), guess.empty() ? "" : "?");
  }
  if (unknown > kMalformedReported) {
    warn("%s: %d further unknown keys ignored (%d in all)", mPath.c_str(),
         unknown - kMalformedReported, unknown);
  }
}
