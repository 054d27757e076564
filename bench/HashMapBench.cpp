// Kiv::HashMap beside std::unordered_map and absl::node_hash_map (both, like
// Kiv::HashMap, keep each member in its own heap block), with the same keys
// and the same hash function on every side (the key's own hash()): look-up
// of present and absent keys, building a map of N members, and a walk over
// all of them. Keys: Kiv::String8, Pyrel::IntfId and Bridging::VlanId (a
// 16-bit integer). "bytes_per_member" is the heap a map of N members asks
// for, members and bucket arrays, divided by N.
//
// The walk's maps hold members made in one order and inserted in another,
// so that no map's own order follows the order of the members in memory:
// each map's walk then waits on memory as a long-lived map's does.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <absl/container/node_hash_map.h>
#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "SmokeRun.h"
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

// The maps behind one interface, so that every benchmark is written once.
// insertShuffled(made, order) makes members for the keys `made` in that
// order and inserts them in the order of the indexes `order`.
template <class K>
struct KivMap {
  using M = Member<K>;
  Kiv::HashMap<M, K, Kiv::KeyBy<&M::key>> map;

  void insert(K const& k) { map.insert(Kiv::make<M>(k)); }
  void insertShuffled(std::vector<K> const& made, std::vector<std::uint32_t> const& order) {
    std::vector<Kiv::Ptr<M>> members;
    for (K const& k : made) members.push_back(Kiv::make<M>(k));
    for (std::uint32_t i : order) map.insert(members[i]);
  }
  void clear() { map.clear(); }
  std::uint32_t const* find(K const& k) const {
    M const* m = map.find(k);
    return m ? &m->value : nullptr;
  }
  // The walk of a loop that removes nothing.
  std::uint64_t sum() const {
    std::uint64_t s = 0;
    for (M const& m : map) s += m.value;
    return s;
  }
};

// A node-based peer: the standard's or Abseil's.
template <class Map>
struct NodeMap {
  using K = typename Map::key_type;
  Map map;

  void insert(K const& k) { map.emplace(k, 1u); }
  void insertShuffled(std::vector<K> const& made, std::vector<std::uint32_t> const& order) {
    Map staging;
    std::vector<typename Map::node_type> nodes;
    for (K const& k : made) {
      staging.emplace(k, 1u);
      nodes.push_back(staging.extract(k));
    }
    for (std::uint32_t i : order) map.insert(std::move(nodes[i]));
  }
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
template <class K>
using StdMap = NodeMap<std::unordered_map<K, std::uint32_t, KeyHash<K>>>;
template <class K>
using AbslMap = NodeMap<absl::node_hash_map<K, std::uint32_t, KeyHash<K>>>;

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
  reportBytes(state, "bytes_per_member", static_cast<double>(ks.size()), [&] { fill(m, ks); });
  m.clear();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    fill(m, ks);
    m.clear();
  }
  allocations.stop();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * ks.size()));
}

// Walks all N members, made in key order and inserted shuffled.
template <class Map, class K>
void BM_Iterate(benchmark::State& state) {
  std::uint32_t const n = sizeOf(state);
  std::vector<K> made;
  for (std::uint32_t i = 0; i < n; ++i) made.push_back(keyOf<K>(i));
  std::vector<std::uint32_t> order(n);
  for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(20240602));
  Map m;
  m.insertShuffled(made, order);
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::uint64_t const s = m.sum();
    benchmark::DoNotOptimize(s);
    if (s != n) state.SkipWithError("the walk missed members");
  }
  allocations.stop();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// From a small map to a large one: 16 to 1,000,000 members for names, up to
// the whole range of VLAN ids for the 16-bit key.
void nameSizes(benchmark::internal::Benchmark* b) {
  sizeArgs(b, {16, 1000, 10000, 100000, 1000000});
  b->ArgName("members");
}
void vlanSizes(benchmark::internal::Benchmark* b) {
  sizeArgs(b, {16, 256, 1000, 4000});
  b->ArgName("members");
}

// Each operation and key, the runtime's map first and its peers after it.
#define BENCH_MAP(Map, Key, label, side, sizes)                                                          \
  BENCHMARK_TEMPLATE(BM_Find, Map<Key>, Key, true)->Name("HashMap/Find/" side "/" label)->Apply(sizes);  \
  BENCHMARK_TEMPLATE(BM_Find, Map<Key>, Key, false)->Name("HashMap/Miss/" side "/" label)->Apply(sizes); \
  BENCHMARK_TEMPLATE(BM_InsertAll, Map<Key>, Key)->Name("HashMap/InsertAll/" side "/" label)->Apply(sizes); \
  BENCHMARK_TEMPLATE(BM_Iterate, Map<Key>, Key)->Name("HashMap/Iterate/" side "/" label)->Apply(sizes)
#define BENCH_MAPS(Key, label, sizes)              \
  BENCH_MAP(KivMap, Key, label, "Kiv", sizes);   \
  BENCH_MAP(StdMap, Key, label, "Std", sizes);   \
  BENCH_MAP(AbslMap, Key, label, "Absl", sizes)

BENCH_MAPS(Kiv::String8, "String8", nameSizes);
BENCH_MAPS(Pyrel::IntfId, "IntfId", nameSizes);
BENCH_MAPS(Bridging::VlanId, "VlanId", vlanSizes);

}  // namespace
}  // namespace bench
