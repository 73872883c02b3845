#include "modem/cBTCmds.h"

#include <cstring>

#include "modem/cBTCmdTable.h"

namespace {

int clippedLength(const char* name) {
  int len = static_cast<int>(strlen(name));
  return len < maxLocalNameLength() ? len : maxLocalNameLength();
}

}  // namespace

cBTCmdSetName::cBTCmdSetName(const char* name)
    : cBTCmd(&kBTCmdTable[kCmdSetName], clippedLength(name), name),
      mName(name, clippedLength(name)) {
  size_t len = strlen(name);
  if (len > mName.size()) {
    warn("Name \"%s\" (%zu characters) cut to its first %zu for the command line: \"%s\"", name,
         len, mName.size(), mName.c_str());
  }
}
cBTCmdSetName::~cBTCmdSetName() {}
bool cBTCmdSetName::parseReply(char* reply) {
  return kBTCmdTable[kCmdSetName].matches(reply);
}

cBTCmdSPPDisconnect::cBTCmdSPPDisconnect() : cBTCmd(&kBTCmdTable[kCmdSPPDisconnect]) {}
cBTCmdSPPDisconnect::~cBTCmdSPPDisconnect() {}
bool cBTCmdSPPDisconnect::parseReply(char* reply) {
  return kBTCmdTable[kCmdSPPDisconnect].matches(reply);
}

cBTCmdUpdateInquiryScan::cBTCmdUpdateInquiryScan(int a, int b, int c)
    : cBTCmd(&kBTCmdTable[kCmdUpdateInquiryScan], a, b, c) {}
cBTCmdUpdateInquiryScan::~cBTCmdUpdateInquiryScan() {}
bool cBTCmdUpdateInquiryScan::parseReply(char* reply) {
  return kBTCmdTable[kCmdUpdateInquiryScan].matches(reply);
}

cBTCmdEnableBond::cBTCmdEnableBond() : cBTCmd(&kBTCmdTable[kCmdEnableBond]) {}
cBTCmdEnableBond::~cBTCmdEnableBond() {}
bool cBTCmdEnableBond::parseReply(char* reply) {
  return kBTCmdTable[kCmdEnableBond].matches(reply);
}

cBTCmdDisableBond::cBTCmdDisableBond() : cBTCmd(&kBTCmdTable[kCmdDisableBond]) {}
cBTCmdDisableBond::~cBTCmdDisableBond() {}
bool cBTCmdDisableBond::parseReply(char* reply) {
  return kBTCmdTable[kCmdDisableBond].matches(reply);
}

cBTCmdEraseBondTable::cBTCmdEraseBondTable() : cBTCmd(&kBTCmdTable[kCmdEraseBondTable]) {}
cBTCmdEraseBondTable::~cBTCmdEraseBondTable() {}
bool cBTCmdEraseBondTable::parseReply(char* reply) {
  return kBTCmdTable[kCmdEraseBondTable].matches(reply);
}
