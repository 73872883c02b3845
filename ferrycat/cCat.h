#pragma once

// What every subcommand shares for talking to the user: the exit codes and the one-line messages
// on standard error ("ferrycat: /dev/rfcomm0: No such file or directory").
class cCat {
 public:
  static constexpr int kOk = 0;       // done
  static constexpr int kFailure = 1;  // a run-time failure (device, socket, file, output)
  static constexpr int kUsage = 2;    // a usage error: nothing was done

  // "ferrycat: <message>" on standard error; returns kFailure.
  static int fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
  // "ferrycat <command>: <message>" and a pointer to --help on standard error; returns kUsage.
  static int usage(const char* command, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};
