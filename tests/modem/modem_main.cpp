// Entry of the modem test programs. A driver's reader thread runs until the process ends, as in
// the daemon, and may still log while the process exits; the program therefore ends without
// running static destructors (log4cpp's among them), after the leak check of ASan builds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  fflush(nullptr);
  _exit(rc);
}
