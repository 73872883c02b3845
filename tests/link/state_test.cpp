#include <algorithm>

#include "tests/link/benchTest.h"

namespace {

using cReply = cSimModule::cReply;
constexpr int kMargin = cBenchSteps::kMarginMs;
// Resolution of the daemon's log time stamps (milliseconds), for "not before" checks.
constexpr double kClockStep = 0.002;

cBenchOptions speed(double s) {
  cBenchOptions o;
  o.speed = s;
  return o;
}

class LinkStateTest : public cBenchTest {
 protected:
  // Index of the last log line containing text; -1 if none.
  int lastIndex(const std::string& text) {
    std::vector<cBenchLog::cLine> lines = bench().log().lines();
    for (size_t i = lines.size(); i-- > 0;) {
      if (lines[i].message.find(text) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
  double daemonTimeAt(int index) {
    return bench().log().lines().at(static_cast<size_t>(index)).daemonTime;
  }
  double now() { return cBench::now(); }
};

TEST_F(LinkStateTest, StartupNamesTheModuleAsConfiguredThenTicksEveryTenSeconds) {
  cBenchOptions o = speed(20);
  o.btName = "Kestrel-7";
  cBench& b = start(o);
  ASSERT_TRUE(b.waitForLog("State tick", 4, b.realMs(55, kMargin)));

  ASSERT_EQ(3u, b.module().commands().size());
  EXPECT_EQ("AT+AB DefaultLocalName Kestrel-7", b.module().commands()[2].line);
  EXPECT_EQ(1, b.logCount("AP Name set to Kestrel-7"));

  // A timed wait never ends early, and a loaded machine can only make it end late: every
  // interval is at least 10 s and none is long enough to hide a missed tick; the shortest shows
  // the period is 10 s, not more.
  std::vector<cBenchLog::cLine> ticks = b.log().matching("State tick");
  double previous = daemonTimeOf("AP Name set to");
  double shortest = 1e9;
  for (const cBenchLog::cLine& t : ticks) {
    double interval = t.daemonTime - previous;
    EXPECT_GE(interval, 10.0 - kClockStep);
    EXPECT_LT(interval, 15.0);
    shortest = std::min(shortest, interval);
    previous = t.daemonTime;
  }
  EXPECT_LT(shortest, 10.6);
  EXPECT_EQ(0, b.logCount("Going BT_LINK"));
}

// The button wakes the waiting thread at once; discovery shows steady red while the module
// enables bonding, then red blinking; stand-by follows 130 to 140 s after enableBond returned.
TEST_F(LinkStateTest, PairingInStandbyGoesToDiscoveryAtOnceAndTimesOutToStandby) {
  cBench& b = start(speed(20));
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  const int slowMs = b.realMs(3);  // the module takes 3 daemon seconds to answer
  b.module().setReply("EnableBond", cReply::Late, slowMs);
  b.module().setReply("DisableBond", cReply::Late, slowMs);

  ASSERT_TRUE(cBenchSteps::pressForPairing(b));
  ASSERT_TRUE(b.waitForLog("EnableBond Successful", 1, b.realMs(8, kMargin)));
  int going = b.log().find("Going BT_LINK_DISCOVERY");
  ASSERT_GT(going, 0);
  EXPECT_EQ("State tick", b.log().lines()[static_cast<size_t>(going) - 1].message);
  // Woken by the request, not by the end of the 10 s wait it came in: the transition comes
  // before that wait's deadline (load can only delay it towards the deadline), or at once.
  int request = b.log().find("Enable Pairing");
  double waitStart = daemonTimeOf("AP Name set to");
  for (int i = request; i-- > 0;) {
    if (b.log().lines()[static_cast<size_t>(i)].message == "State tick") {
      waitStart = daemonTimeAt(i);
      break;
    }
  }
  double woken = daemonTimeAt(going);
  EXPECT_TRUE(woken < waitStart + 10.0 - 0.05 || woken - daemonTimeAt(request) < 1.0)
      << "request at " << daemonTimeAt(request) << ", wait from " << waitStart << ", woken at "
      << woken;
  EXPECT_EQ(1, exactCount("BT_LINK_DISCOVERY"));

  std::vector<cSimModule::cCommand> cmds = b.module().commands();
  ASSERT_EQ(4u, cmds.size());
  EXPECT_EQ("AT+AB EnableBond", cmds[3].line);
  double answered = realTimeOf("EnableBond Successful");
  EXPECT_EQ("red steady", leds(cmds[3].time + 0.01, answered - 0.01));
  b.sleepDaemon(6);
  EXPECT_EQ("red blinking", leds(answered + 0.1, now()));

  ASSERT_TRUE(b.waitForLog("EraseBondTable Successful", 2, b.realMs(150, kMargin)));
  double standby = daemonTimeOf("Going BT_LINK_STANDBY");
  double enabled = daemonTimeOf("EnableBond Successful");
  EXPECT_GE(standby - enabled, 129.5);
  EXPECT_LE(standby - enabled, 141.0);
  EXPECT_EQ(1, b.logCount("Going BT_LINK_STANDBY"));

  cmds = b.module().commands();
  ASSERT_EQ(6u, cmds.size());
  EXPECT_EQ("AT+AB DisableBond", cmds[4].line);
  EXPECT_EQ("AT+AB EraseBondTable", cmds[5].line);
  double disabled = realTimeOf("DisableBond Successful", static_cast<size_t>(going));
  EXPECT_EQ("red steady", leds(cmds[4].time + 0.01, disabled - 0.01));
  double erased = realTimeOf("EraseBondTable Successful", static_cast<size_t>(going));
  b.sleepDaemon(5);
  EXPECT_EQ("dark", leds(erased + 0.1, now()));
}

// A request posted during the start-up pause is carried out at the first tick, not before and
// not lost.
TEST_F(LinkStateTest, PairingRequestedDuringStartupIsTakenAtTheFirstTick) {
  cBench& b = launch(speed(5));
  b.gpio().press();  // held from the start: "Enable Pairing" on the third board tick
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.waitForLog("Enable Pairing", 1, b.realMs(6, kMargin)));
  b.gpio().release();
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::waitTransition(b, "BT_LINK_DISCOVERY", 0, 12));

  ASSERT_LT(daemonTimeAt(lastIndex("Enable Pairing")), daemonTimeOf("sending CMD"))
      << "the button was still held when the set-up began";
  int going = b.log().find("Going BT_LINK_DISCOVERY");
  EXPECT_EQ(b.log().find("State tick"), going - 1);  // the very first tick
  // The first timed wait runs its full 10 s (the request came before it began); load can only
  // delay the wake-up, and a second tick would come 10 s later.
  double firstTick = daemonTimeAt(going) - daemonTimeOf("AP Name set to");
  EXPECT_GE(firstTick, 10.0 - kClockStep);
  EXPECT_LT(firstTick, 15.0);
  ASSERT_TRUE(b.module().waitForCommand("AT+AB EnableBond", b.realMs(2, kMargin)));
  EXPECT_EQ("AT+AB EnableBond", b.module().commands().at(3).line);
}

// Requests are not queued: of two posted before a tick only the later one is carried out.
TEST_F(LinkStateTest, OfTwoRequestsBeforeATickOnlyTheLaterIsCarriedOut) {
  cBench& b = launch(speed(5));
  b.gpio().press();
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.waitForLog("Enable Pairing", 1, b.realMs(6, kMargin)));
  b.gpio().release();
  b.sleepDaemon(2);  // no further board tick sees the button down
  b.module().sendLine("AT-AB BondOk");
  ASSERT_TRUE(b.waitForLog("Bond Ok (pairing) URC", 1, b.realMs(2, kMargin)));
  ASSERT_TRUE(cBenchSteps::waitTransition(b, "BT_LINK_PAIRED", 0, 22));

