#pragma once

#include <string>
#include <vector>

#include "bench/cSimGpio.h"
#include "support/cProperties.h"

// A simulated GPIO device and a loaded configuration that points the board I/O at it. The test
// program runs under the umockdev preload (in-process device).
class cIOTestBoard {
 public:
  explicit cIOTestBoard(std::vector<cSimPin> pins = cSimGpio::defaultPins(),
                        const std::string& extraConfig = "");
  ~cIOTestBoard();

  // The records of one LED update: red first, then green.
  std::vector<std::pair<int, int>> leds(int red, int green) const;
  // The records of every write call so far, as {pin, value} pairs.
  std::vector<std::vector<std::pair<int, int>>> writes() const;
  // Runs one tick that the device wakes at once, and returns the LED values it wrote.
  std::pair<int, int> quickTick();

  cSimGpio sim;
  cProperties props;

 private:
  std::string mPath;
};

// The records of one write call as {pin, value} pairs.
std::vector<std::pair<int, int>> records(const std::vector<cSimGpio::cWrite>& call);
