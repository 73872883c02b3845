#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ferrycat/cBrokerSocket.h"
#include "ferrycat/cFrameReceiver.h"
#include "support/cYlog.h"

// Stand-in for the message broker: ferrycat's broker socket (cBrokerSocket) on 127.0.0.1,
// exchanging one serialised segment per datagram with the daemon; ferrycat broker's receiving
// (cFrameReceiver on libferry's datagram codec) puts messages back together. Records every datagram
// received and every message put back together, with CLOCK_MONOTONIC times of this process.
class cSimBroker {
 public:
  static constexpr int kMaxDatagram = 1024;

  struct cDatagram {
    double time;
    std::vector<uint8_t> bytes;
  };
  struct cMessage {
    double time;
    int id;
    std::vector<uint8_t> payload;
  };

  // Binds 127.0.0.1:port (0: a port the system picks) and starts receiving. Throws
  // std::runtime_error when the port cannot be bound.
  explicit cSimBroker(uint16_t port = 0);
  ~cSimBroker();
  cSimBroker(const cSimBroker&) = delete;
  cSimBroker& operator=(const cSimBroker&) = delete;

  uint16_t port() const { return mPort; }

  // The daemon's socket is connected to this broker, so the broker must know the daemon's port to
  // send first. It learns it from any datagram received, or finds the UDP socket connected to its
  // own port in /proc/net/udp. True once known.
  bool waitForPeer(int timeoutMs);
  uint16_t peerPort() const;

  // Sends a whole message as segments of at most segSize serialised bytes (6..1024), one per
  // datagram; returns the number of datagrams sent, -1 when the daemon's port is not known yet or
  // a send failed.
  int sendMessage(int id, const std::vector<uint8_t>& payload, int segSize = kMaxDatagram);
  // Sends one datagram of any content and size (empty, cut, oversize, invalid).
  bool sendRaw(const std::vector<uint8_t>& bytes);

  // Hands every message from the daemon to sink (on the receiving thread) and keeps no record of
  // datagrams or messages (long runs).
  void setMessageSink(std::function<void(int id, const std::vector<uint8_t>& payload)> sink);
  // Closes the socket (false: nothing listens on the port, the daemon's sends bounce) or binds
  // the same port again (true).
  void setListening(bool listening);

  std::vector<cDatagram> datagrams() const;  // received, in order
  std::vector<cMessage> messages() const;    // reassembled from the datagrams, in order
  std::vector<cDatagram> sent() const;       // sent, in order
  bool waitForDatagrams(size_t n, int timeoutMs) const;
  bool waitForMessages(size_t n, int timeoutMs) const;

 private:
  static void* receiverEntry(void* self);
  void receiver();
  void onDatagram(const uint8_t* data, size_t length);
  void bindSocket(uint16_t port);  // throws std::runtime_error

  cYlog mLog;
  cBrokerSocket mSocket;
  uint16_t mPort;
  std::atomic<bool> mStop;
  pthread_t mThread;
  mutable std::mutex mMutex;
  mutable std::condition_variable mChanged;
  cFrameReceiver mReceiver;  // the receiver thread's only
  std::vector<cDatagram> mDatagrams;
  std::vector<cMessage> mMessages;
  std::vector<cDatagram> mSent;
  std::function<void(int, const std::vector<uint8_t>&)> mSink;
  bool mListening;
};
