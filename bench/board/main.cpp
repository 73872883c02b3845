// ferryd-board: the real daemon on the simulated board with the Bluetooth link connected and
// nothing scripted at either end: the broker's port is left for ferrycat broker, and the
// module's air side carries the peer's stream for ferrycat peer. Runs until Ctrl-C.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"

namespace {

void usage(FILE* out) {
  fprintf(out,
          "Usage: ferryd-board [--port PORT] [--segsize N] [--speed X]\n"
          "Runs ferryd on the simulated board, brings the Bluetooth link to connected and keeps\n"
          "it there for ferrycat broker and ferrycat peer, until Ctrl-C.\n"
          "  --port PORT    the broker's UDP port in the daemon's configuration (default 60010)\n"
          "  --segsize N    the daemon's ferryd.io.segsize (default: the daemon's 256)\n"
          "  --speed X      the daemon's clock X times faster (1 to 50, default 1: real time)\n");
}

bool parse(int argc, char** argv, cBenchOptions* o) {
  const option longOptions[] = {{"port", required_argument, nullptr, 'p'},
                                {"segsize", required_argument, nullptr, 's'},
                                {"speed", required_argument, nullptr, 'x'},
                                {"help", no_argument, nullptr, 'h'},
                                {nullptr, 0, nullptr, 0}};
  int letter;
  while ((letter = getopt_long(argc, argv, "p:s:x:h", longOptions, nullptr)) != -1) {
    switch (letter) {
      case 'p':
        o->brokerPort = atoi(optarg);
        break;
      case 's':
        o->segSize = atoi(optarg);
        break;
      case 'x':
        o->speed = atof(optarg);
        break;
      case 'h':
        usage(stdout);
        exit(0);
      default:
        return false;
    }
  }
  return optind == argc && o->brokerPort > 0 && o->brokerPort < 65536 && o->speed >= 1 &&
         o->speed <= 50;
}

// Waits for Ctrl-C or SIGTERM while the daemon runs; false when the daemon ended.
bool runUntilSignal(cBench& bench) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  const timespec tick = {1, 0};
  for (;;) {
    if (sigtimedwait(&set, nullptr, &tick) > 0) return true;
    if (!bench.running()) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  cBenchOptions o;
  o.simBroker = false;
  o.brokerPort = 60010;
  o.logLevel = "INFO";
  if (!parse(argc, argv, &o)) {
    usage(stderr);
    return 2;
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);  // the threads made next inherit it

  cBench bench(o);
  std::string air = bench.module().enableAir();
  if (o.speed == 1)
    printf("Starting ferryd at real speed: the module is set up after its 10 s start-up pause.\n");
  else
    printf("Starting ferryd with its clock %g times faster (libfaketime).\n", o.speed);
  fflush(stdout);
  if (!bench.start() || !bench.module().waitForCommand("DefaultLocalName",
                                                       bench.realMs(15, cBenchSteps::kMarginMs))) {
    fprintf(stderr, "ferryd-board: the daemon did not set the module up:\n%s\n",
            bench.daemonOutput().c_str());
    return 1;
  }
  usleep(300 * 1000);  // the reply is taken and the command withdrawn
  if (!cBenchSteps::connectPeer(bench)) {
    fprintf(stderr, "ferryd-board: the link did not come up:\n%s\n", bench.daemonOutput().c_str());
    return 1;
  }
  printf(
      "\nferryd (pid %d) runs on the simulated board; the Bluetooth link is connected.\n"
      "  configuration   %s (broker 127.0.0.1:%d)\n"
      "  air side tty    %s\n"
      "  daemon log      %s\n\n"
      "In two more terminals, type a line in either and see it come out of the other:\n"
      "  %s broker -c %s\n"
      "  %s peer %s\n\n"
      "Ctrl-C ends the board.\n",
      static_cast<int>(bench.pid()), bench.configPath().c_str(), o.brokerPort, air.c_str(),
      bench.logPath().c_str(), FERRYCAT_BINARY, bench.configPath().c_str(), FERRYCAT_BINARY,
      air.c_str());
  fflush(stdout);
  if (!runUntilSignal(bench)) {
    fprintf(stderr, "ferryd-board: the daemon ended:\n%s\n", bench.daemonOutput().c_str());
    return 1;
  }
  printf("ferryd-board: stopped.\n");
  return 0;
}
