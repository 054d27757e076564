#pragma once
// CI's smoke run (the bench-smoke test sets BTS_BENCH_SMOKE) runs every
// benchmark for a moment, only to see that each works; the sizes of the
// curves are cut there so that it stays quick.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include <benchmark/benchmark.h>

namespace bench {

inline bool smokeRun() { return std::getenv("BTS_BENCH_SMOKE") != nullptr; }

// Registers one argument per size; in the smoke run only those up to
// 100,000.
inline void sizeArgs(benchmark::internal::Benchmark* b, std::initializer_list<std::int64_t> sizes) {
  for (std::int64_t n : sizes)
    if (!smokeRun() || n <= 100000) b->Arg(n);
}

}  // namespace bench
