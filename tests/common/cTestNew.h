#pragma once

// Replaces the global operator new and delete of a test program (link test_new.cpp into it):
// counts every allocation, and allocations can be made to fail one at a time, on the calling
// thread only.
namespace cTestNew {

// The n-th allocation on this thread from now on (1: the next) throws std::bad_alloc; the ones
// after it succeed again. 0 disarms.
void failNth(long n);
// True while an armed failure has not happened yet.
bool armed();
// Allocations on any thread since the program started.
long allocations();

}  // namespace cTestNew
