#pragma once

#include <string>
#include <vector>

class cSimGpio;

// The two Bluetooth LEDs as the simulated GPIO device saw them written, and what a person would
// make of them over a stretch of time.
namespace cBenchLeds {

// The LED values after one write call that touched a LED (times: CLOCK_MONOTONIC of this
// process).
struct cSample {
  double time;
  int red;
  int green;
};

std::vector<cSample> samples(const cSimGpio& gpio, const std::string& redName = "LED_BT_RED",
                             const std::string& greenName = "LED_BT_GREEN");

// "dark", "red steady", "red blinking", "green steady", "green blinking", "mixed" (anything
// else) or "none" (no write) for the samples with from <= time < to.
std::string view(const std::vector<cSample>& samples, double from, double to);

}  // namespace cBenchLeds
