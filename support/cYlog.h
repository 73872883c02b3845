#pragma once

#include <cstdarg>

#include "support/cLogSink.h"

namespace log4cpp {
class Category;
}

// Logging base class of every component. Each object carries one log4cpp category; the log
// methods take printf-style formats and format nothing when their level is disabled.
class cYlog : public cLogSink {
 public:
  // Configures log4cpp from the daemon's configuration file (its "log4cpp.*" keys). A missing
  // file, or one without log4cpp keys, gives root at INFO to stderr. Never throws.
  static void init(const char* configPath);

  explicit cYlog(const char* category);

  void debug(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
  void info(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
  void warn(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
  void error(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
  // Logs at fatal level and returns: it does not end the process.
  void fatal(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

  bool isDebugEnabled() const;

  void warnLine(const char* line) const override { warn("%s", line); }
  void errorLine(const char* line) const override { error("%s", line); }

 private:
  void logv(int priority, const char* fmt, va_list args) const;

  log4cpp::Category* mCategory;
};
