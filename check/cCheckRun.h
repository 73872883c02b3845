#pragma once

// ferryd's check mode: "ferryd --check [options] [CONFIG]" (also -t). Reads the configuration
// as the daemon would, checks it, the GPIO device, the serial line and the module, the broker's
// address and the service's sandbox, and prints one line per check with what to do about each
// warning and failure. It changes nothing on the board unless asked (--leds, --reset).
namespace cCheckRun {

// True when the arguments ask for the check mode (or are options at all: a usage error is
// the check mode's to report).
bool wanted(int argc, char** argv);
// Exit status: 0 nothing failed, 1 something did, 2 a usage error.
int main(int argc, char** argv);

}  // namespace cCheckRun
