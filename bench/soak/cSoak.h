#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Relays many messages both ways at once through the real daemon in bypass mode and checks
// each one at the far end: the broker sends to the peer while the peer sends to the broker.
struct cSoakOptions {
  long count = 100000;           // messages each way
  uint32_t seed = 1;             // sizes and contents follow from it
  int maxSize = 10000;           // sizes are 1..maxSize bytes
  double speed = 1;              // the daemon's clock speed (libfaketime), 1: real time
  int peerSegSize = 1000;        // segments the peer sends (the daemon's own size stays 256)
  long windowBytes = 48 * 1024;  // payload in flight per direction (UDP buffers are finite)
  bool progress = false;         // a line on stderr every tenth of the run
};

// What arrived in one direction.
struct cSoakCount {
  long sent = 0;
  long received = 0;  // arrived whole and in order
  long lost = 0;
  long corrupted = 0;
  long duplicated = 0;
  uint64_t bytes = 0;  // payload bytes received whole
};

struct cSoakResult {
  bool started = false;  // the daemon came up, the peer connected, the broker linked
  std::string failure;   // why not
  cSoakCount south;      // broker to peer
  cSoakCount north;      // peer to broker
  long memStartKb = -1;  // the daemon's private memory
  long memEndKb = -1;
  double cpuSeconds = 0;   // the daemon's utime + stime over the relay
  double realSeconds = 0;  // the relay's duration
  bool clean() const;      // started, and nothing lost, corrupted or duplicated either way
  double megabytes() const;
};

class cSoak {
 public:
  explicit cSoak(cSoakOptions options) : mOptions(options) {}
  cSoakResult run();
  // The index-th message of a direction (0 south, 1 north): 1..maxSize random bytes, with
  // "AT-AB", flag and escape bytes mixed in.
  static std::vector<uint8_t> message(uint32_t seed, int direction, long index, int maxSize);
  static std::string report(const cSoakResult& r);

 private:
  cSoakOptions mOptions;
};
