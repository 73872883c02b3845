#pragma once

#include <exception>
#include <new>

#include "support/cLogLimit.h"
#include "support/cYlog.h"

// Runs the steps of a thread's loop so that no exception leaves them: one that left a thread's
// start routine would end the whole process. A step that throws is abandoned, said on the owner's
// log (rate-limited) and the loop goes on with its next step. One instance serves one thread.
class cLoopGuard {
 public:
  cLoopGuard(const cYlog& log, const char* thread) : mLog(log), mThread(thread) {}

  template <typename Step>
  void run(Step&& step) noexcept {
    try {
      step();
    } catch (const std::bad_alloc&) {
      onThrown("out of memory");
    } catch (const std::exception& e) {
      onThrown(e.what());
    } catch (...) {
      onThrown("unknown exception");
    }
  }

 private:
  void onThrown(const char* what) noexcept;

  const cYlog& mLog;
  const char* mThread;
  cLogLimit mLimit;
};
