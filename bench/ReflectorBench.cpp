// The reflector tree from end to end, built by the factory over a bridged
// system on simulated time:
//
// - a flush request of one port over N VLANs with M hosts learned on that
//   port in each (and M more on another port, which stay), through to its
//   report in the port status; beside the same deletions and report written
//   by hand against the model, and the same deletions in plain
//   std::unordered_maps;
// - a port state change through to the port status, 2^-20 s later; beside
//   the same status write scheduled by hand on the event loop.
//
// Learning the hosts again before each flush is set-up: neither timed nor
// counted.
#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "SmokeRun.h"
#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Ptr.h"
#include "Kiv/Trace.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "reflector/TopoStateReflector.h"

namespace bench {
namespace {

using Bridging::Topology::PortState;

// The delay between a change and its reflection.
constexpr double delay = 0x1p-20;

// The hosts learned on the flushed port and on the port that keeps them.
constexpr std::uint64_t flushedHosts = 0x020000000000u;
constexpr std::uint64_t keptHosts = 0x040000000000u;

Pyrel::IntfId const& flushedPort() {
  static Pyrel::IntfId const intf(Kiv::String8("Ethernet1"));
  return intf;
}
Pyrel::IntfId const& keptPort() {
  static Pyrel::IntfId const intf(Kiv::String8("Ethernet2"));
  return intf;
}

// One topology "default" with eight ports and `vlans` VLANs, each with a
// forwarding database holding `hosts` hosts learned on the kept port. The
// event loop starts again at time 0 and the reflectors' traces are off.
struct BridgedSystem {
  BridgedSystem(std::uint32_t vlans, std::uint32_t hosts) {
    Kiv::eventLoop().reset();
    Kiv::TraceHandle::configure("TopoStateReflector", false, Kiv::TraceHandle::allLevels);
    for (std::uint32_t p = 1; p <= 8; ++p) {
      Pyrel::IntfId const intf(Kiv::String8("Ethernet" + std::to_string(p)));
      topo->topoPortConfigIs(intf);
      topoStatus->topoStatusIs("default")->topoPortStatusIs(intf);
    }
    for (std::uint16_t v = 1; v <= vlans; ++v) {
      Bridging::VlanId const vid(v);
      brConfig->vlanConfigIs(vid);
      topoConfig->vidToTopoMapIs(vid, topo);
      fdbs.push_back(brStatus->fdbStatusIs(Bridging::Fid(v)));
      learnIn(fdbs.back(), keptHosts, keptPort(), hosts);
    }
  }

  // Learns `hosts` hosts from address `first` on `intf` in every
  // forwarding database, or in `fdb`.
  void learnEverywhere(std::uint64_t first, Pyrel::IntfId const& intf, std::uint32_t hosts) {
    for (auto const& fdb : fdbs) learnIn(fdb, first, intf, hosts);
  }
  static void learnIn(Kiv::Ptr<Bridging::FdbStatus> const& fdb, std::uint64_t first, Pyrel::IntfId const& intf,
                      std::uint32_t hosts) {
    for (std::uint64_t h = first; h < first + hosts; ++h)
      fdb->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(h), intf));
  }

  // Whether every forwarding database holds exactly `hosts` hosts.
  bool holds(std::uint32_t hosts) const {
    for (auto const& fdb : fdbs)
      if (fdb->learnedHosts() != hosts) return false;
    return true;
  }

  Kiv::Ptr<Bridging::Topology::TopoPortConfig> portConfig() const { return topo->topoPortConfig(flushedPort()); }
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> portStatus() const {
    return topoStatus->topoStatus("default")->topoPortStatus(flushedPort());
  }

  Kiv::Ptr<Bridging::Topology::Config> topoConfig = Bridging::Topology::Config::ConfigIs("topo");
  Kiv::Ptr<Bridging::Topology::Inst::Status> topoStatus = Bridging::Topology::Inst::Status::StatusIs("status");
  Kiv::Ptr<Bridging::Config> brConfig = Bridging::Config::ConfigIs("brConfig");
  Kiv::Ptr<Bridging::Status> brStatus = Bridging::Status::StatusIs("brStatus");
  Kiv::Ptr<Kiv::Clock> clock = Kiv::Clock::ClockIs("clock");
  Kiv::Ptr<Bridging::Topology::TopoConfig> topo = topoConfig->topoConfigIs("default");
  std::vector<Kiv::Ptr<Bridging::FdbStatus>> fdbs;
};

std::uint32_t vlansOf(benchmark::State const& state) { return static_cast<std::uint32_t>(state.range(0)); }
std::uint32_t hostsOf(benchmark::State const& state) { return static_cast<std::uint32_t>(state.range(1)); }

void BM_Flush_Reflector(benchmark::State& state) {
  BridgedSystem system(vlansOf(state), hostsOf(state));
  auto root = Bridging::stateReflectorFactory(system.topoConfig, system.topoStatus, system.brConfig,
                                              system.brStatus, system.clock);
  auto const config = system.portConfig();
  std::uint32_t flush = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    allocations.pause();
    system.learnEverywhere(flushedHosts, flushedPort(), hostsOf(state));
    allocations.resume();
    config->fdbFlushIs(++flush);
    Kiv::eventLoop().advance(delay);
  }
  allocations.stop();
  if (!system.holds(hostsOf(state)) || system.portStatus()->fdbFlushReport() != flush)
    state.SkipWithError("the flush was not carried out and reported");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * vlansOf(state) * hostsOf(state));
}

