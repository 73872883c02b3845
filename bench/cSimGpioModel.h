#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One pin of the simulated GPIO device.
struct cSimPin {
  std::string name;
  uint16_t id;
  uint16_t value;
};

// One record of a write call the daemon made. time: CLOCK_MONOTONIC seconds of this process.
struct cSimGpioWrite {
  double time;
  uint16_t pin;
  uint16_t value;
};

// The state and rules of the simulated pvxio device, free of any transport: the pin table, the
// present values, every write call kept with its time, and faults to inject. Thread-safe: the
// device side is called from the thread serving the daemon's calls, the rest from tests.
class cSimGpioModel {
 public:
  static constexpr size_t kEntrySize = 20;
  static constexpr size_t kNameSize = 16;
  static constexpr size_t kRecordSize = 4;

  explicit cSimGpioModel(std::vector<cSimPin> pins);
  ~cSimGpioModel();
  cSimGpioModel(const cSimGpioModel&) = delete;
  cSimGpioModel& operator=(const cSimGpioModel&) = delete;

  // Device side. Each returns the call's result; on failure -1 with *err set to an errno value.
  // The pin-count request: the number of pins (or the injected reply).
  long countRequest(int* err);
  // The pin-table request: fills out with one entry per pin, as many entries as the last count
  // reply announced (never more than the table holds).
  long tableRequest(std::vector<uint8_t>* out, int* err);
  // A read of len bytes: one record per pin while whole records fit.
  long readRequest(size_t len, std::vector<uint8_t>* out, int* err);
  // A write of len bytes: whole records only; each sets its pin when the device has it.
  long writeRequest(const uint8_t* data, size_t len, int* err);

  // Control side.
  // Sets an input's value; true when the value changed.
  bool setInput(uint16_t pin, uint16_t value);
  int value(uint16_t pin) const;                  // -1 when there is no such pin
  uint16_t pinId(const std::string& name) const;  // 0xFFFF when there is no such pin
  std::vector<std::vector<cSimGpioWrite>> writes() const;
  void clearWrites();
  std::vector<double> readTimes() const;  // time of every read call
  int countRequests() const;

  // Faults: the count request answers reply instead of the table size (nullopt: the true size);
  // the table request, reads or writes fail with EIO.
  void setCountReply(std::optional<int> reply);
  void setTableFails(bool fails);
  void setReadFails(bool fails);
  void setWriteFails(bool fails);

 private:
  cSimPin* findLocked(uint16_t id);

  mutable pthread_mutex_t mMutex;
  std::vector<cSimPin> mPins;
  std::vector<std::vector<cSimGpioWrite>> mWrites;
  std::vector<double> mReadTimes;
  int mCountRequests = 0;
  long mLastCount = 0;
  std::optional<int> mCountReply;
  bool mTableFails = false;
  bool mReadFails = false;
  bool mWriteFails = false;
};
