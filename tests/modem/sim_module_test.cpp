// The simulated module against the driver. No link manager exists in these tests, so the test
// writes each command line through cBTModem::write as the link manager would.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modem/cBTCmds.h"
#include "support/cReassembler.h"
#include "tests/modem/cModemRig.h"

namespace {

void relay(cModemRig& rig, const cBTCmd& cmd) {
  const char* text = cmd.getCmdText();
  ASSERT_TRUE(
      rig.log.waitFor(std::string("sending CMD: ") + std::to_string(strlen(text)) + ": " + text));
  rig.modem->write(text, static_cast<int>(strlen(text)));
}

// Runs one operation and relays its command line; true when the success line was logged.
bool run(cModemRig& rig, void (cBTModem::*op)(), const cBTCmd& cmd, const char* success) {
  int before = rig.log.count(success);
  cOperation thread([&] { (rig.modem->*op)(); });
  relay(rig, cmd);
  thread.join();
  return rig.log.count(success) == before + 1;
}

TEST(SimModule, AnswersEveryCommandOfTheDriver) {
  cModemRig rig;
  EXPECT_TRUE(run(rig, &cBTModem::enableBond, cBTCmdEnableBond(), "EnableBond Successful"));
  EXPECT_TRUE(run(rig, &cBTModem::disableBond, cBTCmdDisableBond(), "DisableBond Successful"));
  EXPECT_TRUE(
      run(rig, &cBTModem::eraseBondTable, cBTCmdEraseBondTable(), "EraseBondTable Successful"));
  EXPECT_TRUE(run(rig, &cBTModem::enableDiscovery, cBTCmdUpdateInquiryScan(2, 18, 2048),
                  "Discovery Enabled Successfully"));
  EXPECT_TRUE(run(rig, &cBTModem::disableDiscovery, cBTCmdUpdateInquiryScan(0, 18, 2048),
                  "Discovery Disabled Successfully"));
  {
    std::string longName = std::string(38, 'F') + "ox";
    cOperation thread([&] { rig.modem->setName(longName.c_str()); });
    relay(rig, cBTCmdSetName(longName.c_str()));
    thread.join();
    EXPECT_EQ(1, rig.log.count("AP Name set to " + std::string(38, 'F')));
    EXPECT_EQ(std::string(38, 'F'), rig.sim.deviceName());
  }
  rig.log.clear();
  EXPECT_TRUE(run(rig, &cBTModem::getConfig, cBTCmdGetConfig(), "GetConfig Successful"));
  std::vector<std::string> expected = {"Got BuildVer ABSIM-3.1.4",
                                       "Got BDAddress 0016A4B1C2D3",
                                       "Got DeviceName " + std::string(19, 'F'),
                                       "Got PIN 1234",
                                       "Command OK",
                                       "GetConfig Successful"};
  size_t next = 0;
  for (const auto& r : rig.log.records()) {
    if (next < expected.size() && r.message == expected[next]) ++next;
  }
  EXPECT_EQ(expected.size(), next) << "missing or out of order: " << expected[next];

  auto commands = rig.sim.commands();
  ASSERT_EQ(7u, commands.size());
  EXPECT_EQ("AT+AB EnableBond", commands[0].line);
  EXPECT_EQ("AT+AB UpdateInquiryScan 2 18 2048", commands[3].line);
  EXPECT_EQ("AT+AB DefaultLocalName " + std::string(38, 'F'), commands[5].line);
  EXPECT_EQ("AT+AB config", commands[6].line);
}

TEST(SimModule, ReplyModes) {
  cModemRig rig;
  rig.sim.setReply("EnableBond", cSimModule::cReply::Alternative);
  EXPECT_TRUE(run(rig, &cBTModem::enableBond, cBTCmdEnableBond(), "EnableBond Successful"));
  EXPECT_EQ(1, rig.log.count("cmdH: AT-AB EnableBondOk"));

  rig.sim.setReply("DisableBond", cSimModule::cReply::NonMatchingFirst, 1500);
  EXPECT_TRUE(run(rig, &cBTModem::disableBond, cBTCmdDisableBond(), "DisableBond Successful"));
  auto lines = rig.log.matching("cmdH: ");
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("cmdH: AT-AB Busy\n", lines[1].message);
  EXPECT_EQ("cmdH: OK\n", lines[2].message);
  EXPECT_NEAR(1.5, lines[3].time - lines[1].time, 1.0);

  rig.sim.setReply("EraseBondTable", cSimModule::cReply::Late, 4000);
  EXPECT_TRUE(
      run(rig, &cBTModem::eraseBondTable, cBTCmdEraseBondTable(), "EraseBondTable Successful"));
  double sent = rig.sim.commands().back().time;
  EXPECT_NEAR(4.0, rig.log.matching("cmdH: AT-AB BondTableErased").back().time - sent, 1.0);

  rig.sim.setReply("EnableBond", cSimModule::cReply::Never);
  EXPECT_FALSE(run(rig, &cBTModem::enableBond, cBTCmdEnableBond(), "EnableBond Successful"));
  EXPECT_EQ(1, rig.log.count("Timed out"));
}

TEST(SimModule, PlaysTheBluetoothPeerInBypassMode) {
  cModemRig rig;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  struct cSink {
    pthread_mutex_t* mutex;
    cReassembler reassembler;
    std::vector<std::vector<uint8_t>> messages;
  } sink{&mutex, cReassembler(*rig.modem, "test"), {}};
  rig.modem->setFrameSink(
      [](void* ctx, const unsigned char* data, int len) {
        auto* s = static_cast<cSink*>(ctx);
        pthread_mutex_lock(s->mutex);
        if (YMsg* m = s->reassembler.onUnit(data, len)) {
          s->messages.push_back(m->payload());
          delete m;
        }
        pthread_mutex_unlock(s->mutex);
      },
      &sink);
  ASSERT_TRUE(rig.enterBypass());
  EXPECT_TRUE(rig.sim.inBypass());

  // Driver to peer: a message of three segments of at most 256 bytes.
  std::vector<uint8_t> south(600);
  for (size_t i = 0; i < south.size(); ++i) south[i] = static_cast<uint8_t>(i * 7);
  std::unique_ptr<YMsg> msg(YMsg::create(9, south.data(), south.size()));
  ASSERT_TRUE(msg->segmentMessage(256));
  msg->resetSegment();
  for (YMsg* seg = msg->getNextSegment(); seg != nullptr; seg = msg->getNextSegment()) {
    unsigned char buf[256];
    rig.modem->sendFrame(buf, seg->getMsg(buf, sizeof buf));
  }
  ASSERT_TRUE(rig.sim.waitForMessages(1, 5000));
  EXPECT_EQ(south, rig.sim.messages()[0]);
  EXPECT_EQ(std::vector<int>{9}, rig.sim.messageIds());
  auto sizes = rig.sim.segmentSizes();
  ASSERT_EQ(3u, sizes.size());
  for (size_t s : sizes) EXPECT_LE(s, 256u);

  // Peer to driver, in segments of 100 bytes.
  std::vector<uint8_t> north(700, 'A');
  rig.sim.sendMessage(3, north, 100);
  ASSERT_TRUE(cModemRig::waitUntil([&] {
    pthread_mutex_lock(&mutex);
    bool got = sink.messages.size() == 1;
    pthread_mutex_unlock(&mutex);
    return got;
  }));
  EXPECT_EQ(north, sink.messages[0]);

  // A command line in the bypass stream is recorded, not answered.
  rig.modem->write("AT+AB EnableBond\r\n", 18);
  ASSERT_TRUE(rig.sim.waitForCommand("EnableBond", 2000));
  EXPECT_TRUE(rig.sim.commands().back().inBypass);
  int reads = rig.log.count("Received ");
  usleep(500 * 1000);
  EXPECT_EQ(reads, rig.log.count("Received "));

  rig.sim.leaveBypass();
  EXPECT_FALSE(rig.sim.inBypass());
  ASSERT_TRUE(rig.log.waitFor("Probably need to bail now"));
  EXPECT_FALSE(rig.modem->inBypass());
  rig.sim.sendLine("AT-AB ConnectionDown");
  EXPECT_TRUE(rig.log.waitFor("Connection Down URC"));
  rig.modem->setFrameSink(nullptr, nullptr);
}

}  // namespace
