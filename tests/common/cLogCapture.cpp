#include "tests/common/cLogCapture.h"

#include <time.h>
#include <unistd.h>

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include "bench/cBenchClock.h"

namespace {

class CaptureAppender : public log4cpp::AppenderSkeleton {
 public:
  explicit CaptureAppender(cLogCapture* owner)
      : log4cpp::AppenderSkeleton("capture"), mOwner(owner) {}
  void close() override {}
  bool requiresLayout() const override { return false; }
  void setLayout(log4cpp::Layout* layout) override { delete layout; }

 protected:
  void _append(const log4cpp::LoggingEvent& e) override {
    try {
      mOwner->add(
          {log4cpp::Priority::getPriorityName(e.priority), e.categoryName, e.message, benchNow()});
    } catch (...) {  // tests that make allocations fail: log4cpp lets no exception through
    }
  }

 private:
  cLogCapture* mOwner;
};

}  // namespace

cLogCapture::cLogCapture() {
  pthread_mutex_init(&mMutex, nullptr);
  auto* appender = new CaptureAppender(this);
  mAppender = appender;
  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.setPriority(log4cpp::Priority::DEBUG);
  root.addAppender(appender);  // owned by the category from here on
}

cLogCapture::~cLogCapture() {
  log4cpp::Category::getRoot().removeAppender(static_cast<CaptureAppender*>(mAppender));
  pthread_mutex_destroy(&mMutex);
}

void cLogCapture::add(Record r) {
  pthread_mutex_lock(&mMutex);
  try {
    mRecords.push_back(std::move(r));
  } catch (...) {  // tests that make allocations fail: log4cpp lets no exception through
  }
  pthread_mutex_unlock(&mMutex);
}

std::vector<cLogCapture::Record> cLogCapture::records() const {
  pthread_mutex_lock(&mMutex);
  std::vector<Record> copy = mRecords;
  pthread_mutex_unlock(&mMutex);
  return copy;
}

std::vector<cLogCapture::Record> cLogCapture::matching(const std::string& text,
                                                       const std::string& category) const {
  std::vector<Record> out;
  for (const Record& r : records()) {
    if (r.message.find(text) != std::string::npos && (category.empty() || r.category == category))
      out.push_back(r);
  }
  return out;
}

int cLogCapture::count(const std::string& text, const std::string& category) const {
  return static_cast<int>(matching(text, category).size());
}

bool cLogCapture::waitFor(const std::string& text, int n, int timeoutMs) const {
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    if (count(text) >= n) return true;
    usleep(10 * 1000);
  }
  return count(text) >= n;
}

void cLogCapture::clear() {
  pthread_mutex_lock(&mMutex);
  mRecords.clear();
  pthread_mutex_unlock(&mMutex);
}
