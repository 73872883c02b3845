#include "check/cCheckConfig.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "check/cCheckContext.h"

namespace {

const char* const kPart = "config";
// A binary file can make hundreds of unknown keys: the rest are counted in one line.
const int kUnknownShown = 10;

std::string where(const cCheckContext& c, const std::string& key) {
  int line = c.props->lineOf(key);
  if (line == 0) return "default";
  return c.props->path() + ":" + std::to_string(line);
}

void checkFile(cCheckContext& c) {
  const std::string& path = c.props->path();
  const std::string& problem = c.props->loadProblem();
  if (problem.empty()) {
    c.report->ok(kPart, path + ": read, " + std::to_string(c.props->values().size()) + " keys");
  } else if (struct stat st; stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    c.report->add(kPart, cCheckReport::kWarn, path + ": " + problem + "; every key at its default",
                  "write the file (the package installs one at /etc/qmx/ferryd.conf), or name "
                  "the right one");
  } else {
    c.report->add(kPart, cCheckReport::kFail, path + ": " + problem,
                  "make the file readable by the service's user");
  }
}

void checkKey(cCheckContext& c, const cConfigKey& key) {
  std::string value = c.value(key.name);
  std::string shown = value.empty() ? "\"\"" : value;
  std::string line = std::string(key.name) + " = " + shown + " (" + where(c, key.name) + ")";
  int n = 0;
  if (key.kind == cConfigKey::kText ||
      (cProperties::parseInt(value.c_str(), &n) && n >= key.min && n <= key.max)) {
    c.report->ok(kPart, line);
    return;
  }
  std::string range = std::to_string(key.min) + " to " + std::to_string(key.max);
  bool number = cProperties::parseInt(value.c_str(), &n);
  c.report->add(kPart, cCheckReport::kFail,
                line + ": " + (number ? "outside " + range : "not a whole decimal number") +
                    "; the daemon does not use it",
                "set a whole number from " + range + " (default " + key.defaultValue + ")");
}

void checkLines(cCheckContext& c) {
  for (int line : c.props->malformedLines()) {
    c.report->add(kPart, cCheckReport::kFail,
                  c.props->path() + ":" + std::to_string(line) + ": not a key = value line",
                  "write it as key = value, or start it with # to keep it as a comment");
  }
  int more = c.props->malformedCount() - static_cast<int>(c.props->malformedLines().size());
  if (more > 0) {
    c.report->add(
        kPart, cCheckReport::kFail,
        c.props->path() + ": " + std::to_string(more) + " more lines that are not key = value",
        "is it the right file?");
  }
}

void checkUnknown(cCheckContext& c) {
  int unknown = 0;
  int log4cpp = 0;
  for (const auto& kv : c.props->values()) {
    if (cConfigKeys::find(kv.first) != nullptr) continue;
    if (cConfigKeys::known(kv.first)) {
      ++log4cpp;
      continue;
    }
    if (++unknown > kUnknownShown) continue;
    std::string guess = cConfigKeys::suggest(kv.first);
    c.report->add(kPart, cCheckReport::kWarn,
                  kv.first + ": unknown key, ignored (" + where(c, kv.first) + ")",
                  guess.empty() ? "remove it; etc/ferryd.conf lists every key"
                                : "did you mean " + guess + "?");
  }
  if (unknown > kUnknownShown) {
    c.report->add(kPart, cCheckReport::kWarn,
                  std::to_string(unknown - kUnknownShown) + " more unknown keys, ignored",
                  "is it the right file?");
  }
  if (log4cpp > 0) {
    c.report->ok(kPart, std::to_string(log4cpp) + " log4cpp.* keys (logging)");
  }
}

}  // namespace

void cCheckConfig::run(cCheckContext& c) {
  checkFile(c);
  for (int i = 0; i < cConfigKeys::kCount; ++i) checkKey(c, cConfigKeys::kTable[i]);
  checkLines(c);
  checkUnknown(c);
}
