#pragma once

struct cCheckContext;

// The GPIO part: the device node (cCheckNode), each of the four pin names looked up as the
// daemon does (the names the device offers listed when one is missing), the pairing button's
// level; with --leds each LED lit in turn for a second, with --reset a one-second pulse of the
// module's reset line, for a person watching the board.
namespace cCheckGpio {

void run(cCheckContext& c);

}  // namespace cCheckGpio
