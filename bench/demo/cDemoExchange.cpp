#include "bench/demo/cDemoExchange.h"

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"
#include "bench/cBenchWire.h"
#include "bench/demo/cDemoText.h"

namespace {

// The segment size the peer uses towards the daemon, and the limits the daemon must keep.
const int kPeerSegSize = 256;
const size_t kSouthLimit = 256;  // "ferryd.io.segsize" left at its default
const size_t kNorthLimit = cSimBroker::kMaxDatagram;

const char* const kSouthText =
    "broker says: AT-AB -CommandMode- is only text here, the peer must get all of it";
const char* const kNorthText =
    "peer says: AT-AB -CommandMode- inside a message must not end bypass mode";

}  // namespace

std::vector<cDemoExchange::cMessage> cDemoExchange::messages() {
  return {
      {false, 1, cBenchWire::payload(100, 1), true,
       "broker -> peer, 100 bytes: intact, one segment"},
      {true, 2, cBenchWire::payload(200, 2), true,
       "peer -> broker, 200 bytes: intact, one datagram"},
      {true, 3, cBenchWire::bytes(kNorthText), true,
       "peer -> broker, holding \"AT-AB\": intact, one datagram"},
      {false, 4, cBenchWire::bytes(kSouthText), true,
       "broker -> peer, holding \"AT-AB\": intact, one segment"},
      {false, 5, cBenchWire::payload(1000, 5), false,
       "broker -> peer, 1000 bytes: intact, several segments of at most 256 bytes"},
      {true, 6, cBenchWire::payload(3000, 6), false,
       "peer -> broker, 3000 bytes: intact, several datagrams of at most 1024 bytes"},
  };
}

// The messages after the two holding "AT-AB" cross only while the daemon still frames and
// unframes, that is, while it is still in bypass mode.
bool cDemoExchange::play() {
  int bails = logCount("Probably need to bail now");
  int changes = mWatch.stateChanges();
  bool all = true;
  for (const cMessage& m : messages()) {
    cDemoRelay seen{};
    bool arrived = relay(m, &seen);
    check(m, arrived, seen);
    all = all && arrived;
    dwell(1);
  }
  mWatch.update();
  bool stayed = logCount("Probably need to bail now") == bails && mWatch.stateChanges() == changes;
  expect(
      "\"AT-AB\" in messages both ways did not end bypass mode: no escape, still connected, "
      "and the messages after them crossed too",
      stayed && all);
  return stayed && all;
}

bool cDemoExchange::relay(const cMessage& m, cDemoRelay* seen) {
  const int waitMs = mBench.realMs(3, cBenchSteps::kMarginMs);
  bool arrived;
  if (m.north) {
    size_t before = mBench.broker().messages().size();
    size_t frames = cBenchWire::segments(m.id, m.payload, kPeerSegSize).size();
    say("peer", "sends message " + std::to_string(m.id) + ": " + std::to_string(m.payload.size()) +
                    " bytes in " + cDemoText::count(frames, "frame"));
    mBench.module().sendMessage(m.id, m.payload, kPeerSegSize);
    arrived = mBench.broker().waitForMessages(before + 1, waitMs);
  } else {
    size_t before = mBench.module().messages().size();
    say("broker", "sends message " + std::to_string(m.id) + ": " +
                      std::to_string(m.payload.size()) + " bytes");
    int datagrams = mBench.broker().sendMessage(m.id, m.payload);
    arrived = datagrams > 0 && mBench.module().waitForMessages(before + 1, waitMs);
  }
  mWatch.update();
  for (const cDemoRelay& r : mWatch.relays()) {
    if (r.north == m.north && r.id == m.id) *seen = r;
  }
  return arrived && seen->units > 0;
}

void cDemoExchange::check(const cMessage& m, bool arrived, const cDemoRelay& seen) {
  bool intact = arrived && seen.payload == m.payload;
  size_t limit = m.north ? kNorthLimit : kSouthLimit;
  bool shape = m.oneUnit ? seen.units == 1 : seen.units > 1 && seen.largest <= limit;
  std::string detail = arrived ? cDemoText::relay(seen) : "did not arrive";
  if (arrived && !intact) detail += ", content differs";
  expect(m.expectation, intact && shape, detail);
}
