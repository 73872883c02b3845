// Threads that cannot be created: the daemon names each in an error line and runs on without
// it. pthread_create is wrapped at link time (--wrap) so that it fails on demand.
#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "link/cBTMsg.h"
#include "north/cLocalMsg.h"
#include "support/YMsg.h"
#include "support/cProperties.h"
#include "support/cStats.h"
#include "tests/common/cLogCapture.h"

namespace {
std::atomic<bool> gFailThreads{false};
}

extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                     void* (*start)(void*), void* arg) {
  if (gFailThreads) return EAGAIN;
  return __real_pthread_create(thread, attr, start, arg);
}

namespace {

std::string configFile() {
  char path[] = "/tmp/ferryd-threads-XXXXXX";
  int fd = mkstemp(path);
  std::string text = "zam.broker.host = 127.0.0.1\nferryd.io.tty = /nonexistent/tty\n";
  EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  return path;
}

TEST(ThreadFailure, EveryThreadIsNamedAndTheDaemonRunsOn) {
  cLogCapture log;
  std::string path = configFile();
  static cProperties props;
  props.load(path.c_str());
  unlink(path.c_str());
  gFailThreads = true;
  cLocalMsg::create(&props);
  cBTMsg::create(&props);
  gFailThreads = false;
  ASSERT_NE(nullptr, cLocalMsg::instance());
  ASSERT_NE(nullptr, cBTMsg::instance());
  const char* lines[] = {"Could not start the north thread err(11)",
                         "Could not start the reader thread for /nonexistent/tty",
                         "Could not start the link state thread err(11)"};
  for (const char* line : lines) {
    auto found = log.matching(line);
    ASSERT_EQ(1u, found.size()) << line;
    EXPECT_EQ("ERROR", found[0].level) << line;
  }
  // What does not need the missing threads still works: requests are taken, messages relayed.
  cBTMsg::requestPairing();
  cBTMsg::sendSouth(YMsg::create(1, "south", 5));
  EXPECT_EQ(1u, cStats::get(cStats::kSouth, cStats::kCommandMode));
  cLocalMsg::sendNorth(YMsg::create(2, "north", 5));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kMessages) +
                    cStats::get(cStats::kNorth, cStats::kFailedWrites));
}

}  // namespace
