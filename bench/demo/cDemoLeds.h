#pragma once

#include <string>
#include <vector>

#include "bench/cBenchLeds.h"

// The two Bluetooth LEDs as a person at the board sees them: "dark", "red steady", "red blinking",
// "green steady", "green blinking" (or "red+green ..." should both ever be lit together).
//
// The view is judged tick by tick of the daemon's board clock (one LED rewrite a second, blinking
// toggles at each), not by wall time: a late tick on a busy machine then cannot pass for a steady
// light. Changes the daemon makes within a tick and undoes before the tick's end are not seen.
namespace cDemoLeds {

struct cChange {
  double time;       // when a person could first tell (CLOCK_MONOTONIC seconds of this process)
  std::string view;  // see above
};

// The view changes from the LED writes and the times of the board's tick reads (one per tick).
// A view counts once two consecutive pairs of ticks agree on it; its time goes back to the tick in
// which the LEDs first did what the view before would not have done (to the LED write itself when
// that came within the tick). Only complete ticks are used, so a change once reported stays as it
// is when more ticks come.
std::vector<cChange> changes(const std::vector<cBenchLeds::cSample>& samples,
                             const std::vector<double>& tickReads);

// "red ● green ○" for LED values (1 lit).
std::string lamps(int red, int green);

}  // namespace cDemoLeds
