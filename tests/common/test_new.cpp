// A file of its own, so no caller sees the replacement inlined against the library's delete.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/common/cTestNew.h"

namespace {

thread_local long tFailIn = 0;  // allocations until the one that fails; 0: none
std::atomic<long> gAllocations{0};

void* allocate(std::size_t size) {
  ++gAllocations;
  if (tFailIn > 0 && --tFailIn == 0) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void cTestNew::failNth(long n) {
  tFailIn = n;
}

bool cTestNew::armed() {
  return tFailIn > 0;
}

long cTestNew::allocations() {
  return gAllocations;
}

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
