#include "ferrycat/cCat.h"

#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

int cCat::fail(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fputs("ferrycat: ", stderr);
  vfprintf(stderr, fmt, args);
  fputc('\n', stderr);
  va_end(args);
  return kFailure;
}

int cCat::usage(const char* command, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fprintf(stderr, "ferrycat %s: ", command);
  vfprintf(stderr, fmt, args);
  fprintf(stderr, "\nTry 'ferrycat %s --help'.\n", command);
  va_end(args);
  return kUsage;
}

void cCat::setUp(bool verbose) {
  signal(SIGPIPE, SIG_DFL);
  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.removeAllAppenders();
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern("ferrycat: %m%n");
  auto* appender = new log4cpp::OstreamAppender("stderr", &std::cerr);
  appender->setLayout(layout);
  root.addAppender(appender);
  root.setPriority(verbose ? log4cpp::Priority::WARN : log4cpp::Priority::ERROR);
  // What is wrong in the daemon's configuration file is said always, as the daemon says it.
  log4cpp::Category::getInstance("cProperties").setPriority(log4cpp::Priority::WARN);
}
