#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <sstream>
#include <string>

#include "support/cProperties.h"
#include "support/cYlog.h"
#include "tests/common/cLogCapture.h"

namespace {

std::string tempPath(const char* stem) {
  return std::string("/tmp/ferryd-ylog-") + stem + "-" + std::to_string(getpid());
}

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs fn with stderr going to a file and returns what was written.
template <typename Fn>
std::string captureStderr(Fn fn) {
  std::string path = tempPath("stderr");
  int saved = dup(2);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  close(fd);
  fn();
  std::cerr.flush();
  dup2(saved, 2);
  close(saved);
  std::string text = readAll(path);
  unlink(path.c_str());
  return text;
}

// Writes a configuration whose log4cpp section sends everything to logFile as "%p %c: %m%n".
void writeFileConf(const std::string& conf, const std::string& logFile, const std::string& head) {
  std::ofstream(conf) << head << "log4cpp.appender.F = FileAppender\n"
                      << "log4cpp.appender.F.fileName = " << logFile << "\n"
                      << "log4cpp.appender.F.layout = PatternLayout\n"
                      << "log4cpp.appender.F.layout.ConversionPattern = %p %c: %m%n\n";
}

log4cpp::Priority::Value rootPriority() {
  return log4cpp::Category::getRoot().getPriority();
}

// A missing file, no file, or a file without log4cpp keys gives the default.
TEST(Ylog, DefaultIsInfoToStderrWithTimeLevelCategory) {
  std::string conf = tempPath("conf");
  std::ofstream(conf) << "ferryd.io.tty = /dev/ttyS1\n# log4cpp.rootCategory=DEBUG, A\n";
  for (const char* path :
       {"/nonexistent/ferryd.conf", static_cast<const char*>(nullptr), conf.c_str()}) {
    cYlog::init(path);
    EXPECT_EQ(log4cpp::Priority::INFO, rootPriority());
    EXPECT_EQ(1u, log4cpp::Category::getRoot().getAllAppenders().size());
  }
  unlink(conf.c_str());
  cYlog log("cIO");
  EXPECT_FALSE(log.isDebugEnabled());
  std::string out = captureStderr([&] {
    log.debug("hidden %d", 1);
    log.info("shown %d", 2);
    log.fatal("fatal %s", "returns");
  });
  EXPECT_EQ(std::string::npos, out.find("hidden"));
  // e.g. "2024-05-01 10:00:00,123 INFO  cIO: shown 2"
  EXPECT_NE(std::string::npos, out.find("INFO  cIO: shown 2\n")) << out;
  EXPECT_NE(std::string::npos, out.find("FATAL cIO: fatal returns\n")) << out;
  EXPECT_TRUE(isdigit(static_cast<unsigned char>(out[0]))) << out;
}

TEST(Ylog, Log4cppSectionWithCategoryLevelsToAFile) {
  std::string conf = tempPath("conf"), logFile = tempPath("log");
  writeFileConf(conf, logFile,
                "ferryd.io.segsize = 256\nlog4cpp.rootCategory = INFO, F\n"
                "log4cpp.category.cBTCmd = DEBUG\n");
  cYlog::init(conf.c_str());
  cYlog quiet("cBTMsg"), chatty("cBTCmd");
  EXPECT_FALSE(quiet.isDebugEnabled());
  EXPECT_TRUE(chatty.isDebugEnabled());
  // %n stores how far formatting got: it shows whether a line was formatted at all.
  int quietFormatted = -1, chattyFormatted = -1;
  quiet.debug("State tick%n", &quietFormatted);
  chatty.debug("sending CMD: %d: %s \n%n", 3, "AT+AB", &chattyFormatted);
  EXPECT_EQ(-1, quietFormatted);
  EXPECT_EQ(23, chattyFormatted);
  quiet.info("Going BT_LINK_PAIRED");
  EXPECT_EQ("DEBUG cBTCmd: sending CMD: 3: AT+AB \n\nINFO cBTMsg: Going BT_LINK_PAIRED\n",
            readAll(logFile));
  unlink(conf.c_str());
  unlink(logFile.c_str());
}

TEST(Ylog, BrokenLog4cppSectionFallsBackToDefault) {
  std::string conf = tempPath("conf");
  std::ofstream(conf) << "log4cpp.rootCategory = DEBUG, MISSING\n";
  std::string out = captureStderr([&] { cYlog::init(conf.c_str()); });
  EXPECT_EQ(log4cpp::Priority::INFO, rootPriority());
  EXPECT_NE(std::string::npos, out.find(conf)) << out;
  unlink(conf.c_str());
}

TEST(Ylog, ShippedConfigurationIsAccepted) {
  std::string conf = std::string(FERRYD_SOURCE_DIR) + "/etc/ferryd.conf";
  std::string out = captureStderr([&] { cYlog::init(conf.c_str()); });
  EXPECT_EQ("", out);
  EXPECT_EQ(log4cpp::Priority::INFO, rootPriority());
  EXPECT_NE(nullptr, log4cpp::Category::getRoot().getAppender("console"));

  // No line is malformed and every number is one.
  cLogCapture capture;
  cProperties props;
  ASSERT_EQ(0, props.load(conf.c_str()));
  EXPECT_EQ(0, capture.count("malformed"));
  EXPECT_EQ(256, props.getInt("ferryd.io.segsize", 0));
  EXPECT_EQ(60010, props.getInt("zam.broker.port", 0));
  EXPECT_EQ(0, capture.count("not a whole decimal"));
}

TEST(Ylog, LongLinesAreCut) {
  cLogCapture capture;
  cYlog log("cLocalMsg");
  std::string longText(3000, 'x');
  log.info("%s", longText.c_str());
  auto records = capture.records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(std::string(1023, 'x'), records[0].message);
  EXPECT_EQ("cLocalMsg", records[0].category);
  EXPECT_EQ("INFO", records[0].level);
}

struct Writer {
  const cYlog* log;
  int thread;
};

void* writeLines(void* arg) {
  auto* w = static_cast<Writer*>(arg);
  for (int i = 0; i < 300; ++i) w->log->debug("thread %d line %d", w->thread, i);
  return nullptr;
}

// One logger used by several threads at the same moment, as the modem's logger is.
TEST(Ylog, SeveralThreadsOnOneLogger) {
  cLogCapture capture;
  cYlog shared("cBTModem");
  pthread_t threads[4];
  Writer writers[4];
  for (int t = 0; t < 4; ++t) {
    writers[t] = {&shared, t};
    ASSERT_EQ(0, pthread_create(&threads[t], nullptr, writeLines, &writers[t]));
  }
  for (pthread_t& t : threads) pthread_join(t, nullptr);
  EXPECT_EQ(1200, capture.count("line ", "cBTModem"));
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(1, capture.count("thread " + std::to_string(t) + " line 299"));
}

}  // namespace
