#pragma once

#include <map>
#include <string>
#include <vector>

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

  // Warns once for every key of the file that the daemon does not read (log4cpp's own keys
  // apart), with the known key it most likely meant.
  void warnUnknownKeys() const;

  // What load() found, for the check mode: the keys of the file with their values and line
  // numbers (of the line that won), the line numbers of the first kMalformedReported malformed
  // lines and their count, and why the file could not be read (empty when it was).
  const std::map<std::string, std::string>& values() const { return mValues; }
  int lineOf(const std::string& key) const;
  const std::vector<int>& malformedLines() const { return mMalformed; }
  int malformedCount() const { return mMalformedCount; }
  const std::string& loadProblem() const { return mProblem; }

  // The rule of getInt: true when text is a whole decimal int, stored in *value.
  static bool parseInt(const char* text, int* value);

 private:
  std::map<std::string, std::string> mValues;
  std::map<std::string, int> mLines;
  std::vector<int> mMalformed;
  int mMalformedCount = 0;
  std::string mProblem;
  std::string mPath;
};
