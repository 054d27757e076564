#pragma once
// Counts the heap allocations that a benchmark's timed iterations make and
// reports them per iteration as the benchmark counter "allocs", so that a
// figure shows beside its time whether the operation touches the heap.
//
// The bench program replaces the global operator new and, with the GNU C
// library, the C allocator (see AllocationCounter.cpp), so allocations made
// inside the shared libraries count too, strings included. The program
// runs on one thread; the count is a plain integer.
//
//   void BM_Flush(benchmark::State& state) {
//     ... set-up, not counted ...
//     AllocationCounter allocations(state);
//     for (auto _ : state) {
//       allocations.pause();            // timing and counting stop
//       learnHosts();
//       allocations.resume();
//       config->fdbFlushIs(++flush);
//     }
//     allocations.stop();               // "allocs" = count / iterations
//     state.SetItemsProcessed(...);     // allocates, not counted
//   }
//
// Reporting a counter or an error allocates, so stop() comes right after
// the loop; the destructor stops a counter that is still running.
#include <cstdint>

#include <benchmark/benchmark.h>

namespace bench {

// Allocations made by the process so far, through either door to the heap,
// and the bytes they asked for (each block also costs the allocator's own
// header, 8 to 16 bytes, not counted here).
std::uint64_t allocationCount() noexcept;
std::uint64_t allocatedBytes() noexcept;

// Sets counter `name` to the heap bytes that `build()` asks for, per one of
// `units`: the memory a structure costs per member. Call it outside the
// timed loop.
template <class Build>
void reportBytes(benchmark::State& state, char const* name, double units, Build&& build) {
  std::uint64_t const before = allocatedBytes();
  build();
  state.counters[name] = static_cast<double>(allocatedBytes() - before) / units;
}

class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state) noexcept : state_(state), start_(allocationCount()) {}
  ~AllocationCounter();
  AllocationCounter(AllocationCounter const&) = delete;
  AllocationCounter& operator=(AllocationCounter const&) = delete;

  // Stops the timer and the count, for set-up inside the loop.
  void pause();
  // Starts both again.
  void resume();
  // Ends the count and sets "allocs" to the allocations counted since
  // construction, less those made while paused, divided by the iterations
  // run. Later calls do nothing.
  void stop();

 private:
  benchmark::State& state_;
  std::uint64_t start_;
  std::uint64_t paused_ = 0;  // allocations made while paused
  std::uint64_t pausedAt_ = 0;
  bool stopped_ = false;
};

}  // namespace bench
