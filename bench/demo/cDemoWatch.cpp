#include "bench/demo/cDemoWatch.h"

#include "bench/cBench.h"
#include "bench/demo/cDemoText.h"
#include "support/YMsg.h"

namespace {

// The serialised units (segments or datagrams) that carried one message of payloadBytes, taken
// in order from sizes at *cursor: units are taken until their payloads add up to the message.
void takeUnits(const std::vector<size_t>& sizes, size_t* cursor, size_t payloadBytes,
               cDemoRelay* relay) {
  const size_t header = YMsg::kHeaderSize;
  size_t carried = 0;
  relay->units = 0;
  relay->largest = 0;
  while (*cursor < sizes.size() && (relay->units == 0 || carried < payloadBytes)) {
    size_t size = sizes[(*cursor)++];
    carried += size > header ? size - header : 0;
    relay->largest = std::max(relay->largest, size);
    ++relay->units;
  }
}

}  // namespace

cDemoWatch::cDemoWatch(cBench& bench) : mBench(bench) {}

void cDemoWatch::update() {
  std::lock_guard<std::mutex> lock(mMutex);
  double now = cBench::now();
  takeLog();
  takeCommands();
  takeSouth(now);
  takeNorth();
  takeLeds();
}

void cDemoWatch::note(const std::string& who, const std::string& text) {
  std::lock_guard<std::mutex> lock(mMutex);
  add(cBench::now(), who, text);
}

void cDemoWatch::add(double time, const std::string& who, const std::string& text) {
  mEvents.push_back({time, who, text});
}

// The link state changes, the pairing requests, commands that got no reply, leaving bypass mode,
// and anything the daemon logged as a warning or worse.
void cDemoWatch::takeLog() {
  std::vector<cBenchLog::cLine> lines = mBench.log().lines();
  for (; mLogNext < lines.size(); ++mLogNext) {
    const cBenchLog::cLine& l = lines[mLogNext];
    double time = logTime(l);
    std::string state = cDemoText::goingState(l.message);
    if (!state.empty()) {
      add(time, "link", mLinkState + " -> " + state + "   (" + l.message + ")");
      mLinkState = state;
      ++mStateChanges;
    } else if (l.message == "Enable Pairing") {
      add(time, "daemon", "button held: Enable Pairing");
    } else if (l.message == "Timed out") {
      add(time, "daemon", "no reply from the module: Timed out");
    } else if (l.message == "Probably need to bail now") {
      add(time, "daemon", "status line in bypass mode: back to command mode (" + l.message + ")");
    } else if (l.level != "DEBUG" && l.level != "INFO") {
      add(time, "daemon", l.level + " " + l.category + ": " + cDemoText::oneLine(l.message));
    }
  }
}

// The daemon's own clock dates a line more closely than the moment the follower read it: the real
// time of that clock's zero is estimated from the lines so far (the most promptly read one wins).
double cDemoWatch::logTime(const cBenchLog::cLine& line) {
  double clock = line.daemonTime / mBench.speed();
  mLogZero = std::min(mLogZero, line.time - clock);
  return mLogZero + clock;
}

void cDemoWatch::takeCommands() {
  std::vector<cSimModule::cCommand> commands = mBench.module().commands();
  for (; mCommandNext < commands.size(); ++mCommandNext) {
    const cSimModule::cCommand& c = commands[mCommandNext];
    add(c.time, "module", "<- " + c.line + (c.inBypass ? "   (inside the bypass stream)" : ""));
  }
}

// Messages the peer put back together; the module records no times, so they carry the time
// they were first seen.
void cDemoWatch::takeSouth(double now) {
  std::vector<std::vector<uint8_t>> messages = mBench.module().messages();
  if (mSouthNext >= messages.size()) return;
  std::vector<int> ids = mBench.module().messageIds();
  std::vector<size_t> sizes = mBench.module().segmentSizes();
  for (; mSouthNext < messages.size(); ++mSouthNext) {
    cDemoRelay r{now, false, ids[mSouthNext], messages[mSouthNext], 0, 0};
    takeUnits(sizes, &mSouthUnitNext, r.payload.size(), &r);
    mRelays.push_back(r);
    add(now, "relay", cDemoText::relay(r));
  }
}

void cDemoWatch::takeNorth() {
  std::vector<cSimBroker::cMessage> messages = mBench.broker().messages();
  if (mNorthNext >= messages.size()) return;
  std::vector<size_t> sizes;
  for (const cSimBroker::cDatagram& d : mBench.broker().datagrams())
    sizes.push_back(d.bytes.size());
  for (; mNorthNext < messages.size(); ++mNorthNext) {
    const cSimBroker::cMessage& m = messages[mNorthNext];
    cDemoRelay r{m.time, true, m.id, m.payload, 0, 0};
    takeUnits(sizes, &mNorthUnitNext, r.payload.size(), &r);
    mRelays.push_back(r);
    add(m.time, "relay", cDemoText::relay(r));
  }
}

void cDemoWatch::takeLeds() {
  std::vector<cDemoLeds::cChange> changes =
      cDemoLeds::changes(cBenchLeds::samples(mBench.gpio()), mBench.gpio().readTimes());
  for (size_t i = mLeds.size(); i < changes.size(); ++i) {
    add(changes[i].time, "LEDs", changes[i].view);
  }
  mLeds = changes;
}

std::vector<cDemoEvent> cDemoWatch::eventsFrom(size_t index) const {
  std::lock_guard<std::mutex> lock(mMutex);
  if (index >= mEvents.size()) return {};
  return std::vector<cDemoEvent>(mEvents.begin() + static_cast<long>(index), mEvents.end());
}

std::vector<cDemoRelay> cDemoWatch::relays() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mRelays;
}

std::vector<cDemoLeds::cChange> cDemoWatch::ledChanges() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mLeds;
}

std::string cDemoWatch::ledView() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mLeds.empty() ? "" : mLeds.back().view;
}

std::string cDemoWatch::linkState() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mLinkState;
}

int cDemoWatch::stateChanges() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mStateChanges;
}
