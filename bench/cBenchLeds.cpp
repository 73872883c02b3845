#include "bench/cBenchLeds.h"

#include "bench/cSimGpio.h"

namespace cBenchLeds {

std::vector<cSample> samples(const cSimGpio& gpio, const std::string& redName,
                             const std::string& greenName) {
  const uint16_t red = gpio.pinId(redName);
  const uint16_t green = gpio.pinId(greenName);
  std::vector<cSample> out;
  cSample now{0, 0, 0};
  for (const auto& call : gpio.writes()) {
    bool touched = false;
    for (const auto& record : call) {
      now.time = record.time;
      if (record.pin == red) now.red = record.value, touched = true;
      if (record.pin == green) now.green = record.value, touched = true;
    }
    if (touched) out.push_back(now);
  }
  return out;
}

std::string view(const std::vector<cSample>& samples, double from, double to) {
  bool dark = false, red = false, green = false, both = false;
  for (const cSample& s : samples) {
    if (s.time < from || s.time >= to) continue;
    if (s.red && s.green) {
      both = true;
    } else if (s.red) {
      red = true;
    } else if (s.green) {
      green = true;
    } else {
      dark = true;
    }
  }
  if (both || (red && green)) return "mixed";
  if (red) return dark ? "red blinking" : "red steady";
  if (green) return dark ? "green blinking" : "green steady";
  return dark ? "dark" : "none";
}

}  // namespace cBenchLeds
