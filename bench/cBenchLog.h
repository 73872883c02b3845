#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Follows the daemon's log file as the daemon writes it. The daemon logs with the layout of
// kPattern: each record starts a line with "@@", its daemon-clock milliseconds, level and
// category; message lines that follow without the marker belong to the record before.
class cBenchLog {
 public:
  static constexpr const char* kPattern = "@@ %r %p %c: %m%n";

  struct cLine {
    double time;        // CLOCK_MONOTONIC seconds of this process when the line was read
    double daemonTime;  // the daemon's clock: seconds since its logging started
    std::string level;  // DEBUG, INFO, WARN, ERROR, FATAL
    std::string category;
    std::string message;
  };

  cBenchLog();
  ~cBenchLog();
  cBenchLog(const cBenchLog&) = delete;
  cBenchLog& operator=(const cBenchLog&) = delete;

  // Starts following path from its beginning (it may not exist yet); forgets earlier lines.
  void follow(const std::string& path);
  // Reads what is left and stops following.
  void stop();

  std::vector<cLine> lines() const;
  // Lines whose message contains text (and whose category is category, when given).
  std::vector<cLine> matching(const std::string& text, const std::string& category = "") const;
  int count(const std::string& text, const std::string& category = "") const;
  // Index of the first line at or after from whose message contains text; -1 when none.
  int find(const std::string& text, size_t from = 0) const;
  size_t size() const;
  // Waits up to timeoutMs of real time until count(text) reaches n; true when it did.
  bool waitFor(const std::string& text, size_t n = 1, int timeoutMs = 10000) const;
  // Waits up to timeoutMs until everything the file held at the call has been read; true when it
  // has. Lines the daemon writes after an event that a simulator saw may still be on their way:
  // wait for them with waitFor first.
  bool sync(int timeoutMs = 2000) const;
  // Called on the follower thread with every new record (its first line) as it arrives.
  void setListener(std::function<void(const cLine&)> listener);

 private:
  static void* followerEntry(void* self);
  void follower();
  bool readMore(int* fd, std::string* partial);
  void onText(const std::string& text);
  void onRecordLine(const std::string& line, double now);

  std::string mPath;
  pthread_t mThread;
  bool mFollowing;
  std::atomic<bool> mStop;
  std::atomic<long long> mConsumed;  // bytes of the file read so far
  mutable std::mutex mMutex;
  mutable std::condition_variable mChanged;
  std::vector<cLine> mLines;
  std::function<void(const cLine&)> mListener;
};
