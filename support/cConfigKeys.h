#pragma once

#include <string>

// The configuration keys the daemon reads, with their defaults and the ranges of the integer
// keys: what the start-up warning and the check mode hold a file against. log4cpp's own
// "log4cpp.*" keys are known as a family.
struct cConfigKey {
  enum Kind { kText, kInt };
  const char* name;
  const char* defaultValue;
  Kind kind;
  int min;  // integer keys: the smallest and largest value the daemon takes
  int max;
};

namespace cConfigKeys {

extern const cConfigKey kTable[];
extern const int kCount;

// The row of a key the daemon reads, or null.
const cConfigKey* find(const std::string& name);
// True for a key of the table and for log4cpp's own keys.
bool known(const std::string& name);
// The known key closest to an unknown one (a typo: at most two edits away), or empty.
std::string suggest(const std::string& name);

}  // namespace cConfigKeys
