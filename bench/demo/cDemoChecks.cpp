#include "bench/demo/cDemoChecks.h"

#include "bench/demo/cDemoOut.h"

void cDemoChecks::expect(const std::string& what, bool passed, const std::string& detail) {
  mChecks.push_back({what, passed, detail});
}

int cDemoChecks::failed() const {
  int n = 0;
  for (const cCheck& c : mChecks) n += c.passed ? 0 : 1;
  return n;
}

void cDemoChecks::print() const {
  for (const cCheck& c : mChecks) {
    cDemoOut::print("  [%s] %s\n", c.passed ? "passed" : "FAILED", c.what.c_str());
    if (!c.passed && !c.detail.empty()) cDemoOut::print("           seen: %s\n", c.detail.c_str());
  }
}
