#pragma once

#include <cstdio>

// CPU cost of the framing code alone (thread CPU time), ns per payload byte: the per-byte reference
// (frameData, unFrameByte) against the one-pass paths (frame, unFrame), on random and on
// text payloads. Prints one Markdown table.
void printFramingCost(FILE* out);
