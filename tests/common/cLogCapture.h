#pragma once

#include <pthread.h>

#include <string>
#include <vector>

// Captures the daemon's log records in memory for in-process tests: attaches an appender to the
// log4cpp root category at DEBUG for its lifetime.
class cLogCapture {
 public:
  struct Record {
    std::string level;  // "DEBUG", "INFO", "WARN", "ERROR", "FATAL"
    std::string category;
    std::string message;
    double time;  // CLOCK_MONOTONIC seconds
  };

  cLogCapture();
  ~cLogCapture();
  cLogCapture(const cLogCapture&) = delete;
  cLogCapture& operator=(const cLogCapture&) = delete;

  std::vector<Record> records() const;
  // Records whose message contains text (and, when given, whose category is category).
  std::vector<Record> matching(const std::string& text, const std::string& category = "") const;
  int count(const std::string& text, const std::string& category = "") const;
  // Waits up to timeoutMs of real time until count(text) reaches n; true when it did.
  bool waitFor(const std::string& text, int n = 1, int timeoutMs = 5000) const;
  void clear();

  void add(Record r);

 private:
  mutable pthread_mutex_t mMutex;
  std::vector<Record> mRecords;
  void* mAppender;
};
