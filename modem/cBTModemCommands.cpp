#include "modem/cBTCmds.h"
#include "modem/cBTModem.h"

// Every operation publishes its command to the reader thread for the time of the transaction,
// withdraws it and deletes it. The outcome is only logged.

void cBTModem::setPending(cBTCmd* cmd) {
  pthread_mutex_lock(&mPendingMutex);
  mPendingCmd = cmd;
  pthread_mutex_unlock(&mPendingMutex);
}

bool cBTModem::runCommand(cBTCmd* cmd) {
  setPending(cmd);
  bool ok = cmd->execute();
  setPending(nullptr);  // from here on the reader no longer reaches cmd
  delete cmd;
  return ok;
}

void cBTModem::disableDiscovery() {
  if (runCommand(new cBTCmdUpdateInquiryScan(0, 18, 2048))) {
    debug("Discovery Disabled Successfully");
  }
}

void cBTModem::enableDiscovery() {
  if (runCommand(new cBTCmdUpdateInquiryScan(2, 18, 2048))) debug("Discovery Enabled Successfully");
}

void cBTModem::enableBond() {
  if (runCommand(new cBTCmdEnableBond)) debug("EnableBond Successful");
}

void cBTModem::disableBond() {
  if (runCommand(new cBTCmdDisableBond)) debug("DisableBond Successful");
}

void cBTModem::eraseBondTable() {
  if (runCommand(new cBTCmdEraseBondTable)) debug("EraseBondTable Successful");
}

void cBTModem::setName(const char* name) {
  auto* cmd = new cBTCmdSetName(name);
  std::string sent = cmd->name();
  if (runCommand(cmd)) debug("AP Name set to %s", sent.c_str());
}

void cBTModem::getConfig() {
  if (runCommand(new cBTCmdGetConfig)) debug("GetConfig Successful");
}