// What the port reflector does for a flush, written against the model.
void BM_Flush_ModelByHand(benchmark::State& state) {
  BridgedSystem system(vlansOf(state), hostsOf(state));
  auto const status = system.portStatus();
  std::uint32_t flush = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    allocations.pause();
    system.learnEverywhere(flushedHosts, flushedPort(), hostsOf(state));
    allocations.resume();
    ++flush;
    for (auto vlan = system.brConfig->vlanConfigIteratorConst(); vlan; ++vlan) {
      Bridging::VlanId const vid = vlan->vlanId();
      if (system.topoConfig->vidToTopoMap(vid) != system.topo) continue;
      Kiv::Ptr<Bridging::FdbStatus> const fdb = system.brStatus->fdbStatus(Bridging::Fid(vid.value()));
      if (!fdb) continue;
      for (auto host = fdb->learnedHostIterator(); host; ++host)
        if (host->value().intf() == flushedPort()) fdb->learnedHostDel(host->key());
    }
    Kiv::eventLoop().timerIs(Kiv::now() + delay, [s = status.ptr(), flush] { s->fdbFlushReportIs(flush); });
    Kiv::eventLoop().advance(delay);
  }
  allocations.stop();
  if (!system.holds(hostsOf(state)) || status->fdbFlushReport() != flush)
    state.SkipWithError("the flush was not carried out and reported");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * vlansOf(state) * hostsOf(state));
}

struct EthAddrHash {
  std::size_t operator()(Pyrel::EthAddr const& a) const noexcept { return a.hash(); }
};

// The floor: the same deletions in one std::unordered_map per VLAN, with
// nothing to notify and nothing to report.
void BM_Flush_StdUnorderedMaps(benchmark::State& state) {
  std::uint32_t const hosts = hostsOf(state);
  std::vector<std::unordered_map<Pyrel::EthAddr, Pyrel::IntfId, EthAddrHash>> fdbs(vlansOf(state));
  auto learn = [&](std::uint64_t first, Pyrel::IntfId const& intf) {
    for (auto& fdb : fdbs)
      for (std::uint64_t h = first; h < first + hosts; ++h) fdb.emplace(Pyrel::EthAddr(h), intf);
  };
  learn(keptHosts, keptPort());
  AllocationCounter allocations(state);
  for (auto _ : state) {
    allocations.pause();
    learn(flushedHosts, flushedPort());
    allocations.resume();
    for (auto& fdb : fdbs)
      for (auto host = fdb.begin(); host != fdb.end();)
        host = host->second == flushedPort() ? fdb.erase(host) : std::next(host);
  }
  allocations.stop();
  for (auto const& fdb : fdbs)
    if (fdb.size() != hosts) state.SkipWithError("the flush was not carried out");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * vlansOf(state) * hosts);
}

void flushSizes(benchmark::internal::Benchmark* b) {
  b->ArgsProduct({{1, 16, 64}, {16, 256}});
  // The growth: 16 VLANs of 32 to 32,000 hosts on each of the two ports,
  // 1,024 to 1,024,000 learned hosts.
  for (int hosts : {32, 320, 3200, 32000})
    if (!smokeRun() || hosts <= 3200) b->Args({16, hosts});
  b->ArgNames({"vlans", "hosts"});
}

BENCHMARK(BM_Flush_Reflector)->Apply(flushSizes);
BENCHMARK(BM_Flush_ModelByHand)->Apply(flushSizes);
BENCHMARK(BM_Flush_StdUnorderedMaps)->Apply(flushSizes);

// The configured state alternates, so every iteration is a real change.
PortState nextState(std::uint64_t i) { return (i & 1) ? PortState::forwarding : PortState::learning; }

void BM_StateChange_Reflector(benchmark::State& state) {
  BridgedSystem system(1, 0);
  auto root = Bridging::stateReflectorFactory(system.topoConfig, system.topoStatus, system.brConfig,
                                              system.brStatus, system.clock);
  auto const config = system.portConfig();
  auto const status = system.portStatus();
  std::uint64_t i = 0;
  bool followed = true;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    PortState const s = nextState(++i);
    config->stateIs(s);
    Kiv::eventLoop().advance(delay);
    followed = followed && status->state() == s;
  }
  allocations.stop();
  if (!followed) state.SkipWithError("the status did not follow");
}

// The status write scheduled directly on the loop, without the tree.
void BM_StateChange_LoopTimerByHand(benchmark::State& state) {
  BridgedSystem system(1, 0);
  auto const config = system.portConfig();
  auto const status = system.portStatus();
  std::uint64_t i = 0;
  bool followed = true;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    PortState const s = nextState(++i);
    config->stateIs(s);
    Kiv::eventLoop().timerIs(Kiv::now() + delay, [st = status.ptr(), s] { st->stateIs(s); });
    Kiv::eventLoop().advance(delay);
    followed = followed && status->state() == s;
  }
  allocations.stop();
  if (!followed) state.SkipWithError("the status did not follow");
}

BENCHMARK(BM_StateChange_Reflector);
BENCHMARK(BM_StateChange_LoopTimerByHand);

}  // namespace
}  // namespace bench
