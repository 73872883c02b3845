#include "link/cBTMsg.h"

#include <time.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <string>

#include "io/cIO.h"
#include "modem/cBTModem.h"
#include "modem/cSerialTrace.h"
#include "north/cLocalMsg.h"
#include "support/cLoopGuard.h"
#include "support/cProgress.h"
#include "support/monotonicCond.h"

namespace {

// Set once by create() after the constructor has returned; read by every thread.
std::atomic<cBTMsg*> sInstance{nullptr};

const int kTickSeconds = 10;
const int kStartupSeconds = 10;
const uint32_t kDiscoverySeconds = 120;
const char* const kStatsKey = "ferryd.stats.interval";
const char* const kStateNames[4] = {"stand-by", "discovery", "paired", "connected"};

int64_t monotonicSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec;
}

}  // namespace

// One row per link state: the transition log line, the entry action and the per-tick action.
struct cBTMsg::cStateRow {
  const char* going;
  void (cBTMsg::*entry)();
  void (cBTMsg::*tick)();
};

const cBTMsg::cStateRow cBTMsg::kStates[4] = {
    {"Going BT_LINK_STANDBY", &cBTMsg::enterStandby, &cBTMsg::tickStandby},
    {"Going BT_LINK_DISCOVERY", &cBTMsg::enterDiscovery, &cBTMsg::tickDiscovery},
    {"Going BT_LINK_PAIRED", &cBTMsg::enterPaired, &cBTMsg::tickPaired},
    {"Going BT_LINK_CONNECTED", &cBTMsg::enterConnected, &cBTMsg::tickConnected},
};

cBTMsg* cBTMsg::instance() {
  return sInstance.load(std::memory_order_acquire);
}

void cBTMsg::create(cProperties* props) {
  if (instance() != nullptr) return;
  cIO::setLedMode(0);  // steady red while the module is prepared
  cIO::setLedBlink(0);
  cBTMsg* created = new cBTMsg(props);
  sInstance.store(created, std::memory_order_release);
}

cBTMsg::cBTMsg(cProperties* props)
    : cYlog("cBTMsg"),
      mModem(nullptr),
      mProps(props),
      mLinkState(BT_LINK_STANDBY),
      mSetUp(false),
      mRequestedState(BT_LINK_STANDBY),
      mDiscoveryStart(0),
      mPendingMsg(*this, "module to broker", cStats::kNorth),
      mSegSize(kDefaultSegSize),
      mStats(readStatsInterval(), monotonicSeconds()) {
  mModem = new cBTModem(mProps->getString("ferryd.io.tty", "/dev/ttyS5"), this,
                        cSerialTrace::fromConfig(*mProps));
  mSegSize = readSegSize();
  pthread_mutex_init(&mStateMutex, nullptr);
  initMonotonicCond(&mStateCond);
  cProgress::mark(cProgress::kLinkState);  // watched from now on, even if it never starts
  pthread_t thread;
  int rc = pthread_create(&thread, nullptr, &cBTMsg::stateThreadEntry, this);
  if (rc == 0) {
    pthread_detach(thread);
  } else {
    error("Could not start the link state thread err(%d): the link state machine does not run", rc);
  }
}

// A segment must carry at least one payload byte, and its frame must fit the modem's buffer.
int32_t cBTMsg::readSegSize() const {
  int value = mProps->getInt("ferryd.io.segsize", kDefaultSegSize);
  if (value >= kMinSegSize && value <= kMaxSegSize) return value;
  warn("%s: ferryd.io.segsize = %d is outside %d..%d, using the default %d", mProps->path().c_str(),
       value, kMinSegSize, kMaxSegSize, kDefaultSegSize);
  return kDefaultSegSize;
}

// Negative values are reported with the file and the default used; 0 turns the summary off.
int cBTMsg::readStatsInterval() const {
  int value = mProps->getInt(kStatsKey, kDefaultStatsInterval);
  if (value >= 0) return value;
  warn("%s: %s = %d is negative, using the default %d", mProps->path().c_str(), kStatsKey, value,
       kDefaultStatsInterval);
  return kDefaultStatsInterval;
}

