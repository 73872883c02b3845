#include "io/cIO.h"
#include "link/cBTMsg.h"
#include "north/cLocalMsg.h"
#include "support/cProperties.h"
#include "support/cYlog.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : cProperties::kDefaultPath;
  cYlog::init(path);
  cProperties props;
  props.load(path);  // a missing file leaves every key at its default
  cIO::create(&props);
  cLocalMsg::create(&props);
  cBTMsg::create(&props);
  for (;;) cIO::tick();
}
