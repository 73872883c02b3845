#include <cstdlib>
#include <new>

#include "tests/common/cFailingNew.h"

namespace {

thread_local long tFailIn = 0;  // allocations until the one that fails; 0: none

void* allocate(std::size_t size) {
  if (tFailIn > 0 && --tFailIn == 0) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void cFailingNew::failNth(long n) {
  tFailIn = n;
}

bool cFailingNew::armed() {
  return tFailIn > 0;
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
