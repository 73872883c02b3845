#include "bench/demo/cDemoLeds.h"

#include <algorithm>

namespace cDemoLeds {

namespace {

enum { kDark = 0, kRed = 1, kGreen = 2, kBoth = 3 };

const char* const kColourNames[] = {"dark", "red", "green", "red+green"};

int colourOf(const cBenchLeds::cSample& s) {
  return (s.red ? kRed : 0) | (s.green ? kGreen : 0);
}

// The colour shown at the end of one tick (just before the next tick's read), since when it has
// been shown, and when the tick began (its read).
struct cTick {
  int colour;
  double since;
  double start;
};

std::vector<cTick> tickColours(const std::vector<cBenchLeds::cSample>& samples,
                               const std::vector<double>& reads) {
  std::vector<cTick> ticks;
  for (size_t k = 1; k < reads.size(); ++k) {
    auto end = std::lower_bound(samples.begin(), samples.end(), reads[k],
                                [](const cBenchLeds::cSample& s, double t) { return s.time < t; });
    if (end == samples.begin()) continue;
    size_t last = static_cast<size_t>(end - samples.begin()) - 1;
    int colour = colourOf(samples[last]);
    size_t first = last;
    while (first > 0 && colourOf(samples[first - 1]) == colour) --first;
    ticks.push_back({colour, samples[first].time, reads[k - 1]});
  }
  return ticks;
}

// What two consecutive ticks look like; empty when they show two different lit colours.
std::string pairView(int before, int after) {
  if (before == after) {
    return before == kDark ? "dark" : std::string(kColourNames[before]) + " steady";
  }
  if (before != kDark && after != kDark) return "";
  return std::string(kColourNames[before == kDark ? after : before]) + " blinking";
}

bool isBlinking(const std::string& view) {
  return view.find("blinking") != std::string::npos;
}

// Whether tick j shows something the view did not lead one to expect: a blinking light should
// alternate, a steady or dark one should stay as it is.
bool surprising(const std::string& view, const std::vector<cTick>& ticks, size_t j) {
  if (view.empty() || j == 0) return true;
  if (isBlinking(view)) return pairView(ticks[j - 1].colour, ticks[j].colour) != view;
  return pairView(ticks[j].colour, ticks[j].colour) != view;
}

// Whether the pairs of ticks ending at tick k agree on view, as many as it takes to tell it: two
// pairs for a steady or dark light, three for a blinking one (two lit ticks, so that a single
// flash is no blinking).
bool agreed(const std::vector<cTick>& ticks, size_t k, const std::string& view) {
  size_t pairs = isBlinking(view) ? 3 : 2;
  if (k < pairs) return false;
  for (size_t i = k + 1 - pairs; i <= k; ++i) {
    if (pairView(ticks[i - 1].colour, ticks[i].colour) != view) return false;
  }
  return true;
}

}  // namespace

std::vector<cChange> changes(const std::vector<cBenchLeds::cSample>& samples,
                             const std::vector<double>& tickReads) {
  std::vector<cTick> ticks = tickColours(samples, tickReads);
  std::vector<cChange> out;
  std::string shown;
  for (size_t k = 1; k < ticks.size(); ++k) {
    std::string view = pairView(ticks[k - 1].colour, ticks[k].colour);
    if (view.empty() || view == shown || !agreed(ticks, k, view)) continue;
    size_t j = k - (isBlinking(view) ? 3 : 2);
    while (j < k && !surprising(shown, ticks, j)) ++j;
    // The first view dates from the first LED write; later ones from when they could be told.
    double time = shown.empty() ? ticks[j].since : std::max(ticks[j].since, ticks[j].start);
    out.push_back({time, view});
    shown = view;
  }
  return out;
}

std::string lamps(int red, int green) {
  return std::string("red ") + (red == 1 ? "●" : "○") + " green " + (green == 1 ? "●" : "○");
}

}  // namespace cDemoLeds
