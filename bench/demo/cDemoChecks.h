#pragma once

#include <string>
#include <vector>

// The demo's expectations, each checked against what the simulators and the daemon's log showed.
class cDemoChecks {
 public:
  // Records one expectation; detail says what was seen (printed when it failed).
  void expect(const std::string& what, bool passed, const std::string& detail = "");
  int failed() const;
  int size() const { return static_cast<int>(mChecks.size()); }
  // The checklist, one line each: "passed" or "FAILED", and the detail of every failure.
  void print() const;

 private:
  struct cCheck {
    std::string what;
    bool passed;
    std::string detail;
  };
  std::vector<cCheck> mChecks;
};
