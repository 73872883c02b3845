// Replaces the global operator new and delete of a test program and counts the allocations
// (a file of its own, so no caller sees the replacement inlined against the library's delete).
#include <atomic>
#include <cstdlib>
#include <new>

std::atomic<long> gCountedAllocations{0};

namespace {

void* allocate(std::size_t size) {
  ++gCountedAllocations;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

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
