#include "support/cYlog.h"

#include <pthread.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/PropertyConfigurator.hh>
#include <string>

namespace {

// Longer log lines are cut to this size.
constexpr size_t kLineSize = 1024;

const char* const kDefaultPattern = "%d{%Y-%m-%d %H:%M:%S,%l} %-5p %c: %m%n";

// Serialises the appenders: several threads may log on the same category at once.
pthread_mutex_t gAppendMutex = PTHREAD_MUTEX_INITIALIZER;

// True when the file exists and holds at least one line starting with "log4cpp.".
bool hasLog4cppSection(const char* path) {
  if (path == nullptr) return false;
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start != std::string::npos && line.compare(start, 8, "log4cpp.") == 0) return true;
  }
  return false;
}

void configureDefault() {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.removeAllAppenders();
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern(kDefaultPattern);
  auto* appender = new log4cpp::OstreamAppender("stderr", &std::cerr);
  appender->setLayout(layout);
  root.addAppender(appender);
  root.setPriority(log4cpp::Priority::INFO);
}

}  // namespace

void cYlog::init(const char* configPath) {
  // log4cpp's console appender writes to std::cout, which goes through stdio's stdout: fully
  // buffered when stdout is a pipe, a socket or a file (as under a service manager), so lines
  // would wait there and die with the process. Line buffering passes each line on at once.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  try {
    if (hasLog4cppSection(configPath)) {
      log4cpp::PropertyConfigurator::configure(configPath);
      return;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "log4cpp settings in %s not usable (%s): logging at INFO to stderr\n",
                 configPath, e.what());
  } catch (...) {
    std::fprintf(stderr, "log4cpp settings in %s not usable: logging at INFO to stderr\n",
                 configPath);
  }
  try {
    configureDefault();
  } catch (...) {
    // Nothing left to fall back on; logging stays as log4cpp has it.
  }
}

cYlog::cYlog(const char* category)
    : mCategory(&log4cpp::Category::getInstance(category ? category : "")) {}

bool cYlog::isDebugEnabled() const {
  return mCategory->isPriorityEnabled(log4cpp::Priority::DEBUG);
}

void cYlog::logv(int priority, const char* fmt, va_list args) const {
  char line[kLineSize];
  std::vsnprintf(line, sizeof line, fmt, args);
  pthread_mutex_lock(&gAppendMutex);
  try {
    mCategory->log(priority, std::string(line));
    // A layout without a line end still reaches the stream now.
    std::cout.flush();
  } catch (...) {
    // A failing appender must not take the caller down.
  }
  pthread_mutex_unlock(&gAppendMutex);
}

#define CYLOG_METHOD(name, level)                                        \
  void cYlog::name(const char* fmt, ...) const {                         \
    if (!mCategory->isPriorityEnabled(log4cpp::Priority::level)) return; \
    va_list args;                                                        \
    va_start(args, fmt);                                                 \
    logv(log4cpp::Priority::level, fmt, args);                           \
    va_end(args);                                                        \
  }

CYLOG_METHOD(debug, DEBUG)
CYLOG_METHOD(info, INFO)
CYLOG_METHOD(warn, WARN)
CYLOG_METHOD(error, ERROR)
CYLOG_METHOD(fatal, FATAL)

#undef CYLOG_METHOD
