#include "modem/cBTCmdGetConfig.h"

#include <cstdio>
#include <cstring>

#include "modem/cBTCmdTable.h"
#include "support/cArgParser.h"

namespace {

struct cConfigKey {
  const char* name;
  size_t compared;  // leading characters of word 1 compared with name
  const char* logLine;
  bool completes;
};

// The first key that matches decides. Same order as the fields in parseReply.
// clang-format off
const cConfigKey kConfigKeys[] = {
  {"BuildVersion", 12, "Got BuildVer %s",   false},
  {"BD_ADDRESS",   7,  "Got BDAddress %s",  false},
  {"DeviceName",   10, "Got DeviceName %s", false},
  {"PIN",          3,  "Got PIN %s",        true},
};
// clang-format on

}  // namespace

cBTCmdGetConfig::cBTCmdGetConfig() : cBTCmd(&kBTCmdTable[kCmdGetConfig]) {
  mBuildVersion[0] = mBDAddress[0] = mDeviceName[0] = mPIN[0] = '\0';
}

cBTCmdGetConfig::~cBTCmdGetConfig() {}

bool cBTCmdGetConfig::parseReply(char* reply) {
  const cBTCmdRow& row = kBTCmdTable[kCmdGetConfig];
  char** words = cArgParser::parseList(reply, row.sep1, row.sep2);
  bool done = false;
  if (cArgParser::argCnt(words) >= row.minWords) {
    struct {
      char* buf;
      size_t size;
    } fields[] = {{mBuildVersion, sizeof mBuildVersion},
                  {mBDAddress, sizeof mBDAddress},
                  {mDeviceName, sizeof mDeviceName},
                  {mPIN, sizeof mPIN}};
    for (size_t i = 0; i < sizeof kConfigKeys / sizeof kConfigKeys[0]; ++i) {
      const cConfigKey& key = kConfigKeys[i];
      if (strncmp(words[1], key.name, key.compared) != 0) continue;
      store(key.name, words[2], fields[i].buf, fields[i].size, key.logLine);
      done = key.completes;
      break;
    }
  }
  delete[] words;
  return done;
}

void cBTCmdGetConfig::store(const char* key, const char* value, char* field, size_t size,
                            const char* logLine) {
  size_t len = strlen(value);
  snprintf(field, size, "%s", value);
  if (len >= size) warn("%s value of %zu characters cut to %zu: %s", key, len, size - 1, field);
  debug(logLine, field);
}
