#include "tests/io/cIOTestBoard.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "io/cIO.h"

cIOTestBoard::cIOTestBoard(std::vector<cSimPin> pins, const std::string& extraConfig)
    : sim(std::move(pins)) {
  char name[] = "/tmp/ferryd-io-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  mPath = name;
  // Later duplicates win, so extraConfig may override the device path.
  std::ofstream(mPath) << "ferryd.io.pvxio = " << sim.devPath() << "\n" << extraConfig << "\n";
  props.load(mPath.c_str());
}

cIOTestBoard::~cIOTestBoard() {
  unlink(mPath.c_str());
}

std::vector<std::pair<int, int>> cIOTestBoard::leds(int red, int green) const {
  return {{sim.pinId("LED_BT_RED"), red}, {sim.pinId("LED_BT_GREEN"), green}};
}

std::vector<std::pair<int, int>> records(const std::vector<cSimGpio::cWrite>& call) {
  std::vector<std::pair<int, int>> out;
  for (const cSimGpio::cWrite& w : call) out.push_back({w.pin, w.value});
  return out;
}

std::vector<std::vector<std::pair<int, int>>> cIOTestBoard::writes() const {
  std::vector<std::vector<std::pair<int, int>>> out;
  for (const auto& call : sim.writes()) out.push_back(records(call));
  return out;
}

std::pair<int, int> cIOTestBoard::quickTick() {
  sim.raiseInputReady();
  size_t before = sim.writes().size();
  cIO::tick();
  auto all = sim.writes();
  if (all.size() != before + 1 || all.back().size() != 2) return {-1, -1};
  const auto& call = all.back();
  if (call[0].pin != sim.pinId("LED_BT_RED") || call[1].pin != sim.pinId("LED_BT_GREEN")) {
    return {-1, -1};
  }
  return {call[0].value, call[1].value};
}
