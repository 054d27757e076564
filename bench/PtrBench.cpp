// A counted reference: copying and dropping a Kiv::Ptr beside a
// std::shared_ptr and a raw pointer, and making a counted object beside
// std::make_shared and plain new. A Kiv::Ptr copy is a plain increment of
// the object's reference word and its drop a plain decrement and test.
//
// Note on the peer: libstdc++ counts a shared_ptr with atomic operations
// only once the process has started a second thread; this program never
// does, so its shared_ptr figures are the cheap, single-threaded ones.
#include <memory>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

namespace bench {
namespace {

struct Counted : Kiv::PtrInterface {
  int value = 1;
};

struct Plain {
  int value = 1;
};

// DoNotOptimize makes the copy escape, so its count must really be raised
// before and lowered after.
void BM_PtrCopy_Kiv(benchmark::State& state) {
  Kiv::Ptr<Counted> const p = Kiv::make<Counted>();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    Kiv::Ptr<Counted> const copy(p);
    benchmark::DoNotOptimize(copy);
  }
  allocations.stop();
  if (p->references() != 1) state.SkipWithError("copies leaked references");
}

void BM_PtrCopy_SharedPtr(benchmark::State& state) {
  auto const p = std::make_shared<Plain>();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::shared_ptr<Plain> const copy(p);
    benchmark::DoNotOptimize(copy);
  }
}

void BM_PtrCopy_Raw(benchmark::State& state) {
  auto const owner = std::make_unique<Plain>();
  Plain* const p = owner.get();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    Plain* const copy = p;
    benchmark::DoNotOptimize(copy);
  }
}

void BM_PtrMake_Kiv(benchmark::State& state) {
  AllocationCounter allocations(state);
  for (auto _ : state) {
    Kiv::Ptr<Counted> const p = Kiv::make<Counted>();
    benchmark::DoNotOptimize(p);
  }
}

void BM_PtrMake_SharedPtr(benchmark::State& state) {
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::shared_ptr<Plain> const p = std::make_shared<Plain>();
    benchmark::DoNotOptimize(p);
  }
}

void BM_PtrMake_New(benchmark::State& state) {
  AllocationCounter allocations(state);
  for (auto _ : state) {
    Plain* const p = new Plain;
    benchmark::DoNotOptimize(p);
    delete p;
  }
}

BENCHMARK(BM_PtrCopy_Kiv);
BENCHMARK(BM_PtrCopy_SharedPtr);
BENCHMARK(BM_PtrCopy_Raw);
BENCHMARK(BM_PtrMake_Kiv);
BENCHMARK(BM_PtrMake_SharedPtr);
BENCHMARK(BM_PtrMake_New);

}  // namespace
}  // namespace bench
