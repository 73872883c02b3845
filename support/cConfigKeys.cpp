#include "support/cConfigKeys.h"

#include <algorithm>
#include <climits>
#include <vector>

// clang-format off
const cConfigKey cConfigKeys::kTable[] = {
  // name                     default         kind              min    max
  {"ferryd.io.pvxio",         "/dev/pvxio0",  cConfigKey::kText, 0,     0},
  {"ferryd.io.btpair",        "BT_PAIR",      cConfigKey::kText, 0,     0},
  {"ferryd.io.btreset",       "BT_RESET",     cConfigKey::kText, 0,     0},
  {"ferryd.io.btledr",        "LED_BT_RED",   cConfigKey::kText, 0,     0},
  {"ferryd.io.btledg",        "LED_BT_GREEN", cConfigKey::kText, 0,     0},
  {"ferryd.io.tty",           "/dev/ttyS5",   cConfigKey::kText, 0,     0},
  {"ferryd.io.segsize",       "256",          cConfigKey::kInt,  6,     1021},
  {"ferryd.io.btname",        "Bramblefox",   cConfigKey::kText, 0,     0},
  {"ferryd.io.trace",         "",             cConfigKey::kText, 0,     0},
  {"ferryd.io.tracesize",     "4194304",      cConfigKey::kInt,  65536, INT_MAX},
  {"zam.broker.host",         "localhost",    cConfigKey::kText, 0,     0},
  {"zam.broker.port",         "60010",        cConfigKey::kInt,  1,     65535},
  {"ferryd.stats.interval",   "600",          cConfigKey::kInt,  0,     INT_MAX},
};
// clang-format on

const int cConfigKeys::kCount = sizeof kTable / sizeof kTable[0];

namespace {

const char* const kLog4cppPrefix = "log4cpp.";

// Levenshtein distance, one row at a time.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      size_t change = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, change});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const cConfigKey* cConfigKeys::find(const std::string& name) {
  for (int i = 0; i < kCount; ++i) {
    if (name == kTable[i].name) return &kTable[i];
  }
  return nullptr;
}

bool cConfigKeys::known(const std::string& name) {
  return find(name) != nullptr || name.compare(0, 8, kLog4cppPrefix) == 0;
}

std::string cConfigKeys::suggest(const std::string& name) {
  const size_t kMaxEdits = 2;
  std::string best;
  size_t bestDistance = kMaxEdits + 1;
  for (int i = 0; i < kCount; ++i) {
    size_t d = editDistance(name, kTable[i].name);
    if (d < bestDistance) {
      bestDistance = d;
      best = kTable[i].name;
    }
  }
  return best;
}
