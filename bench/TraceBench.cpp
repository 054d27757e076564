// A trace in a hot path: switched off (the handle disabled, or the handle
// on and the level off) beside an empty loop, and switched on into a
// Kiv::TraceCapture. A trace that is off tests two flags and builds no
// text: its "allocs" is 0 and its time the empty loop's.
#include <cstdint>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "Kiv/Trace.h"

namespace bench {
namespace {

// Every loop clobbers memory once per iteration, so that the handle's
// flags are read again each time and the empty loop is not folded away.
void BM_Trace_EmptyLoop(benchmark::State& state) {
  AllocationCounter allocations(state);
  for (auto _ : state) benchmark::ClobberMemory();
}

void traceLoop(benchmark::State& state, Kiv::TraceHandle const& handle) {
  std::uint32_t port = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    ++port;
    KIV_TRACE(handle, 7, "traceLoop", "Scheduling state update for port Ethernet" << port << " to forwarding");
    benchmark::ClobberMemory();
  }
}

void BM_Trace_HandleDisabled(benchmark::State& state) {
  Kiv::TraceHandle handle("BenchTraceOff", false);
  traceLoop(state, handle);
}

void BM_Trace_LevelDisabled(benchmark::State& state) {
  Kiv::TraceHandle handle("BenchTraceLevelOff", true);
  handle.levelIs(7, false);
  traceLoop(state, handle);
}

// Records go into the capture, which is emptied now and then so that it
// stays small; the emptying is part of the figure.
void BM_Trace_EnabledIntoCapture(benchmark::State& state) {
  Kiv::TraceHandle handle("BenchTraceOn", true);
  Kiv::TraceCapture capture;
  std::uint32_t port = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    ++port;
    if (capture.records().size() == 1024) capture.clear();
    KIV_TRACE(handle, 7, "traceLoop", "Scheduling state update for port Ethernet" << port << " to forwarding");
  }
  allocations.stop();
  if (capture.records().empty()) state.SkipWithError("no record reached the capture");
}

BENCHMARK(BM_Trace_EmptyLoop);
BENCHMARK(BM_Trace_HandleDisabled);
BENCHMARK(BM_Trace_LevelDisabled);
BENCHMARK(BM_Trace_EnabledIntoCapture);

}  // namespace
}  // namespace bench
