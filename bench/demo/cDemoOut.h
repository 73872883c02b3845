#pragma once

// Output of the demo: whole lines, written under one lock so that the event printer's thread and
// the keyboard's never mix their lines, flushed at once so that a pipe sees them as they happen.
namespace cDemoOut {

void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cDemoOut
