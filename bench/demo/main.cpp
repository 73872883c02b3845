// The real ferryd on the simulated board. By default plays a whole session and checks it; with
// --interactive keeps the board running for a person to drive from the keyboard.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "bench/cBench.h"
#include "bench/demo/cDemoChecks.h"
#include "bench/demo/cDemoKeyboard.h"
#include "bench/demo/cDemoOut.h"
#include "bench/demo/cDemoPrinter.h"
#include "bench/demo/cDemoSession.h"
#include "bench/demo/cDemoSummary.h"
#include "bench/demo/cDemoWatch.h"

namespace {

// Fast enough for the 120 s discovery window to pass in about half a minute, slow enough for a
// busy two-core machine to keep up with the board's one-second ticks.
const double kDefaultSpeed = 4;

std::atomic<bool> gInterrupted{false};

void onInterrupt(int) {
  gInterrupted = true;
}

// Ctrl-C ends the keyboard mode as "q" does. The signal is blocked before the bench's threads are
// made (they inherit the mask), and only the reading thread takes it, without restarting the
// interrupted read, so that the read of the next line ends.
void blockInterrupts() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void takeInterrupts() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

struct cArgs {
  bool interactive = false;
  double speed = kDefaultSpeed;
  bool valid = true;
};

cArgs parse(int argc, char** argv) {
  cArgs args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--interactive") == 0) {
      args.interactive = true;
    } else if (std::strcmp(argv[i], "--speed") == 0 && i + 1 < argc) {
      args.speed = std::atof(argv[++i]);
      args.valid = args.valid && args.speed >= 1 && args.speed <= 50;
    } else {
      args.valid = false;
    }
  }
  return args;
}

void usage() {
  std::fprintf(
      stderr,
      "usage: ferryd-demo [--interactive] [--speed N]\n"
      "  plays a session of ferryd on the simulated board and checks it; --interactive\n"
      "  lets you drive the board instead; --speed runs the daemon's clock N times faster\n"
      "  than real time (1 to 50, default %g)\n",
      kDefaultSpeed);
}

void printHeader(const cBench& bench) {
  cDemoOut::print("ferryd on the simulated board: %s\n", FERRYD_BINARY);
  if (bench.speed() != 1) {
    cDemoOut::print("the daemon's clock runs x%g faster than real time (libfaketime)\n",
                    bench.speed());
  }
  cDemoOut::print("times are daemon seconds since the start; the daemon logs to %s\n\n",
                  bench.logPath().c_str());
}

int playSession(cBench& bench) {
  double began = cBench::now();
  cDemoWatch watch(bench);
  cDemoPrinter printer(watch, bench);
  cDemoChecks checks;
  printer.start();
  cDemoSession(bench, watch, checks).play();
  printer.stop();
  bench.stop();
  cDemoOut::print("\nsummary\n");
  cDemoSummary::printCounts(bench, watch);
  if (checks.failed() > 0) {
    cDemoOut::print("\n");
    cDemoSummary::printLogTail(bench, 40);
  }
  cDemoOut::print("\nexpectations\n");
  checks.print();
  cDemoOut::print("\n%d of %d expectations passed; the demo took %.0f s of real time\n",
                  checks.size() - checks.failed(), checks.size(), cBench::now() - began);
  return checks.failed() == 0 ? 0 : 1;
}

int driveByKeyboard(cBench& bench) {
  cDemoWatch watch(bench);
  cDemoPrinter printer(watch, bench);
  cDemoKeyboard::help();
  if (!bench.start()) {
    cDemoOut::print("could not start %s\n", FERRYD_BINARY);
    return 1;
  }
  printer.start();
  watch.note("demo", "ferryd started; it pauses 10 s before it sets the module up");
  takeInterrupts();
  if (!cDemoKeyboard(bench, watch).run(std::cin)) {
    watch.note("demo", gInterrupted ? "interrupted" : "end of input");
  }
  bool running = bench.running();
  printer.stop();
  bench.stop();
  cDemoOut::print("\nsummary\n");
  cDemoSummary::printCounts(bench, watch);
  if (!running) cDemoOut::print("the daemon had ended:\n%s\n", bench.daemonOutput().c_str());
  return running ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  cArgs args = parse(argc, argv);
  if (!args.valid) {
    usage();
    return 2;
  }
  if (args.interactive) blockInterrupts();
  try {
    cBenchOptions options;
    options.speed = args.speed;
    cBench bench(options);
    printHeader(bench);
    return args.interactive ? driveByKeyboard(bench) : playSession(bench);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ferryd-demo: the simulated board could not be made: %s\n", e.what());
    return 2;
  }
}
