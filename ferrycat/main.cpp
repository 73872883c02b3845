// ferrycat: either end of ferryd's relay, the broker on the board or the Bluetooth peer across
// the air, for trying the daemon out on a real system and for making and reading its traffic.
#include <cstdio>
#include <cstring>

#include "ferrycat/cBroker.h"
#include "ferrycat/cCat.h"
#include "ferrycat/cDecode.h"
#include "ferrycat/cEncode.h"
#include "ferrycat/cPeer.h"

namespace {

// One subcommand: its name, its entry point (argv[0] is the subcommand's name, the options
// follow) and the line "ferrycat --help" shows for it.
struct cCommand {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* help;
};

// clang-format off
const cCommand kCommands[] = {
  {"broker", brokerMain, "stand in for the message broker: messages to and from ferryd over UDP"},
  {"peer",   peerMain,   "be the Bluetooth peer on a serial device (/dev/rfcomm0)"},
  {"encode", encodeMain, "write a message's serial-line frames to standard output"},
  {"decode", decodeMain, "show what crossed the serial line in a capture or the daemon's trace"},
};
// clang-format on

void usage(FILE* out) {
  fprintf(out,
          "Usage: ferrycat COMMAND [OPTION]... [ARGUMENT]...\n"
          "Either end of ferryd's relay, for trying the daemon out and for making test input.\n\n"
          "Commands:\n");
  for (const cCommand& c : kCommands) fprintf(out, "  %-8s %s\n", c.name, c.help);
  fprintf(out,
          "\n'ferrycat COMMAND --help' shows a command's options. Exit status: 0 done, 1 a\n"
          "run-time failure, 2 a usage error.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return cCat::kUsage;
  }
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
      strcmp(argv[1], "help") == 0) {
    usage(stdout);
    return cCat::kOk;
  }
  if (strcmp(argv[1], "--version") == 0) {
    printf("ferrycat %s\n", FERRYCAT_VERSION);
    return cCat::kOk;
  }
  for (const cCommand& c : kCommands) {
    if (strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  }
  fprintf(stderr, "ferrycat: unknown command '%s'\nTry 'ferrycat --help'.\n", argv[1]);
  return cCat::kUsage;
}
