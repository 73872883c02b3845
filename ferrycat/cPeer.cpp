#include "ferrycat/cPeer.h"

#include <cstdio>
#include <string>

#include "ferrycat/cCat.h"
#include "ferrycat/cCatLoop.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cPeerEnd.h"
#include "ferrycat/cSerialPort.h"
#include "link/cBTMsg.h"

namespace {

const char kCommand[] = "peer";
const long kDefaultBaud = 115200;

void help() {
  printf(
      "Usage: ferrycat peer [OPTION]... DEVICE\n"
      "Be the Bluetooth peer: on DEVICE, the tty that carries the module's serial port profile\n"
      "stream (/dev/rfcomm0, a USB-serial adapter), send the messages of the input framed as\n"
      "ferryd frames them and print every message ferryd sends.\n\n"
      "Line:\n"
      "  -b, --baud N         speed of DEVICE (default %ld)\n"
      "  -s, --segsize N      largest segment sent, %d to %d bytes (default %d)\n",
      kDefaultBaud, cBTMsg::kMinSegSize, cBTMsg::kMaxSegSize, cBTMsg::kDefaultSegSize);
  printf("%s", cCatOptions::kHelp);
}

}  // namespace

int peerMain(int argc, char** argv) {
  cCatOptions options;
  options.segSize = cBTMsg::kDefaultSegSize;
  long baud = kDefaultBaud;
  std::string shortOptions = cCatOptions::shortOptions("b:");
  std::vector<option> longOptions =
      cCatOptions::longOptions({{"baud", required_argument, nullptr, 'b'}});
  options.segMin = cBTMsg::kMinSegSize;
  options.segMax = cBTMsg::kMaxSegSize;
  int status = options.parse(
      kCommand, argc, argv, shortOptions, longOptions, help,
      [&baud](int, const char* arg) -> std::string {
        if (cCatOptions::parseNumber(arg, 1, 1L << 30, &baud) && cSerialPort::knownSpeed(baud))
          return "";
        return std::string("bad speed '") + arg + "' (9600, 115200, 921600, ...)";
      });
  if (status != cCatOptions::kContinue) return status;
  if (optind >= argc) return cCat::usage(kCommand, "no DEVICE given");
  if (optind + 1 < argc) return cCat::usage(kCommand, "unexpected argument '%s'", argv[optind + 1]);
  std::string device = argv[optind];

  cCat::setUp(options.verbose);
  cCatLoop loop(options);
  cSerialPort port;
  std::string why;
  if (!port.open(device, baud, &why)) return cCat::fail("%s", why.c_str());
  cPeerEnd end(port.fd(), device, options.segSize);
  if (!options.quiet) fprintf(stderr, "ferrycat: %s open at %ld baud\n", device.c_str(), baud);
  return loop.run(&end);
}
