#include "fuzz/cFuzzCheck.h"

#include <cstdlib>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include "support/cYlog.h"

// FERRYD_FUZZ_LOG=1 shows the log lines on stderr instead, to follow one input by hand.
void fuzzQuietLog() {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  if (std::getenv("FERRYD_FUZZ_LOG") != nullptr)
    cYlog::init(nullptr);
  else
    root.removeAllAppenders();
  root.setPriority(log4cpp::Priority::DEBUG);
}
