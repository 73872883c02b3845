#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modem/cBTCmds.h"
#include "tests/common/cLogCapture.h"

namespace {

// Gives the tests the step of a transaction that examines the waiting line.
template <class Cmd>
struct cExposed : Cmd {
  using cBTCmd::examineReply;
  using Cmd::Cmd;
};

bool matches(cBTCmd& cmd, const std::string& line) {
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  return cmd.parseReply(buf.data());
}

TEST(ModemCommands, MatchersCompareWordOneExactlyOrByPrefix) {
  cBTCmdEnableBond enable;
  cBTCmdDisableBond disable;
  cBTCmdEraseBondTable erase;
  cBTCmdSetName name("Fox");
  cBTCmdSPPDisconnect spp;
  cBTCmdUpdateInquiryScan scan(2, 18, 2048);
  // The first word is not examined; '=' separates only config lines; 19 letters of
  // "InquiryScanUpdateDone" are enough.
  struct {
    cBTCmd& cmd;
    std::vector<const char*> yes, no;
  } rows[] = {
      {enable,
       {"AT-AB BondEnabled", "AT-AB EnableBondOk", "OK BondEnabled", "AT-AB BondEnabled and more"},
       {"AT-AB BondEnabledX", "AT-AB bondenabled", "BondEnabled", "AT-AB=BondEnabled"}},
      {disable, {"AT-AB BondDisabled"}, {"AT-AB BondDisabledX", "AT-AB BondEnabled"}},
      {erase, {"AT-AB BondTableErased"}, {"AT-AB BondTableErase"}},
      {name, {"AT-AB LocalNameOk", "AT-AB LocalNameOkay"}, {"AT-AB LocalName", "AT-AB LocalNameO"}},
      {spp,
       {"AT-AB SPPConnectionClosed", "AT-AB SPPConnectionClosedByHost"},
       {"AT-AB SPPConnectionClose"}},
      {scan,
       {"AT-AB InquiryScanUpdateDone", "AT-AB InquiryScanUpdateDo", "AT-AB InquiryScanUpdateDoX"},
       {"AT-AB InquiryScanUpdateD"}},
  };
  for (auto& r : rows) {
    for (const char* line : r.yes) EXPECT_TRUE(matches(r.cmd, line)) << line;
    for (const char* line : r.no) EXPECT_FALSE(matches(r.cmd, line)) << line;
  }
}

TEST(ModemCommands, GetConfigReadsKeysUntilThePin) {
  cLogCapture log;
  cBTCmdGetConfig cfg;
  // BD_ADDR: seven letters of BD_ADDRESS are enough.
  for (const char* line : {"AT-AB BuildVersion=3.1.4", "AT-AB BD_ADDR=0016A4B1C2D3",
                           "AT-AB DeviceName=Fox", "AT-AB Volume=3", "AT-AB PIN"})
    EXPECT_FALSE(matches(cfg, line)) << line;
  EXPECT_TRUE(matches(cfg, "X PIN=0000"));
  EXPECT_STREQ("3.1.4", cfg.buildVersion());
  EXPECT_STREQ("0016A4B1C2D3", cfg.bdAddress());
  EXPECT_STREQ("Fox", cfg.deviceName());
  EXPECT_STREQ("0000", cfg.pin());
}

TEST(ModemCommands, GetConfigCutsLongValuesToTheirFields) {
  cLogCapture log;
  cBTCmdGetConfig cfg;
  std::string longValue(40, 'v');
  for (const char* key : {"BuildVersion=", "BD_ADDRESS=", "DeviceName="})
    matches(cfg, "AT-AB " + std::string(key) + longValue);
  EXPECT_TRUE(matches(cfg, "AT-AB PIN=" + longValue));
  EXPECT_EQ(std::string(15, 'v'), cfg.buildVersion());
  EXPECT_EQ(std::string(12, 'v'), cfg.bdAddress());
  EXPECT_EQ(std::string(19, 'v'), cfg.deviceName());
  EXPECT_EQ(std::string(10, 'v'), cfg.pin());
  EXPECT_EQ(4u, log.matching("cut to").size());
}

TEST(ModemCommands, LongNameIsCutSoTheLineKeepsCrLf) {
  cLogCapture log;
  std::string fits(38, 'n');
  cBTCmdSetName whole(fits.c_str());
  EXPECT_EQ("AT+AB DefaultLocalName " + fits + "\r\n", whole.getCmdText());
  EXPECT_EQ(0u, log.matching("cut").size());
  for (size_t len : {39, 40, 100}) {
    std::string name(len, 'n');
    name[38] = 'X';  // the first character that does not fit
    cBTCmdSetName cmd(name.c_str());
    EXPECT_EQ("AT+AB DefaultLocalName " + fits + "\r\n", cmd.getCmdText());
    EXPECT_EQ(fits, cmd.name());
  }
  auto warnings = log.matching("cut to its first 38");
  ASSERT_EQ(3u, warnings.size());
  EXPECT_EQ("WARN", warnings[0].level);
  EXPECT_NE(std::string::npos, warnings[0].message.find("\"" + fits + "\""));
}

TEST(ModemCommands, CommandTextAndReplyCopiesAreBounded) {
  cLogCapture log;
  cExposed<cBTCmdEnableBond> cmd;
  std::string text(200, 't');
  cmd.setCmdText(text.c_str());
  EXPECT_EQ(std::string(63, 't'), cmd.getCmdText());
  cmd.setCmdText("AT+AB EnableBond\r\n");
  EXPECT_STREQ("AT+AB EnableBond\r\n", cmd.getCmdText());

  // A completing line of 256 characters is not taken for an empty one.
  std::string line = "AT-AB BondEnabled " + std::string(256 - 18, 'x');
  cmd.onReplyLine(line.c_str(), static_cast<int>(line.size()));
  EXPECT_TRUE(cmd.waitReply());
  EXPECT_TRUE(cmd.examineReply());
  // A line longer than the reply buffer is cut to it.
  line = "AT-AB BondEnabled " + std::string(3000, 'y');
  cmd.onReplyLine(line.c_str(), static_cast<int>(line.size()));
  char out[cBTCmd::kReplySize];
  EXPECT_EQ(cBTCmd::kReplySize - 1, cmd.takeReply(out));
  EXPECT_EQ(0, memcmp(out, line.data(), cBTCmd::kReplySize - 1));
}

TEST(ModemCommands, OneReplySlotKeepsOnlyTheLatestLine) {
  cLogCapture log;
  cExposed<cBTCmdEnableBond> cmd;
  cmd.onReplyLine("AT-AB BondEnabled", 17);
  cmd.onReplyLine("AT-AB Busy", 10);
  EXPECT_TRUE(cmd.waitReply());
  EXPECT_FALSE(cmd.examineReply());
  EXPECT_FALSE(cmd.waitReply());  // consumed
  cmd.onReplyLine("AT-AB Busy", 10);
  cmd.onReplyLine("AT-AB BondEnabled", 17);
  EXPECT_TRUE(cmd.examineReply());
  cmd.onReplyLine("", 0);  // an empty line is not offered to the matcher
  EXPECT_FALSE(cmd.examineReply());
  EXPECT_EQ(1, log.count("cmdH: \n"));
}

}  // namespace
