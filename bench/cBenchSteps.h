#pragma once

#include <string>

class cBench;

// Steps of a session on the bench, shared by the tests and the demo. Each waits for the daemon's
// own evidence (log lines) and returns false when it does not come in time; the time-outs follow
// the daemon's clock speed plus kMarginMs of real time for loaded machines and sanitizer builds.
namespace cBenchSteps {

constexpr int kMarginMs = 5000;

// The link state thread's set-up at start is over: the module has been named ("AP Name set to")
// and the LEDs go dark.
bool waitStartup(cBench& bench);
// Holds the pairing button until the daemon logs one more "Enable Pairing", then releases it.
bool pressForPairing(cBench& bench);
// Waits for the next "Going <state>" line (state "BT_LINK_DISCOVERY" and so on) within
// daemonSeconds; before is the count of such lines seen before the step that causes it.
bool waitTransition(cBench& bench, const std::string& state, int before, double daemonSeconds);
// The peer connects: the module reports bypass mode; waits for BT_LINK_CONNECTED.
bool connectPeer(cBench& bench);
// The peer leaves: the module's status line ends bypass mode; waits for BT_LINK_DISCOVERY.
bool disconnectPeer(cBench& bench);
// The north link is connected and the broker knows the daemon's port.
bool waitNorth(cBench& bench);
// Starts the daemon and, once it has set the module up, puts the module in bypass mode. Works at
// log level INFO, where the daemon does not log the end of its set-up: the name command is its
// last step.
bool startInBypass(cBench& bench);

}  // namespace cBenchSteps
