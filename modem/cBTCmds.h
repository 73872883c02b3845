#pragma once

#include <string>

#include "modem/cBTCmd.h"
#include "modem/cBTCmdGetConfig.h"

// The module's AT commands besides "config"; each takes its line, wait budget and reply rule
// from its row of kBTCmdTable.

class cBTCmdSetName : public cBTCmd {
 public:
  // A name too long for the 63-character line is cut (with a warning) so the line keeps CR LF.
  explicit cBTCmdSetName(const char* name);
  bool parseReply(char* reply) override;
  ~cBTCmdSetName() override;
  // The name as sent, after any cut.
  const std::string& name() const { return mName; }

 private:
  std::string mName;
};

class cBTCmdSPPDisconnect : public cBTCmd {
 public:
  cBTCmdSPPDisconnect();
  bool parseReply(char* reply) override;
  ~cBTCmdSPPDisconnect() override;
};

class cBTCmdUpdateInquiryScan : public cBTCmd {
 public:
  cBTCmdUpdateInquiryScan(int a, int b, int c);
  bool parseReply(char* reply) override;
  ~cBTCmdUpdateInquiryScan() override;
};

class cBTCmdEnableBond : public cBTCmd {
 public:
  cBTCmdEnableBond();
  bool parseReply(char* reply) override;
  ~cBTCmdEnableBond() override;
};

class cBTCmdDisableBond : public cBTCmd {
 public:
  cBTCmdDisableBond();
  bool parseReply(char* reply) override;
  ~cBTCmdDisableBond() override;
};

class cBTCmdEraseBondTable : public cBTCmd {
 public:
  cBTCmdEraseBondTable();
  bool parseReply(char* reply) override;
  ~cBTCmdEraseBondTable() override;
};
