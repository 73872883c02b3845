#pragma once

// Where code shared with libferry sends its log lines. The daemon's components pass themselves
// (cYlog is a sink that writes to log4cpp); libferry passes a sink that keeps the line for its
// caller, so the shared code needs no logging library.
class cLogSink {
 public:
  virtual ~cLogSink() = default;
  virtual void warnLine(const char* line) const = 0;
  virtual void errorLine(const char* line) const = 0;
};
