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
      "  c the peer connects,  d the peer leaves,  n [bytes | text] message from the peer,\n"
      "  s [bytes | text] message from the broker,  l LEDs and link state,  h help,  q quit\n");
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
  std::string arg;
  std::getline(words, arg);
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
    case 's':
      sendMessage(command[0] == 'n', arg);
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

bool cDemoKeyboard::parseMessageArg(const std::string& arg, cMessageArg* out,
                                    std::string* problem) {
  size_t first = arg.find_first_not_of(" \t");
  std::string text =
      first == std::string::npos ? "" : arg.substr(first, arg.find_last_not_of(" \t") + 1 - first);
  *out = cMessageArg();
  if (text.empty()) {
    out->bytes = kDefaultBytes;
    return true;
  }
  // One word of digits is a byte count; with a sign it is a count too, if a wrong one.
  size_t at = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (text.size() > at && text.find_first_not_of("0123456789", at) == std::string::npos) {
    unsigned long n =
        text.size() - at <= 5 ? std::strtoul(text.c_str() + at, nullptr, 10) : kMaxBytes + 1;
    if (text[0] == '-' || n > kMaxBytes) {
      *problem = "a message holds 0 to " + std::to_string(kMaxBytes) + " bytes";
      return false;
    }
    out->bytes = n;
    return true;
  }
  if (text.size() > kMaxBytes) {
    *problem = "a message holds at most " + std::to_string(kMaxBytes) + " bytes";
    return false;
  }
  out->isText = true;
  out->text = text;
  return true;
}

void cDemoKeyboard::sendMessage(bool north, const std::string& arg) {
  cMessageArg m;
  std::string problem;
  if (!parseMessageArg(arg, &m, &problem)) {
    cDemoOut::print("%s\n", problem.c_str());
    return;
  }
  if (north && !mBench.module().inBypass()) {
    cDemoOut::print("the peer is not connected (c connects it)\n");
    return;
  }
  if (!north && !mBench.broker().waitForPeer(0)) {
    cDemoOut::print("the daemon's north link has not reached the broker yet\n");
    return;
  }
  int id = nextId();
  std::vector<uint8_t> payload = m.isText ? std::vector<uint8_t>(m.text.begin(), m.text.end())
                                          : cBenchWire::payload(m.bytes, id);
  std::string what = std::to_string(payload.size()) + " bytes";
  if (m.isText) what = "\"" + m.text + "\", " + what;
  if (north) {
    sendNorth(id, payload, what);
  } else {
    sendSouth(id, payload, what);
  }
}

void cDemoKeyboard::sendNorth(int id, const std::vector<uint8_t>& payload,
                              const std::string& what) {
  size_t frames = cBenchWire::segments(id, payload, kPeerSegSize).size();
  mWatch.note("peer", "sends message " + std::to_string(id) + ": " + what + " in " +
                          cDemoText::count(frames, "frame"));
  mBench.module().sendMessage(id, payload, kPeerSegSize);
}

void cDemoKeyboard::sendSouth(int id, const std::vector<uint8_t>& payload,
                              const std::string& what) {
  mWatch.note("broker", "sends message " + std::to_string(id) + ": " + what);
  mBench.broker().sendMessage(id, payload);
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
