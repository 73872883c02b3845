#include "check/cCheckRun.h"
#include "io/cIO.h"
#include "link/cBTMsg.h"
#include "main/cService.h"
#include "north/cLocalMsg.h"
#include "support/cLoopGuard.h"
#include "support/cProperties.h"
#include "support/cYlog.h"

int main(int argc, char** argv) {
  if (cCheckRun::wanted(argc, argv)) return cCheckRun::main(argc, argv);
  const char* path = argc > 1 ? argv[1] : cProperties::kDefaultPath;
  cYlog::init(path);
  cService service;  // before any thread starts: see its SIGUSR1 handling
  cProperties props;
  props.load(path);  // a missing file leaves every key at its default
  props.warnUnknownKeys();
  cIO::create(&props);
  cLocalMsg::create(&props);
  cBTMsg::create(&props);
  service.ready();
  cYlog log("main");
  cLoopGuard guard(log, "main");
  for (;;) {
    guard.run(cIO::tick);
    guard.run([&service] { service.tick(); });
  }
}
