// Kiv::HashMap beside std::unordered_map, with the same keys and the same
// hash function on both sides (the key's own hash()): look-up of present
// and absent keys, building a map of N members, and a walk over all of
// them. Keys: Kiv::String8, Pyrel::IntfId and Bridging::VlanId (an integer).
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "Kiv/HashMap.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"
#include "Lumo/Types.h"
#include "Pyrel/IntfId.h"

namespace bench {
namespace {

// The i-th key of each kind; keys at or above the map's size are absent.
template <class K>
K keyOf(std::uint32_t i);
template <>
Kiv::String8 keyOf<Kiv::String8>(std::uint32_t i) {
  return Kiv::String8("host-" + std::to_string(i));
}
template <>
Pyrel::IntfId keyOf<Pyrel::IntfId>(std::uint32_t i) {
  return Pyrel::IntfId(Kiv::String8("Ethernet" + std::to_string(i / 48 + 1) + "/" + std::to_string(i % 48 + 1)));
}
template <>
Bridging::VlanId keyOf<Bridging::VlanId>(std::uint32_t i) {
  return Bridging::VlanId(static_cast<std::uint16_t>(i));
}

// N keys from `first` on, in a fixed shuffled order.
template <class K>
std::vector<K> keys(std::uint32_t first, std::uint32_t n) {
  std::vector<K> r;
  for (std::uint32_t i = first; i < first + n; ++i) r.push_back(keyOf<K>(i));
  std::shuffle(r.begin(), r.end(), std::mt19937(20240601));
  return r;
}

// A member of the runtime's map: its key and a value, as collections of
// the model hold them.
template <class K>
struct Member : Kiv::PtrInterface, Kiv::HashMapLink<Member<K>> {
  explicit Member(K const& k) : k(k) {}
  K const& key() const noexcept { return k; }
  K k;
  std::uint32_t value = 1;
};

template <class K>
struct KeyHash {
  std::size_t operator()(K const& k) const noexcept { return k.hash(); }
};

// The two maps behind one interface, so that every benchmark is written
// once.
template <class K>
struct KivMap {
  using M = Member<K>;
  Kiv::HashMap<M, K, Kiv::KeyBy<&M::key>> map;

  void insert(K const& k) { map.insert(Kiv::make<M>(k)); }
  void clear() { map.clear(); }
  std::uint32_t const* find(K const& k) const {
    M const* m = map.find(k);
    return m ? &m->value : nullptr;
  }
  std::uint64_t sum() const {
    std::uint64_t s = 0;
    for (auto it = map.iteratorConst(); it; ++it) s += it->value;
    return s;
  }
};

template <class K>
struct StdMap {
  std::unordered_map<K, std::uint32_t, KeyHash<K>> map;

  void insert(K const& k) { map.emplace(k, 1u); }
  void clear() { map.clear(); }
  std::uint32_t const* find(K const& k) const {
    auto it = map.find(k);
    return it == map.end() ? nullptr : &it->second;
  }
  std::uint64_t sum() const {
    std::uint64_t s = 0;
    for (auto const& entry : map) s += entry.second;
    return s;
  }
};

std::uint32_t sizeOf(benchmark::State const& state) { return static_cast<std::uint32_t>(state.range(0)); }

template <class Map, class K>
void fill(Map& m, std::vector<K> const& ks) {
  for (K const& k : ks) m.insert(k);
}

// Look-ups cycle through N keys that are present (hit) or absent (miss).
template <class Map, class K, bool hit>
void BM_Find(benchmark::State& state) {
  std::uint32_t const n = sizeOf(state);
  Map m;
  fill(m, keys<K>(0, n));
  std::vector<K> const probes = keys<K>(hit ? 0 : n, n);
  std::size_t i = 0;
  std::uint32_t found = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::uint32_t const* const v = m.find(probes[i]);
    benchmark::DoNotOptimize(v);
    found += v != nullptr;
    if (++i == probes.size()) i = 0;
  }
  allocations.stop();
  if ((found != 0) != hit) state.SkipWithError("look-ups found the wrong keys");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Builds the map of N members from empty, then empties it.
template <class Map, class K>
void BM_InsertAll(benchmark::State& state) {
  std::vector<K> const ks = keys<K>(0, sizeOf(state));
  Map m;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    fill(m, ks);
    m.clear();
  }
  allocations.stop();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * ks.size()));
}

// Walks all N members.
template <class Map, class K>
void BM_Iterate(benchmark::State& state) {
  std::uint32_t const n = sizeOf(state);
  Map m;
  fill(m, keys<K>(0, n));
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::uint64_t const s = m.sum();
    benchmark::DoNotOptimize(s);
    if (s != n) state.SkipWithError("the walk missed members");
  }
  allocations.stop();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {16, 1024, 4096}) b->Arg(n);
  b->ArgName("members");
}

// Each operation and key, the runtime's map first and its peer after it.
#define BENCH_MAPS(Key, label)                                                                          \
  BENCHMARK_TEMPLATE(BM_Find, KivMap<Key>, Key, true)->Name("HashMap/Find/Kiv/" label)->Apply(sizes);    \
  BENCHMARK_TEMPLATE(BM_Find, StdMap<Key>, Key, true)->Name("HashMap/Find/Std/" label)->Apply(sizes);    \
  BENCHMARK_TEMPLATE(BM_Find, KivMap<Key>, Key, false)->Name("HashMap/Miss/Kiv/" label)->Apply(sizes);   \
  BENCHMARK_TEMPLATE(BM_Find, StdMap<Key>, Key, false)->Name("HashMap/Miss/Std/" label)->Apply(sizes);   \
  BENCHMARK_TEMPLATE(BM_InsertAll, KivMap<Key>, Key)->Name("HashMap/InsertAll/Kiv/" label)->Apply(sizes); \
  BENCHMARK_TEMPLATE(BM_InsertAll, StdMap<Key>, Key)->Name("HashMap/InsertAll/Std/" label)->Apply(sizes); \
  BENCHMARK_TEMPLATE(BM_Iterate, KivMap<Key>, Key)->Name("HashMap/Iterate/Kiv/" label)->Apply(sizes);     \
  BENCHMARK_TEMPLATE(BM_Iterate, StdMap<Key>, Key)->Name("HashMap/Iterate/Std/" label)->Apply(sizes)

BENCH_MAPS(Kiv::String8, "String8");
BENCH_MAPS(Pyrel::IntfId, "IntfId");
BENCH_MAPS(Bridging::VlanId, "VlanId");

}  // namespace
}  // namespace bench