  int bondOk = b.log().find("Bond Ok (pairing) URC");
  ASSERT_LT(lastIndex("Enable Pairing"), bondOk);
  ASSERT_LT(bondOk, b.log().find("sending CMD")) << "both requests must come before the set-up";
  EXPECT_EQ(b.log().find("State tick") + 1, b.log().find("Going BT_LINK_PAIRED"));
  b.sleepDaemon(4);
  EXPECT_EQ(0, b.logCount("Going BT_LINK_DISCOVERY"));
  EXPECT_EQ(0, commandCount("EnableBond"));
}

// "BondOk" in discovery pairs without a module command (green blinking); "-BypassMode-" then
// connects (green steady).
TEST_F(LinkStateTest, BondOkInDiscoveryPairsThenBypassModeConnects) {
  cBench& b = start(speed(20));
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::pressForPairing(b));
  ASSERT_TRUE(b.waitForLog("EnableBond Successful", 1, b.realMs(5, kMargin)));
  const size_t commands = b.module().commands().size();

  b.module().sendLine("AT-AB BondOk");
  ASSERT_TRUE(cBenchSteps::waitTransition(b, "BT_LINK_PAIRED", 0, 2));
  double paired = realTimeOf("Going BT_LINK_PAIRED");
  b.sleepDaemon(6);
  EXPECT_EQ(commands, b.module().commands().size());
  EXPECT_EQ("green blinking", leds(paired + 0.1, now()));

  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  double connected = realTimeOf("Going BT_LINK_CONNECTED");
  b.sleepDaemon(6);
  EXPECT_EQ(commands, b.module().commands().size());
  EXPECT_EQ("green steady", leds(connected + 0.1, now()));
}

