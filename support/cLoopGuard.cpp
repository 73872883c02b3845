#include "support/cLoopGuard.h"

// Logging never throws, and the held-back text needs no memory: this runs safely when memory has
// run out.
void cLoopGuard::onThrown(const char* what) noexcept {
  if (mLimit.pass())
    mLog.error("%s thread: %s; the work in hand was dropped, the thread goes on%s", mThread, what,
               mLimit.held());
}
