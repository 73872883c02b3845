#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <string>

// One relay under test between a pseudo-terminal (the module's serial line; the benchmark holds
// the master side and plays the module and the Bluetooth peer) and a UDP socket on 127.0.0.1
// (the broker): the real ferryd binary, or socat with a given block size.
class cPerfLink {
 public:
  enum class cKind { Ferryd, Socat };
  // socatBlock: socat's -b value (Socat only); segSize: "ferryd.io.segsize" (Ferryd only).
  cPerfLink(cKind kind, int segSize, int socatBlock);
  ~cPerfLink();
  cPerfLink(const cPerfLink&) = delete;
  cPerfLink& operator=(const cPerfLink&) = delete;

  bool start(std::string* error);
  // ferryd: answers the start-up commands (after its 10 s pause) until the module is named.
  bool awaitSetUp(int timeoutMs, std::string* error);
  // ferryd: the module enters bypass mode. Both: a probe from the peer side reaches the broker,
  // which so learns the relay's address.
  bool connect(std::string* error);
  void stop();

  cKind kind() const { return mKind; }
  const std::string& name() const { return mName; }
  int segSize() const { return mSegSize; }
  pid_t pid() const { return mPid; }
  int master() const { return mMaster; }
  int broker() const { return mBroker; }
  const sockaddr_in& relayAddr() const { return mRelayAddr; }
  // Writes all bytes to the master side.
  bool writeMaster(const uint8_t* data, size_t len);

 private:
  bool answerLine(const std::string& line, bool* named);

  cKind mKind;
  int mSegSize;
  int mSocatBlock;
  std::string mName;
  std::string mDir;
  std::string mSlavePath;
  int mMaster;
  int mSlave;
  int mBroker;
  uint16_t mBrokerPort;
  sockaddr_in mRelayAddr;
  pid_t mPid;
};
