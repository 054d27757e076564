#pragma once
// A test program's allocator that fails on request: FailingAllocator.cpp
// replaces the global operator new and delete of the program that links
// it (the runtime's and the product's libraries included, since they take
// the program's definitions), counts the allocations made while a
// FailAllocation scope is armed, and throws std::bad_alloc from the k-th.
// Only that one allocation fails; the next ones succeed again.
//
// sweepAllocations() runs an operation with its first allocation failing,
// then its second, and so on until a run completes, as failure tests do
// for every allocation point:
//
//   auto points = sweepAllocations([&](std::uint64_t k) {
//     Fixture f;                      // set up, unarmed
//     FailAllocation armed(k);
//     try { f.operation(); } catch (std::bad_alloc const&) {}
//     bool const failed = armed.failed();
//     armed.disarm();
//     f.check(failed);                // changed or unchanged, invariants intact
//     return failed;
//   });
//
// One activity thread: the counters are plain.
#include <cstdint>
#include <functional>

namespace TestSupport {

class FailAllocation {
 public:
  // Arms the allocator: the k-th allocation from now on throws.
  explicit FailAllocation(std::uint64_t k);
  ~FailAllocation() { disarm(); }
  FailAllocation(FailAllocation const&) = delete;
  FailAllocation& operator=(FailAllocation const&) = delete;

  void disarm() noexcept;
  // Whether the k-th allocation came (and threw).
  bool failed() const noexcept;
  // Allocations counted since arming.
  static std::uint64_t allocations() noexcept;
};

// Runs `run(k)` for k = 1, 2, ... until it returns false (its armed
// allocation never came); returns the number of allocation points covered.
// Gives up after `limit` points, returning `limit`.
std::uint64_t sweepAllocations(std::function<bool(std::uint64_t)> const& run, std::uint64_t limit = 100000);

}  // namespace TestSupport
