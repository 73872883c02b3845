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
  int letter;
  long value;
  std::string why;
  while ((letter = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr)) !=
         -1) {
    switch (letter) {
      case 'b':
        if (!cCatOptions::parseNumber(optarg, 1, 1L << 30, &baud) || !cSerialPort::knownSpeed(baud))
          return cCat::usage(kCommand, "bad speed '%s' (9600, 115200, 921600, ...)", optarg);
        break;
      case 's':
        if (!cCatOptions::parseNumber(optarg, cBTMsg::kMinSegSize, cBTMsg::kMaxSegSize, &value))
          return cCat::usage(kCommand, "bad segment size '%s' (%d to %d)", optarg,
                             cBTMsg::kMinSegSize, cBTMsg::kMaxSegSize);
        options.segSize = static_cast<int>(value);
        break;
      case ':':
      case '?':
        return cCatOptions::optionError(kCommand, letter, argv);
      default:
        if (!options.take(letter, optarg, &why)) return cCat::usage(kCommand, "%s", why.c_str());
    }
  }
  if (options.help) {
    help();
    return cCat::kOk;
  }
  if (optind >= argc) return cCat::usage(kCommand, "no DEVICE given");
  if (optind + 1 < argc) return cCat::usage(kCommand, "unexpected argument '%s'", argv[optind + 1]);
  std::string device = argv[optind];

  cCat::setUp(options.verbose);
  cCatLoop loop(options);
  if (!loop.loadFiles()) return cCat::kFailure;
  cSerialPort port;
  if (!port.open(device, baud, &why)) return cCat::fail("%s", why.c_str());
  cPeerEnd end(port.fd(), device, options.segSize);
  if (!options.quiet) fprintf(stderr, "ferrycat: %s open at %ld baud\n", device.c_str(), baud);
  return loop.run(&end);
}
