#include "bench/cSimGpioModel.h"

#include <errno.h>
#include <time.h>

#include <algorithm>
#include <cstring>

#include "bench/cBenchClock.h"

namespace {

void put16(uint8_t* out, uint16_t v) {
  out[0] = static_cast<uint8_t>(v & 0xFF);
  out[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t get16(const uint8_t* in) {
  return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

// Serialises the model for one call.
class cLock {
 public:
  explicit cLock(pthread_mutex_t* m) : mM(m) { pthread_mutex_lock(mM); }
  ~cLock() { pthread_mutex_unlock(mM); }

 private:
  pthread_mutex_t* mM;
};

}  // namespace

cSimGpioModel::cSimGpioModel(std::vector<cSimPin> pins) : mPins(std::move(pins)) {
  pthread_mutex_init(&mMutex, nullptr);
}

cSimGpioModel::~cSimGpioModel() {
  pthread_mutex_destroy(&mMutex);
}

long cSimGpioModel::countRequest(int* err) {
  cLock lock(&mMutex);
  ++mCountRequests;
  long reply = mCountReply ? *mCountReply : static_cast<long>(mPins.size());
  mLastCount = reply;
  *err = reply < 0 ? EIO : 0;
  return reply;
}

long cSimGpioModel::tableRequest(std::vector<uint8_t>* out, int* err) {
  cLock lock(&mMutex);
  if (mTableFails) {
    *err = EIO;
    return -1;
  }
  size_t n = std::min(mPins.size(), static_cast<size_t>(std::max(mLastCount, 0L)));
  out->assign(n * kEntrySize, 0);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* entry = out->data() + i * kEntrySize;
    put16(entry, mPins[i].id);
    // A name of 16 bytes or more fills the field without a NUL, as a careless driver might.
    memcpy(entry + 4, mPins[i].name.data(), std::min(mPins[i].name.size(), kNameSize));
  }
  *err = 0;
  return static_cast<long>(std::max<size_t>(n, 1));
}

long cSimGpioModel::readRequest(size_t len, std::vector<uint8_t>* out, int* err) {
  cLock lock(&mMutex);
  mReadTimes.push_back(benchNow());
  if (mReadFails) {
    *err = EIO;
    return -1;
  }
  size_t n = std::min(len / kRecordSize, mPins.size());
  out->assign(n * kRecordSize, 0);
  for (size_t i = 0; i < n; ++i) {
    put16(out->data() + i * kRecordSize, mPins[i].id);
    put16(out->data() + i * kRecordSize + 2, mPins[i].value);
  }
  *err = 0;
  return static_cast<long>(n * kRecordSize);
}

long cSimGpioModel::writeRequest(const uint8_t* data, size_t len, int* err) {
  cLock lock(&mMutex);
  if (mWriteFails) {
    *err = EIO;
    return -1;
  }
  double now = benchNow();
  std::vector<cSimGpioWrite> call;
  for (size_t off = 0; off + kRecordSize <= len; off += kRecordSize) {
    call.push_back({now, get16(data + off), get16(data + off + 2)});
  }
  mWrites.push_back(call);
  if (len == 0 || len % kRecordSize != 0) {
    *err = EINVAL;
    return -1;
  }
  for (const cSimGpioWrite& w : call) {
    cSimPin* pin = findLocked(w.pin);
    if (pin != nullptr) pin->value = w.value;
  }
  *err = 0;
  return static_cast<long>(len);
}

bool cSimGpioModel::setInput(uint16_t id, uint16_t value) {
  cLock lock(&mMutex);
  cSimPin* pin = findLocked(id);
  if (pin == nullptr || pin->value == value) return false;
  pin->value = value;
  return true;
}

int cSimGpioModel::value(uint16_t id) const {
  cLock lock(&mMutex);
  cSimPin* pin = const_cast<cSimGpioModel*>(this)->findLocked(id);
  return pin == nullptr ? -1 : pin->value;
}

uint16_t cSimGpioModel::pinId(const std::string& name) const {
  cLock lock(&mMutex);
  uint16_t id = 0xFFFF;
  for (const cSimPin& p : mPins) {
    if (p.name == name) id = p.id;  // the last entry of that name, as the daemon resolves it
  }
  return id;
}

std::vector<std::vector<cSimGpioWrite>> cSimGpioModel::writes() const {
  cLock lock(&mMutex);
  return mWrites;
}

void cSimGpioModel::clearWrites() {
  cLock lock(&mMutex);
  mWrites.clear();
}

std::vector<double> cSimGpioModel::readTimes() const {
  cLock lock(&mMutex);
  return mReadTimes;
}

int cSimGpioModel::countRequests() const {
  cLock lock(&mMutex);
  return mCountRequests;
}

void cSimGpioModel::setCountReply(std::optional<int> reply) {
  cLock lock(&mMutex);
  mCountReply = reply;
}

void cSimGpioModel::setTableFails(bool fails) {
  cLock lock(&mMutex);
  mTableFails = fails;
}

void cSimGpioModel::setReadFails(bool fails) {
  cLock lock(&mMutex);
  mReadFails = fails;
}

void cSimGpioModel::setWriteFails(bool fails) {
  cLock lock(&mMutex);
  mWriteFails = fails;
}

// The device has one value per id: the last table entry with that id.
cSimPin* cSimGpioModel::findLocked(uint16_t id) {
  for (auto it = mPins.rbegin(); it != mPins.rend(); ++it) {
    if (it->id == id) return &*it;
  }
  return nullptr;
}
