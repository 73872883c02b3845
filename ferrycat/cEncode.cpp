#include "ferrycat/cEncode.h"

#include "ferrycat/cCat.h"

int encodeMain(int, char**) {
  return cCat::fail("encode: not built yet");
}
