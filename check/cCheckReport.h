#pragma once

#include <cstdio>
#include <string>

// The check mode's output: one entry per check, printed as it is made (a slow module answer
// shows where the check is). Text: "ok  ", "warn", "FAIL" or "skip", the part, what was found,
// and for a warning or a failure what to do, indented below. JSON: one object a line,
// {"part":"gpio","status":"fail","found":"...","fix":"..."}.
class cCheckReport {
 public:
  enum Status { kOk, kWarn, kFail, kSkip };

  explicit cCheckReport(bool json, FILE* out = stdout);

  void add(const char* part, Status status, const std::string& found,
           const std::string& fix = std::string());
  void ok(const char* part, const std::string& found) { add(part, kOk, found); }

  int failures() const { return mFailures; }
  int warnings() const { return mWarnings; }
  // The closing line of the text output (nothing in JSON).
  void summary();

  static std::string jsonString(const std::string& text);

 private:
  bool mJson;
  FILE* mOut;
  int mFailures;
  int mWarnings;
};
