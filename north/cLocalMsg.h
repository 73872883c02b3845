#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "support/YMsg.h"
#include "support/cLogLimit.h"
#include "support/cProperties.h"
#include "support/cReassembler.h"
#include "support/cYlog.h"

// The north link: a connected UDP socket to the message broker, read by a thread of its own.
// Static operations do nothing while the instance does not exist.
class cLocalMsg : public cYlog {
 public:
  // Largest datagram in either direction: one serialised segment.
  static constexpr int kMaxDatagram = 1024;
  // Where the broker is (ferrycat's broker listens there too).
  static constexpr const char* kHostKey = "zam.broker.host";
  static constexpr const char* kPortKey = "zam.broker.port";
  static constexpr const char* kDefaultHost = "localhost";
  static constexpr int kDefaultPort = 60010;
  // Datagrams handed to the kernel in one call when a message goes north.
  static constexpr size_t kSendBatch = 16;

  static void create(cProperties* props);
  // Takes ownership of msg; sends it to the broker in datagrams of at most 1024 bytes.
  static void sendNorth(YMsg* msg);
  static cLocalMsg* instance();

  explicit cLocalMsg(cProperties* props);

 private:
  static void* northThreadEntry(void* self);
  void northThread();
  bool connectBroker();
  int readPort() const;
  void readLoop();
  void readOnce(unsigned char* buffer, size_t size, int* failures);
  // One datagram into buffer; returns its whole length, more than size when only its first size
  // bytes were kept. *overflow receives the kernel's count of datagrams dropped for a
  // full receive buffer when the read carries it.
  ssize_t receive(unsigned char* buffer, size_t size, uint32_t* overflow);
  void onOverflow(uint32_t overflow);
  void onBrokerData(const unsigned char* data, int length);
  void relayNorth(YMsg* msg);
  void sendSegments(YMsg* msg);
  bool sendBatch(const YMsg* msg, size_t first, size_t end);
  void onSendError(int err, size_t index, size_t count);

  cProperties* mProps;
  int mSocket;
  std::atomic<bool> mConnected;  // set by the north thread once the socket is connected
  cReassembler mPendingMsg;      // the partial message from the broker
  cLogLimit mReadErrors;         // north thread
  cLogLimit mTxErrors;           // modem reader thread (sendNorth)
  uint32_t mOverflow;            // the kernel's drop count last seen (north thread)
  cLogLimit mOverflows;          // north thread
};
