#include "bench/cBenchLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "bench/cBenchClock.h"

cBenchLog::cBenchLog() : mThread(), mFollowing(false), mStop(false), mConsumed(0) {}

cBenchLog::~cBenchLog() {
  stop();
}

void cBenchLog::follow(const std::string& path) {
  stop();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.clear();
  }
  mPath = path;
  mStop = false;
  mConsumed = 0;
  mFollowing = true;
  pthread_create(&mThread, nullptr, &cBenchLog::followerEntry, this);
}

void cBenchLog::stop() {
  if (!mFollowing) return;
  mStop = true;
  pthread_join(mThread, nullptr);
  mFollowing = false;
}

void* cBenchLog::followerEntry(void* self) {
  static_cast<cBenchLog*>(self)->follower();
  return nullptr;
}

void cBenchLog::follower() {
  int fd = -1;
  std::string partial;
  const timespec step = {0, 5 * 1000 * 1000};
  for (;;) {
    bool stopping = mStop;  // read once more after the stop request
    while (readMore(&fd, &partial)) {
    }
    if (stopping) break;
    nanosleep(&step, nullptr);
  }
  if (fd >= 0) close(fd);
}

// Takes the complete lines that have arrived; true when something was read.
bool cBenchLog::readMore(int* fd, std::string* partial) {
  if (*fd < 0) *fd = open(mPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd < 0) return false;
  char buffer[65536];
  ssize_t n = read(*fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  partial->append(buffer, static_cast<size_t>(n));
  size_t end = partial->rfind('\n');
  if (end != std::string::npos) {
    onText(partial->substr(0, end));
    partial->erase(0, end + 1);
  }
  mConsumed += n;
  return true;
}

void cBenchLog::onText(const std::string& text) {
  double now = benchNow();
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) onRecordLine(line, now);
}

void cBenchLog::onRecordLine(const std::string& line, double now) {
  if (line.compare(0, 3, "@@ ") != 0) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mLines.empty()) mLines.back().message += "\n" + line;
    return;
  }
  cLine record{now, 0, "", "", ""};
  std::istringstream in(line.substr(3));
  long long ms = 0;
  in >> ms >> record.level >> record.category;
  if (!record.category.empty() && record.category.back() == ':') record.category.pop_back();
  record.daemonTime = ms / 1000.0;
  std::getline(in, record.message);
  if (!record.message.empty() && record.message[0] == ' ') record.message.erase(0, 1);
  std::function<void(const cLine&)> listener;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.push_back(record);
    listener = mListener;
  }
  mChanged.notify_all();
  if (listener) listener(record);
}

std::vector<cBenchLog::cLine> cBenchLog::lines() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mLines;
}

std::vector<cBenchLog::cLine> cBenchLog::matching(const std::string& text,
                                                  const std::string& category) const {
  std::vector<cLine> out;
  for (const cLine& l : lines()) {
    if (l.message.find(text) != std::string::npos && (category.empty() || l.category == category))
      out.push_back(l);
  }
  return out;
}

int cBenchLog::count(const std::string& text, const std::string& category) const {
  return static_cast<int>(matching(text, category).size());
}

int cBenchLog::find(const std::string& text, size_t from) const {
  std::lock_guard<std::mutex> lock(mMutex);
  for (size_t i = from; i < mLines.size(); ++i) {
    if (mLines[i].message.find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

size_t cBenchLog::size() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mLines.size();
}

bool cBenchLog::waitFor(const std::string& text, size_t n, int timeoutMs) const {
  auto counted = [&] {
    size_t c = 0;
    for (const cLine& l : mLines) c += l.message.find(text) != std::string::npos;
    return c >= n;
  };
  std::unique_lock<std::mutex> lock(mMutex);
  return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), counted);
}

bool cBenchLog::sync(int timeoutMs) const {
  struct stat st;
  if (stat(mPath.c_str(), &st) != 0) return true;  // nothing written yet
  const timespec step = {0, 2 * 1000 * 1000};
  for (int waited = 0; waited <= timeoutMs; waited += 2) {
    if (mConsumed.load() >= st.st_size) return true;
    nanosleep(&step, nullptr);
  }
  return false;
}

void cBenchLog::setListener(std::function<void(const cLine&)> listener) {
  std::lock_guard<std::mutex> lock(mMutex);
  mListener = std::move(listener);
}
