#include "support/cProperties.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    warn("No configuration file given: using defaults");
    return -1;
  }
  mPath = path;
  FILE* f = openRegular(path);
  if (f == nullptr) {
    warn("Configuration file %s could not be opened (%s): using defaults", path,
         std::strerror(errno));
    return -1;
  }
  char* raw = nullptr;
  size_t rawSize = 0;
  int lineNo = 0;
  int malformed = 0;
  while (getline(&raw, &rawSize, f) != -1) {
    ++lineNo;
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : trim(line.substr(0, eq));
    if (key.empty()) {
      if (++malformed <= kMalformedReported)
        warn("%s:%d: malformed line skipped (expected key = value)", path, lineNo);
      continue;
    }
    mValues[key] = trim(line.substr(eq + 1));
  }
  int readError = std::ferror(f) ? (errno != 0 ? errno : EIO) : 0;
  std::free(raw);
  std::fclose(f);
  if (malformed > kMalformedReported) {
    warn("%s: %d further malformed lines skipped (%d in all)", path, malformed - kMalformedReported,
         malformed);
  }
  if (readError != 0) {
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
  // Values are stored trimmed, so strtol's skipping of leading blanks never applies.
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  bool whole = end != text && *end == '\0';
  if (!whole || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
    warn("%s%sKey %s: value \"%s\" is not a whole decimal int, using default %d", mPath.c_str(),
         mPath.empty() ? "" : ": ", key, text, defaultValue);
    return defaultValue;
  }
  return static_cast<int>(value);
}