// "-BypassMode-" connects from stand-by and from discovery alike; the module's escape out of
// bypass mode starts discovery.
TEST_F(LinkStateTest, BypassModeConnectsFromStandbyAndFromDiscovery) {
  cBench& b = start(speed(20));
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  EXPECT_EQ(0, b.logCount("Going BT_LINK_DISCOVERY"));
  EXPECT_EQ(0, b.logCount("Going BT_LINK_PAIRED"));

  ASSERT_TRUE(cBenchSteps::disconnectPeer(b));
  EXPECT_EQ(1, b.logCount("Probably need to bail now"));
  ASSERT_TRUE(b.waitForLog("EnableBond Successful", 1, b.realMs(5, kMargin)));

  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  EXPECT_EQ(2, b.logCount("Going BT_LINK_CONNECTED"));
}

// While the button stays down its requests overwrite the time-out's stand-by request; stand-by
// follows at the first timed wake-up after the last one.
TEST_F(LinkStateTest, ButtonHeldThroughTheDiscoveryLimitKeepsDiscovery) {
  cBench& b = start(speed(20));
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  b.gpio().press();
  ASSERT_TRUE(b.waitForLog("EnableBond Successful", 1, b.realMs(8, kMargin)));
  b.sleepDaemon(150);
  EXPECT_EQ(0, b.logCount("Going BT_LINK_STANDBY"));
  b.gpio().release();
  ASSERT_TRUE(cBenchSteps::waitTransition(b, "BT_LINK_STANDBY", 0, 25));

  double lastRequest = daemonTimeAt(lastIndex("Enable Pairing"));
  double standby = daemonTimeOf("Going BT_LINK_STANDBY");
  EXPECT_GT(standby - lastRequest, 9.0);
  EXPECT_LT(standby - lastRequest, 12.0);
  EXPECT_EQ(1, commandCount("EnableBond"));  // a request for the present state does nothing
}

// Pairing while connected: the enable-bond line goes unframed into the bypass stream, nothing
// answers, and the command gives up after about 11 s.
TEST_F(LinkStateTest, PairingWhileConnectedTimesOutInTheBypassStream) {
  cBench& b = start(speed(20));
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  ASSERT_TRUE(cBenchSteps::pressForPairing(b));
  ASSERT_TRUE(cBenchSteps::waitTransition(b, "BT_LINK_DISCOVERY", 0, 2));
  ASSERT_TRUE(b.waitForLog("Timed out", 1, b.realMs(15, kMargin)));

  std::vector<cSimModule::cCommand> cmds = b.module().commands();
  ASSERT_EQ(4u, cmds.size());
  EXPECT_EQ("AT+AB EnableBond", cmds[3].line);
  EXPECT_TRUE(cmds[3].inBypass);
  EXPECT_NEAR(11.0, daemonTimeOf("Timed out") - daemonTimeOf("AT+AB EnableBond"), 1.0);
  EXPECT_EQ(0, b.logCount("EnableBond Successful"));
  EXPECT_EQ(0, b.logCount("Probably need to bail now"));
}

}  // namespace