// Requests only store the wanted state and wake the link state thread: no lock, no wait.
void cBTMsg::post(int32_t state) {
  cBTMsg* self = instance();
  if (self == nullptr) return;
  self->mRequestedState.store(state);
  self->signalState();
}

void cBTMsg::signalState() {
  pthread_cond_signal(&mStateCond);
}

const char* cBTMsg::linkStateName() {
  cBTMsg* self = instance();
  if (self == nullptr) return "none";
  if (!self->mSetUp.load()) return "set-up";
  int32_t state = self->mLinkState.load();
  return state >= BT_LINK_STANDBY && state <= BT_LINK_CONNECTED ? kStateNames[state] : "unknown";
}

void cBTMsg::logCounters() {
  cBTMsg* self = instance();
  if (self != nullptr) self->info("%s", cStats::summary().c_str());
}

void cBTMsg::requestDiscovery() {
  post(BT_LINK_DISCOVERY);
}
void cBTMsg::requestPairing() {
  requestDiscovery();
}
void cBTMsg::requestPaired() {
  post(BT_LINK_PAIRED);
}
void cBTMsg::requestConnected() {
  post(BT_LINK_CONNECTED);
}

void cBTMsg::onBondOk() {
  requestPaired();
}

// Entering bypass mode is the peer's connection; leaving it, either way, is its loss.
void cBTMsg::onModeChange(ModeChange change) {
  if (change == kBypassEntered) {
    requestConnected();
  } else {
    requestDiscovery();
  }
}

void cBTMsg::onFrame(const unsigned char* payload, int len) {
  onModemFrame(payload, len);
}

void cBTMsg::sendToModem(const char* data, int length) {
  cBTMsg* self = instance();
  if (self == nullptr) return;
  self->mModem->write(data, length);
}

void* cBTMsg::stateThreadEntry(void* self) {
  static_cast<cBTMsg*>(self)->stateThread();
  return nullptr;
}

void cBTMsg::stateThread() {
  cLoopGuard guard(*this, "link state");
  guard.run([this] { startUp(); });
  for (;;) guard.run([this] { tick(); });
}

// Leaves the module unbonded and named, as the stand-by entry would, then the LEDs dark.
void cBTMsg::startUp() {
  cProgress::mark(cProgress::kLinkState);
  sleep(kStartupSeconds);
  mModem->disableBond();
  mModem->eraseBondTable();
  mModem->setName(mProps->getString("ferryd.io.btname", "Bramblefox"));
  cIO::setLedMode(2);
  mSetUp.store(true);
}

// One wake-up: a request's signal or the 10-second deadline, whichever comes first. Progress is
// marked on both sides of the wait (and at every step of an AT transaction), so a healthy thread
// is never silent for much longer than one wait.
void cBTMsg::tick() {
  cProgress::mark(cProgress::kLinkState);
  pthread_mutex_lock(&mStateMutex);
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += kTickSeconds;
  pthread_cond_timedwait(&mStateCond, &mStateMutex, &deadline);
  debug("State tick");
  pthread_mutex_unlock(&mStateMutex);
  cProgress::mark(cProgress::kLinkState);

  int32_t requested = mRequestedState.load();
  if (requested != mLinkState) enterState(requested);
  runStateTick();
  logStats();
}

void cBTMsg::logStats() {
  std::string line;
  if (mStats.due(monotonicSeconds(), &line)) info("%s", line.c_str());
}

void cBTMsg::enterState(int32_t state) {
  if (state < BT_LINK_STANDBY || state > BT_LINK_CONNECTED) {
    error("Unknown state %d Going BT_LINK_STANDBY", state);
    enterStandby();
    return;
  }
  const cStateRow& row = kStates[state];
  info("%s", row.going);
  (this->*row.entry)();
}

