#pragma once

#include <map>
#include <string>

#include "support/cYlog.h"

// Configuration store: "key = value" lines, '#' comments and blank lines ignored, whitespace
// around key and value trimmed, the later of two duplicate keys wins. Read-only after load(), so
// several threads may read it at once.
class cProperties : public cYlog {
 public:
  // The file the daemon reads when it is given none.
  static constexpr const char* kDefaultPath = "/etc/qmx/ferryd.conf";

  cProperties();

  // Returns 0 when the file was read, -1 when it could not be opened or read to its end (the
  // keys before a read error are kept). A malformed line is reported with file and line number
  // and skipped; after kMalformedReported of them the rest are counted in one line at the end.
  int load(const char* path);

  static constexpr int kMalformedReported = 5;

  // The returned text stays valid and unchanged as long as the store.
  const char* getString(const char* key, const char* defaultValue) const;
  // A value that is not a whole decimal int is reported (key and value) and gives the default.
  int getInt(const char* key, int defaultValue) const;

  const std::string& path() const { return mPath; }

 private:
  std::map<std::string, std::string> mValues;
  std::string mPath;
};
