#pragma once

// "ferrycat decode [OPTION]... [FILE|-]": shows what crossed the serial line in a capture (a
// daemon's trace, hex text or raw bytes), decoded by the daemon's own receive path.
int decodeMain(int argc, char** argv);
