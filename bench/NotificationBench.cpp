// One change of an entity attribute, told to N observers, beside the same
// store-and-tell written with boost::signals2 and with a plain vector of
// std::function. The runtime's notification copies its array of observers
// into a small inline buffer, so up to eight observers it makes no heap
// allocation; the "allocs" counter shows that, and the growth past it.
// "bytes_per_observer" is the heap that making and attaching an observer
// takes on each side; "entity_bytes" what every Kiv entity holds for its
// observers.
#include <cstdint>
#include <functional>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/signals2/signal.hpp>

#include "AllocationCounter.h"
#include "Kiv/Entity.h"
#include "Kiv/NotifieeList.h"
#include "Kiv/Ptr.h"

namespace bench {
namespace {

// An entity with one attribute, written as the model's entities are: store,
// then notify, and nothing on an equal value.
class Gauge : public Kiv::Entity {
 public:
  class NotifieeConst : public Kiv::Entity::NotifieeConstOf<Gauge> {
   public:
    virtual void onLevel() {}
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Gauge, NotifieeConst>;

  explicit Gauge(Kiv::Name const& name) : Kiv::Entity(name) {}
  std::uint32_t level() const noexcept { return level_; }
  void levelIs(std::uint32_t v) {
    if (v == level_) return;
    level_ = v;
    kivNotify(300, &NotifieeConst::onLevel);
  }

 private:
  std::uint32_t level_ = 0;
};

struct Observer : Gauge::Notifiee {
  explicit Observer(std::uint64_t* heard) : heard(heard) {}
  void onLevel() override { ++*heard; }
  std::uint64_t* heard;
};

// The peers: the same attribute with the same early return, telling its
// observers through Signal.
struct SignalsGauge {
  void levelIs(std::uint32_t v) {
    if (v == level) return;
    level = v;
    onLevel();
  }
  std::uint32_t level = 0;
  boost::signals2::signal<void()> onLevel;
};

struct FunctionsGauge {
  void levelIs(std::uint32_t v) {
    if (v == level) return;
    level = v;
    for (auto const& f : onLevel) f();
  }
  std::uint32_t level = 0;
  std::vector<std::function<void()>> onLevel;
};

std::uint32_t observerCount(benchmark::State const& state) { return static_cast<std::uint32_t>(state.range(0)); }

// Checks after the run that every observer heard every change.
void expectHeard(benchmark::State& state, std::uint64_t heard, std::uint32_t changes) {
  if (heard != std::uint64_t(changes) * observerCount(state)) state.SkipWithError("an observer missed a change");
  state.SetItemsProcessed(static_cast<std::int64_t>(heard));
}

void BM_Notify_Kiv(benchmark::State& state) {
  auto gauge = Kiv::make<Gauge>("gauge");
  std::uint64_t heard = 0;
  std::vector<Kiv::Ptr<Observer>> observers;
  observers.reserve(observerCount(state));
  reportBytes(state, "bytes_per_observer", observerCount(state), [&] {
    for (std::uint32_t i = 0; i < observerCount(state); ++i) {
      observers.push_back(Kiv::make<Observer>(&heard));
      observers.back()->notifierIs(gauge);
    }
  });
  state.counters["entity_bytes"] = sizeof(Kiv::NotifieeList);
  std::uint32_t level = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) gauge->levelIs(++level);
  allocations.stop();
  expectHeard(state, heard, level);
}

void BM_Notify_Signals2(benchmark::State& state) {
  SignalsGauge gauge;
  std::uint64_t heard = 0;
  reportBytes(state, "bytes_per_observer", observerCount(state), [&] {
    for (std::uint32_t i = 0; i < observerCount(state); ++i) gauge.onLevel.connect([&heard] { ++heard; });
  });
  std::uint32_t level = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) gauge.levelIs(++level);
  allocations.stop();
  expectHeard(state, heard, level);
}

void BM_Notify_StdFunctionVector(benchmark::State& state) {
  FunctionsGauge gauge;
  std::uint64_t heard = 0;
  reportBytes(state, "bytes_per_observer", observerCount(state), [&] {
    for (std::uint32_t i = 0; i < observerCount(state); ++i) gauge.onLevel.push_back([&heard] { ++heard; });
  });
  std::uint32_t level = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) gauge.levelIs(++level);
  allocations.stop();
  expectHeard(state, heard, level);
}

// One to 1,024 observers, with the inline snapshot's limit and one past
// it.
static_assert(Kiv::NotifieeList::inlineSnapshot == 8, "the arguments below straddle the inline snapshot");
void observerCounts(benchmark::internal::Benchmark* b) {
  for (int n : {1, 4, 8, 9, 16, 64, 256, 1024}) b->Arg(n);
  b->ArgName("observers");
}

BENCHMARK(BM_Notify_Kiv)->Apply(observerCounts);
BENCHMARK(BM_Notify_Signals2)->Apply(observerCounts);
BENCHMARK(BM_Notify_StdFunctionVector)->Apply(observerCounts);

}  // namespace
}  // namespace bench
