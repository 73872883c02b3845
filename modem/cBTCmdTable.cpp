#include "modem/cBTCmdTable.h"

#include <cstring>

#include "modem/cBTCmd.h"
#include "support/cArgParser.h"

// clang-format off
const cBTCmdRow kBTCmdTable[kCmdCount] = {
  // format                                  retries split     words rule                 word                     alt             prefix
  {"AT+AB config\r\n",                       10,     ' ', '=', 3,    cBTCmdRow::kConfig,  "PIN",                   nullptr,        0},
  {"AT+AB DefaultLocalName %.*s\r\n",        10,     ' ', ' ', 2,    cBTCmdRow::kPrefix,  "LocalNameOk",           nullptr,        11},
  {"AT+AB SPPDisconnect\r\n",                10,     ' ', ' ', 2,    cBTCmdRow::kPrefix,  "SPPConnectionClosed",   nullptr,        19},
  {"AT+AB UpdateInquiryScan %d %d %d\r\n",   60,     ' ', ' ', 2,    cBTCmdRow::kPrefix,  "InquiryScanUpdateDone", nullptr,        19},
  {"AT+AB EnableBond\r\n",                   10,     ' ', ' ', 2,    cBTCmdRow::kExact,   "BondEnabled",           "EnableBondOk", 0},
  {"AT+AB DisableBond\r\n",                  10,     ' ', ' ', 2,    cBTCmdRow::kExact,   "BondDisabled",          nullptr,        0},
  {"AT+AB EraseBondTable\r\n",               10,     ' ', ' ', 2,    cBTCmdRow::kExact,   "BondTableErased",       nullptr,        0},
};
// clang-format on

bool cBTCmdRow::matchesWord(const char* w) const {
  switch (rule) {
    case kExact:
      return strcmp(w, word) == 0 || (altWord != nullptr && strcmp(w, altWord) == 0);
    case kPrefix:
      // strncmp stops at the shorter word's NUL, so a word shorter than prefixLen fails.
      return strncmp(w, word, prefixLen) == 0;
    case kConfig:
      break;
  }
  return false;
}

bool cBTCmdRow::matches(char* reply) const {
  char** words = cArgParser::parseList(reply, sep1, sep2);
  bool done = cArgParser::argCnt(words) >= minWords && matchesWord(words[1]);
  delete[] words;
  return done;
}

int maxLocalNameLength() {
  // The format without its "%.*s" is the line's fixed part.
  const int fixed = static_cast<int>(strlen(kBTCmdTable[kCmdSetName].format)) - 4;
  return cBTCmd::kCmdBufSize - 1 - fixed;
}
