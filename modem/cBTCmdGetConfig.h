#pragma once

#include <cstddef>

#include "modem/cBTCmd.h"

// "AT+AB config": the module answers with one line per setting ("AT-AB BuildVersion=...",
// "AT-AB BD_ADDRESS=...", "AT-AB DeviceName=...", "AT-AB PIN=..."); the PIN line completes it.
// A value longer than its field is cut to the field.
class cBTCmdGetConfig : public cBTCmd {
 public:
  cBTCmdGetConfig();
  bool parseReply(char* reply) override;
  ~cBTCmdGetConfig() override;

  const char* buildVersion() const { return mBuildVersion; }
  const char* bdAddress() const { return mBDAddress; }
  const char* deviceName() const { return mDeviceName; }
  const char* pin() const { return mPIN; }

 private:
  void store(const char* key, const char* value, char* field, size_t size, const char* logLine);

  char mBuildVersion[16];
  char mBDAddress[13];
  char mDeviceName[20];
  char mPIN[11];
};
