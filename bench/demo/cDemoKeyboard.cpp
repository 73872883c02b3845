#include "bench/demo/cDemoKeyboard.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "bench/cBench.h"
#include "bench/cBenchWire.h"
#include "bench/demo/cDemoLeds.h"
#include "bench/demo/cDemoOut.h"
#include "bench/demo/cDemoText.h"
#include "bench/demo/cDemoWatch.h"

namespace {

const size_t kDefaultBytes = 600;
const size_t kMaxBytes = 65535;  // the largest message the wire format carries
const int kPeerSegSize = 256;

}  // namespace

cDemoKeyboard::cDemoKeyboard(cBench& bench, cDemoWatch& watch) : mBench(bench), mWatch(watch) {}

void cDemoKeyboard::help() {
  cDemoOut::print(
      "commands, one a line:  p press / r release the pairing button,  b the peer bonds,\n"
      "  c the peer connects,  d the peer leaves,  n [bytes] message from the peer,\n"
      "  s [bytes] message from the broker,  l LEDs and link state,  h help,  q quit\n");
}

bool cDemoKeyboard::run(std::istream& in) {
  std::string line;
  while (std::getline(in, line)) {
    if (!dispatch(line)) return true;
  }
  return false;
}

bool cDemoKeyboard::dispatch(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return true;
  long bytes = static_cast<long>(kDefaultBytes);
  words >> bytes;
  if (bytes < 0 || bytes > static_cast<long>(kMaxBytes)) {
    cDemoOut::print("a message holds 0 to %zu bytes\n", kMaxBytes);
    return true;
  }
  switch (command.size() == 1 ? command[0] : '?') {
    case 'p':
      mWatch.note("button", "pressed and held");
      mBench.gpio().press();
      break;
    case 'r':
      mWatch.note("button", "released");
      mBench.gpio().release();
      break;
    case 'b':
      mWatch.note("module", "-> AT-AB BondOk   (the peer has bonded)");
      mBench.module().sendLine("AT-AB BondOk");
      break;
    case 'c':
      connect();
      break;
    case 'd':
      disconnect();
      break;
    case 'n':
      sendNorth(static_cast<size_t>(bytes));
      break;
    case 's':
      sendSouth(static_cast<size_t>(bytes));
      break;
    case 'l':
      status();
      break;
    case 'q':
      mWatch.note("demo", "quit");
      return false;
    default:
      help();
      break;
  }
  return true;
}

void cDemoKeyboard::connect() {
  if (mBench.module().inBypass()) {
    cDemoOut::print("the peer is connected already\n");
    return;
  }
  mWatch.note("module", "-> AT-AB -BypassMode-   (the peer has connected: bypass mode)");
  mBench.module().enterBypass();
}

void cDemoKeyboard::disconnect() {
  if (!mBench.module().inBypass()) {
    cDemoOut::print("the peer is not connected (c connects it)\n");
    return;
  }
  mWatch.note("module", "-> AT-AB -CommandMode-   (the peer has left)");
  mBench.module().leaveBypass();
}

void cDemoKeyboard::sendNorth(size_t bytes) {
  if (!mBench.module().inBypass()) {
    cDemoOut::print("the peer is not connected (c connects it)\n");
    return;
  }
  int id = nextId();
  std::vector<uint8_t> payload = cBenchWire::payload(bytes, id);
  size_t frames = cBenchWire::segments(id, payload, kPeerSegSize).size();
  mWatch.note("peer", "sends message " + std::to_string(id) + ": " + std::to_string(bytes) +
                          " bytes in " + cDemoText::count(frames, "frame"));
  mBench.module().sendMessage(id, payload, kPeerSegSize);
}

void cDemoKeyboard::sendSouth(size_t bytes) {
  if (!mBench.broker().waitForPeer(0)) {
    cDemoOut::print("the daemon's north link has not reached the broker yet\n");
    return;
  }
  int id = nextId();
  mWatch.note("broker",
              "sends message " + std::to_string(id) + ": " + std::to_string(bytes) + " bytes");
  mBench.broker().sendMessage(id, cBenchWire::payload(bytes, id));
}

void cDemoKeyboard::status() {
  cSimGpio& gpio = mBench.gpio();
  int red = gpio.value(gpio.pinId("LED_BT_RED"));
  int green = gpio.value(gpio.pinId("LED_BT_GREEN"));
  bool held = gpio.value(gpio.pinId(cSimGpio::kButtonName)) == 0;
  std::string view = mWatch.ledView();
  mWatch.note("status", "LEDs " + (view.empty() ? std::string("not certain yet") : view) +
                            " (now " + cDemoLeds::lamps(red, green) + "), link " +
                            mWatch.linkState() + ", module in " +
                            (mBench.module().inBypass() ? "bypass" : "command") + " mode, button " +
                            (held ? "held" : "up"));
}

int cDemoKeyboard::nextId() {
  mId = mId % 127 + 1;  // 7-bit ids, 1 to 127
  return mId;
}
