// The Python package from a Python loop, in an embedded interpreter:
//
// - one attribute write (Config.complete) through the generic binding,
//   beside the same write through a hand-written pybind11 property (the
//   peer, defined in this file only);
// - one change notified into a Python callback through an observer, beside
//   the same change followed by a plain Python call of the same function.
//
// Each iteration runs a Python loop of `writesPerIteration` writes and
// reports the time of one write (manual time: the loop's wall-clock time,
// on this one thread, divided by the writes); the iteration count is fixed,
// since the time reported is not the time an iteration takes.
#include <pybind11/embed.h>

#include <chrono>
#include <string>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "agent/Config.h"

namespace py = pybind11;

namespace {

// The peer: what a binding written by hand for this one class looks like.
struct HandWrittenConfig {
  Kiv::Ptr<Bridging::Orva::Config> config;
};

}  // namespace

PYBIND11_EMBEDDED_MODULE(bts_bench_peer, m) {
  py::class_<HandWrittenConfig>(m, "Config")
      .def(py::init([](std::string const& name) { return HandWrittenConfig{Bridging::Orva::configFactory(Kiv::Name(name.c_str()))}; }))
      .def_property(
          "complete", [](HandWrittenConfig const& c) { return c.config->complete(); },
          [](HandWrittenConfig const& c, bool v) { c.config->completeIs(v); });
}

namespace bench {
namespace {

constexpr int writesPerIteration = 1000;
constexpr benchmark::IterationCount iterations = 200;

char const* const loops = R"(
import bridging_test_support as bts
import bts_bench_peer

def seen(key):
    pass

def writes(obj, n):
    for i in range(n):
        obj.complete = True
        obj.complete = False

def writes_and_calls(obj, n):
    for i in range(n):
        obj.complete = True
        seen(None)
        obj.complete = False
        seen(None)
)";

// The interpreter and the loops, made once for the process (never torn
// down: the program ends with it).
py::dict& scope() {
  static py::dict* s = [] {
    new py::scoped_interpreter();
    py::module_::import("sys").attr("path").attr("insert")(0, BTS_PYTHON_DIR);
    auto* d = new py::dict(py::module_::import("__main__").attr("__dict__"));
    py::exec(loops, *d);
    return d;
  }();
  return *s;
}

// Runs `loop(obj, n)` per iteration; each write's time is reported.
void runLoop(benchmark::State& state, char const* loop, py::object const& obj) {
  py::object const f = scope()[loop];
  AllocationCounter allocations(state);
  for (auto _ : state) {
    auto const start = std::chrono::steady_clock::now();
    f(obj, writesPerIteration / 2);
    std::chrono::duration<double> const spent = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(spent.count() / writesPerIteration);
  }
  allocations.stop();
}

void BM_PythonAttributeWrite_Kiv(benchmark::State& state) {
  Kiv::eventLoop().reset();
  py::object const bts = scope()["bts"];
  runLoop(state, "writes", bts.attr("Bridging").attr("Orva").attr("Config")("generic"));
}
BENCHMARK(BM_PythonAttributeWrite_Kiv)->UseManualTime()->Iterations(iterations);

void BM_PythonAttributeWrite_HandWrittenProperty(benchmark::State& state) {
  runLoop(state, "writes", scope()["bts_bench_peer"].attr("Config")("peer"));
}
BENCHMARK(BM_PythonAttributeWrite_HandWrittenProperty)->UseManualTime()->Iterations(iterations);

void BM_PythonNotification_Kiv(benchmark::State& state) {
  Kiv::eventLoop().reset();
  py::object const cfg = scope()["bts"].attr("Bridging").attr("Orva").attr("Config")("observed");
  py::object const watch = cfg.attr("observe")("complete", scope()["seen"]);
  runLoop(state, "writes", cfg);
}
BENCHMARK(BM_PythonNotification_Kiv)->UseManualTime()->Iterations(iterations);

void BM_PythonNotification_PlainCall(benchmark::State& state) {
  Kiv::eventLoop().reset();
  runLoop(state, "writes_and_calls", scope()["bts"].attr("Bridging").attr("Orva").attr("Config")("called"));
}
BENCHMARK(BM_PythonNotification_PlainCall)->UseManualTime()->Iterations(iterations);

}  // namespace
}  // namespace bench
