#pragma once

#include <string>
#include <vector>

// Keeps the receive path's observable log lines (the lines it received, the lines it handed to
// a command, the status lines it acted on, the bypass escape) as events, in order, so a fuzz
// target can compare them with a model. Installed as the root category's only appender.
class cFuzzLogTap {
 public:
  static cFuzzLogTap& install();

  // Events since the last take(), each "<kind>:<text>" (see the .cpp for the kinds).
  std::vector<std::string> take();
  void add(const std::string& category, const std::string& message);

 private:
  cFuzzLogTap() = default;
  std::vector<std::string> mEvents;
};
