#include "modem/cBTCmds.h"
#include "modem/cBTModem.h"

// Every operation publishes its command to the reader thread for the time of the transaction,
// logs its success line, then withdraws the command and deletes it. The outcome is only logged.

void cBTModem::setPending(cBTCmd* cmd) {
  pthread_mutex_lock(&mPendingMutex);
  mPendingCmd = cmd;
  pthread_mutex_unlock(&mPendingMutex);
}

void cBTModem::runCommand(cBTCmd* cmd, const char* okLine, const char* arg) {
  setPending(cmd);
  if (cmd->execute()) debug(okLine, arg);
  setPending(nullptr);  // from here on the reader no longer reaches cmd
  delete cmd;
}

void cBTModem::disableDiscovery() {
  runCommand(new cBTCmdUpdateInquiryScan(0, 18, 2048), "Discovery Disabled Successfully");
}

void cBTModem::enableDiscovery() {
  runCommand(new cBTCmdUpdateInquiryScan(2, 18, 2048), "Discovery Enabled Successfully");
}

void cBTModem::enableBond() {
  runCommand(new cBTCmdEnableBond, "EnableBond Successful");
}

void cBTModem::disableBond() {
  runCommand(new cBTCmdDisableBond, "DisableBond Successful");
}

void cBTModem::eraseBondTable() {
  runCommand(new cBTCmdEraseBondTable, "EraseBondTable Successful");
}

// The success line names the name as sent, after any cut.
void cBTModem::setName(const char* name) {
  auto* cmd = new cBTCmdSetName(name);
  runCommand(cmd, "AP Name set to %s", cmd->name().c_str());
}

void cBTModem::getConfig() {
  runCommand(new cBTCmdGetConfig, "GetConfig Successful");
}
