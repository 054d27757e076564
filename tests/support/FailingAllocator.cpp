// The replacement of the global allocation functions for FailingAllocator.h.
// Each form of operator new goes through allocate(); each form of delete
// frees. The aligned forms are left to the standard library, which the
// code under test does not use.
#include "support/FailingAllocator.h"

#include <cstdlib>
#include <new>

namespace {

std::uint64_t failAt = 0;  // 0: disarmed
std::uint64_t counted = 0;
bool hit = false;

void* allocate(std::size_t size) {
  if (failAt && ++counted == failAt) {
    hit = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::nothrow_t const&) noexcept { return allocateOrNull(size); }
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept { return allocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { std::free(p); }

namespace TestSupport {

FailAllocation::FailAllocation(std::uint64_t k) {
  failAt = k;
  counted = 0;
  hit = false;
}

void FailAllocation::disarm() noexcept { failAt = 0; }
bool FailAllocation::failed() const noexcept { return hit; }
std::uint64_t FailAllocation::allocations() noexcept { return counted; }

std::uint64_t sweepAllocations(std::function<bool(std::uint64_t)> const& run, std::uint64_t limit) {
  for (std::uint64_t k = 1; k <= limit; ++k)
    if (!run(k)) return k - 1;
  return limit;
}

}  // namespace TestSupport
