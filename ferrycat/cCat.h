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

  // The process set up for a run: a closed pipe on standard output ends it quietly (SIGPIPE as
  // by default), and the daemon's log lines (the reassembler's and the framer's warnings about
  // dropped units) go to standard error as "ferrycat: ..." when verbose, else only errors do.
  static void setUp(bool verbose);
};
