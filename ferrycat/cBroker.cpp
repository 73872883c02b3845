#include "ferrycat/cBroker.h"

#include "ferrycat/cCat.h"

int brokerMain(int, char**) {
  return cCat::fail("broker: not built yet");
}
