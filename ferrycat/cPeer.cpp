#include "ferrycat/cPeer.h"

#include "ferrycat/cCat.h"

int peerMain(int, char**) {
  return cCat::fail("peer: not built yet");
}
