// Soak of the real daemon: many messages both ways at once in bypass mode, each checked at the
// far end. Prints what was lost, corrupted or duplicated, the daemon's memory and its CPU per MB.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/soak/cSoak.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: ferryd-soak [--count N] [--seed S] [--max-size BYTES] [--speed X] [--quiet]\n"
          "  --count N        messages each way (default 100000)\n"
          "  --seed S         sizes and contents follow from it (default 1)\n"
          "  --max-size B     largest message, 1..65535 bytes (default 10000)\n"
          "  --speed X        the daemon's clock speed through libfaketime (default 1)\n");
}

}  // namespace

int main(int argc, char** argv) {
  cSoakOptions o;
  o.progress = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--quiet") {
      o.progress = false;
    } else if (v != nullptr && a == "--count") {
      o.count = atol(v), ++i;
    } else if (v != nullptr && a == "--seed") {
      o.seed = static_cast<uint32_t>(strtoul(v, nullptr, 10)), ++i;
    } else if (v != nullptr && a == "--max-size") {
      o.maxSize = atoi(v), ++i;
    } else if (v != nullptr && a == "--speed") {
      o.speed = atof(v), ++i;
    } else {
      usage();
      return 2;
    }
  }
  if (o.count < 1 || o.maxSize < 1 || o.maxSize > 65535 || o.speed < 1) {
    usage();
    return 2;
  }
  printf("soak: %ld messages each way, 1..%d bytes, seed %u\n", o.count, o.maxSize, o.seed);
  fflush(stdout);
  cSoakResult r = cSoak(o).run();
  printf("%s", cSoak::report(r).c_str());
  return r.clean() ? 0 : 1;
}