void cBTMsg::runStateTick() {
  int32_t state = mLinkState;
  if (state < BT_LINK_STANDBY || state > BT_LINK_CONNECTED) {
    error("Unknown state %d Going BT_LINK_STANDBY", state);
    enterStandby();
    return;
  }
  const cStateRow& row = kStates[state];
  (this->*row.tick)();
}

void cBTMsg::enterStandby() {
  info("BT_LINK_STANDBY");
  cIO::setLedMode(0);
  cIO::setLedBlink(0);
  mModem->disableBond();
  mModem->eraseBondTable();
  mLinkState = BT_LINK_STANDBY;
}

void cBTMsg::enterDiscovery() {
  info("BT_LINK_DISCOVERY");
  cIO::setLedMode(0);
  cIO::setLedBlink(0);
  mModem->enableBond();
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  mLinkState = BT_LINK_DISCOVERY;
  mDiscoveryStart = static_cast<int32_t>(now.tv_sec);
}

void cBTMsg::enterPaired() {
  info("BT_LINK_PAIRED");
  mLinkState = BT_LINK_PAIRED;
}

void cBTMsg::enterConnected() {
  info("BT_LINK_CONNECTED");
  mLinkState = BT_LINK_CONNECTED;
  cIO::setLedMode(1);
  cIO::setLedBlink(0);
}

void cBTMsg::tickStandby() {
  cIO::setLedMode(2);
}

void cBTMsg::tickDiscovery() {
  cIO::setLedMode(0);
  cIO::setLedBlink(1);
  checkDiscoveryTimeout();
}

void cBTMsg::tickPaired() {
  cIO::setLedMode(1);
  cIO::setLedBlink(1);
}

void cBTMsg::tickConnected() {
  cIO::setLedMode(1);
  cIO::setLedBlink(0);
}

// Asks for stand-by once discovery has lasted 120 s; taken at the next wake-up unless a later
// request (a held pairing button) overwrites it first.
void cBTMsg::checkDiscoveryTimeout() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint32_t elapsed = static_cast<uint32_t>(static_cast<int32_t>(now.tv_sec)) -
                     static_cast<uint32_t>(mDiscoveryStart);
  if (elapsed < kDiscoverySeconds) return;
  mRequestedState.store(BT_LINK_STANDBY);
  signalState();
}

void cBTMsg::sendSouth(YMsg* msg) {
  if (msg == nullptr) return;
  cBTMsg* self = instance();
  if (self == nullptr) {
    delete msg;
    return;
  }
  self->relaySouth(msg);
}

// Hands the message to the module driver in serialised segments of mSegSize bytes; the message
// counts as relayed when every segment was written. Without memory to cut it, it is dropped.
// While it is on its way the serial writes are watched: a module that stops reading blocks them.
void cBTMsg::relaySouth(YMsg* msg) {
  std::unique_ptr<YMsg> owned(msg);
  cProgress::mark(cProgress::kSouthRelay);
  try {
    relaySegments(msg);
  } catch (const std::bad_alloc&) {
    cStats::add(cStats::kSouth, cStats::kOutOfMemory);
    error("Out of memory: message of %zu bytes to the module dropped", msg->payload().size());
  }
  cProgress::clear(cProgress::kSouthRelay);
}

// A segment is handed over after the write before it has returned: each one marks progress.
void cBTMsg::relaySegments(YMsg* msg) {
  bool whole = mModem->sendSegments(
      msg, mSegSize,
      [](void* self, int n) {
        cProgress::mark(cProgress::kSouthRelay);
        static_cast<cBTMsg*>(self)->debug("BTModem sent %d bytes", n);
      },
      this);
  if (!whole) return;
  cStats::add(cStats::kSouth, cStats::kMessages);
  cStats::add(cStats::kSouth, cStats::kBytes, msg->payload().size());
}

void cBTMsg::onModemFrame(const unsigned char* data, int length) {
  cBTMsg* self = instance();
  if (self == nullptr) return;
  YMsg* complete = self->mPendingMsg.onUnit(data, length);
  if (complete != nullptr) cLocalMsg::sendNorth(complete);
}
