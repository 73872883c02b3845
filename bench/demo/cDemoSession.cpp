#include "bench/demo/cDemoSession.h"

#include <cstdio>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"
#include "bench/demo/cDemoExchange.h"

namespace {

// The name the daemon gives the module when the configuration names none.
const char* const kDefaultName = "Bramblefox";

std::string number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

bool cDemoSession::play() {
  bool ok = startUp() && pair() && bond() && connect();
  ok = ok && cDemoExchange(mBench, mWatch, mChecks).play();
  ok = ok && leave() && timeOut();
  expect("the session went through to its end", ok);
  finalChecks();
  return ok;
}

bool cDemoSession::startUp() {
  if (!mBench.start()) {
    expect("the daemon started", false, "fork failed");
    return false;
  }
  say("demo", "ferryd started; it pauses 10 s before it sets the module up");
  bool named = cBenchSteps::waitStartup(mBench);
  expect("start-up: the module was set up (\"AP Name set to\" logged)", named);
  if (!named) return false;
  checkSetUpCommands();
  bool dark = waitLeds("dark", mBench.startTime());
  std::vector<cDemoLeds::cChange> leds = mWatch.ledChanges();
  std::vector<cSimModule::cCommand> commands = mBench.module().commands();
  bool order = leds.size() == 2 && leds[0].view == "red steady" && leds[1].view == "dark" &&
               !commands.empty() && leds[1].time >= commands.back().time;
  expect("start-up: LEDs red steady, dark once the module is set up", dark && order, ledsSince(0));
  bool north = cBenchSteps::waitNorth(mBench);
  expect("north link: the daemon's socket is connected to the broker", north);
  dwell(2);
  return north;
}

void cDemoSession::checkSetUpCommands() {
  std::vector<std::string> lines = commandsFrom(0);
  std::vector<std::string> wanted = {"AT+AB DisableBond", "AT+AB EraseBondTable",
                                     std::string("AT+AB DefaultLocalName ") + kDefaultName};
  expect("start-up: the module got " + join(wanted, ", ") + ", in that order", lines == wanted,
         join(lines, " | "));
  std::vector<cBenchLog::cLine> sending = mBench.log().matching("sending CMD");
  double first = sending.empty() ? -1 : sending.front().daemonTime;
  expect("start-up: the first command came 10 to 12.5 s after the start (daemon clock)",
         first >= 10 && first <= 12.5, number("%.2f s", first));
}

bool cDemoSession::pair() {
  double since = cBench::now();
  size_t commands = commandCount();
  say("button", "pressed and held");
  bool asked = cBenchSteps::pressForPairing(mBench);
  say("button", "released");
  bool going = asked && cBenchSteps::waitTransition(mBench, "BT_LINK_DISCOVERY", 0, 2);
  expect("button held: the daemon asked for pairing and went to discovery", going);
  bool enabled = mBench.module().waitForCommand("AT+AB EnableBond", mBench.realMs(2, 5000));
  std::vector<std::string> sent = commandsFrom(commands);
  expect("discovery: the module got AT+AB EnableBond", enabled && sent.size() == 1,
         join(sent, " | "));
  expect("discovery: LEDs red blinking", waitLeds("red blinking", since), ledsSince(since));
  dwell(2);
  return going;
}

bool cDemoSession::bond() {
  double since = cBench::now();
  size_t commands = commandCount();
  say("module", "-> AT-AB BondOk   (the peer has bonded)");
  mBench.module().sendLine("AT-AB BondOk");
  bool paired = cBenchSteps::waitTransition(mBench, "BT_LINK_PAIRED", 0, 2);
  expect("bonded: the daemon went to paired", paired);
  expect("paired: LEDs green blinking", waitLeds("green blinking", since), ledsSince(since));
  expect("paired: no command to the module", commandCount() == commands,
         join(commandsFrom(commands), " | "));
  dwell(2);
  return paired;
}

bool cDemoSession::connect() {
  double since = cBench::now();
  say("module", "-> AT-AB -BypassMode-   (the peer has connected: bypass mode)");
  bool connected = cBenchSteps::connectPeer(mBench);
  expect("connected: the daemon went to connected", connected);
  expect("connected: LEDs green steady", waitLeds("green steady", since), ledsSince(since));
  dwell(1);
  return connected;
}

bool cDemoSession::leave() {
  double since = cBench::now();
  int bails = logCount("Probably need to bail now");
  size_t commands = commandCount();
  say("module", "-> AT-AB -CommandMode-   (the peer has left; \"AT-AB\" ends bypass mode)");
  bool discovery = cBenchSteps::disconnectPeer(mBench);
  expect("peer left: the daemon saw the status line, left bypass mode and went to discovery",
         discovery && logCount("Probably need to bail now") == bails + 1);
  bool enabled = mBench.module().waitForCommand("AT+AB EnableBond", mBench.realMs(2, 5000), 2);
  std::vector<std::string> sent = commandsFrom(commands);
  expect("discovery: the module got AT+AB EnableBond again", enabled && sent.size() == 1,
         join(sent, " | "));
  expect("discovery: LEDs red blinking", waitLeds("red blinking", since), ledsSince(since));
  return discovery;
}

bool cDemoSession::timeOut() {
  double since = cBench::now();
  size_t commands = commandCount();
  say("demo", "nobody pairs now: the daemon gives up discovery after 120 s (" +
                  number("%.0f s real)", 130 / mBench.speed()));
  bool standby = waitStandby();
  double took = lastDaemonTime("Going BT_LINK_STANDBY") - lastDaemonTime("EnableBond Successful");
  if (standby) say("demo", number("stand-by came %.1f s after enable-bond returned", took));
  expect("discovery time-out: stand-by 130 to 140 s after enable-bond returned (daemon clock)",
         standby && took >= 130 && took <= 140, number("%.1f s", took));
  mBench.module().waitForCommand("AT+AB EraseBondTable", mBench.realMs(2, 5000), 2);
  std::vector<std::string> sent = commandsFrom(commands);
  std::vector<std::string> wanted = {"AT+AB DisableBond", "AT+AB EraseBondTable"};
  expect("stand-by: the module got " + join(wanted, ", "), sent == wanted, join(sent, " | "));
  expect("stand-by: LEDs dark", waitLeds("dark", since), ledsSince(since));
  dwell(2);
  return standby;
}

// Waits for stand-by, telling every 30 s of daemon time how long discovery has lasted.
bool cDemoSession::waitStandby() {
  const std::string going = "Going BT_LINK_STANDBY";
  double entered = lastDaemonTime("Going BT_LINK_DISCOVERY");
  for (int step = 0; step < 4; ++step) {
    if (mBench.waitForLog(going, 1, mBench.realMs(30))) return true;
    double lasted = mBench.daemonSeconds(cBench::now()) - entered;
    std::string leds = mWatch.ledView();
    say("demo", number("discovery for %.0f s, LEDs ", lasted) + (leds.empty() ? "?" : leds));
  }
  return cBenchSteps::waitTransition(mBench, "BT_LINK_STANDBY", 0, 30);
}

void cDemoSession::finalChecks() {
  expect("the daemon kept running all along", mBench.running());
  std::vector<std::string> bad;
  for (const cBenchLog::cLine& l : mBench.log().lines()) {
    if (l.level != "DEBUG" && l.level != "INFO") bad.push_back(l.level + " " + l.message);
  }
  expect("the daemon logged no warning or error", bad.empty(), join(bad, " | "));
  unsigned dropped = mBench.module().droppedFrames();
  expect("the peer decoded every frame the daemon sent", dropped == 0,
         std::to_string(dropped) + " dropped");
}
