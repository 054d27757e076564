#pragma once
// A small bridged system for the reflector tests: the topology
// configuration and status, the bridging configuration and status and one
// clock, on simulated time starting at 0.0, with every record of the
// reflectors' trace handle captured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Trace.h"
#include "reflector/TopoStateReflector.h"
#include "support/ExceptionMessage.h"

namespace ReflectorTesting {

using Bridging::Topology::PortState;
using Log = std::vector<std::string>;
using TestSupport::nameInUseMessage;

// The delay between a change and its reflection.
constexpr double delay = 0x1p-20;

inline Pyrel::IntfId intf(char const* name) { return Pyrel::IntfId(name); }

// The entry record of `cls`'s handler `handler` taking `args`.
inline std::string entryTrace(char const* cls, char const* handler, char const* args = "") {
  return std::string("8 ") + handler + ": void Bridging::" + cls + "::" + handler + "(" + args + ")";
}

class ReflectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv::eventLoop().reset();
    Kiv::TraceHandle::configure("TopoStateReflector", true, 0x3FF);
  }
  void TearDown() override {
    Kiv::TraceHandle::configure("TopoStateReflector", false, 0x3FF);
    Kiv::eventLoop().reset();
  }

  // Port `name` of topology `topo`, in the configuration and the status.
  std::pair<Kiv::Ptr<Bridging::Topology::TopoPortConfig>, Kiv::Ptr<Bridging::Topology::TopoPortStatus>> port(
      char const* topo, char const* name) {
    return {topoConfig->topoConfigIs(topo)->topoPortConfigIs(intf(name)),
            topoStatus->topoStatusIs(topo)->topoPortStatusIs(intf(name))};
  }
  // VLAN `vid`, configured, mapped to topology `topo` and with a
  // forwarding database.
  void vlan(std::uint16_t vid, char const* topo) {
    brConfig->vlanConfigIs(Bridging::VlanId(vid));
    topoConfig->vidToTopoMapIs(Bridging::VlanId(vid), topoConfig->topoConfigIs(topo));
    brStatus->fdbStatusIs(Bridging::Fid(vid));
  }
  // Host `host` (its address as a number) learned in VLAN `vid` on port `on`.
  struct Host {
    std::uint16_t vid;
    std::uint64_t host;
    char const* on;
  };
  void learn(std::initializer_list<Host> hosts) {
    for (Host const& h : hosts)
      brStatus->fdbStatusIs(Bridging::Fid(h.vid))
          ->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(h.host), intf(h.on)));
  }
  // The hosts left in VLAN `vid`, as "vid:n", sorted.
  Log hosts(std::uint16_t vid) const {
    Log r;
    auto fdb = brStatus->fdbStatus(Bridging::Fid(vid));
    for (auto it = fdb->learnedHostIteratorConst(); it; ++it)
      r.push_back(std::to_string(vid) + ":" + std::to_string(it->key().value()));
    std::sort(r.begin(), r.end());
    return r;
  }

  // The captured records at `maxLevel` or below, as "level function:
  // text"; clears the capture.
  Log traces(int maxLevel = 9) {
    Log r;
    for (auto const& t : capture.records()) {
      EXPECT_EQ(t.handle.stdString() + t.source.stdString() + t.context.stdString(),
                "TopoStateReflectorTopoStateReflector<unknown>");
      if (t.level <= maxLevel)
        r.push_back(std::to_string(t.level) + " " + t.function.stdString() + ": " + t.text.stdString());
    }
    capture.clear();
    return r;
  }
  void runUntil(double t) { Kiv::eventLoop().runUntil(t); }

  Kiv::Ptr<Bridging::Topology::Config> topoConfig = Bridging::Topology::Config::ConfigIs("topo");
  Kiv::Ptr<Bridging::Topology::Inst::Status> topoStatus = Bridging::Topology::Inst::Status::StatusIs("status");
  Kiv::Ptr<Bridging::Config> brConfig = Bridging::Config::ConfigIs("brConfig");
  Kiv::Ptr<Bridging::Status> brStatus = Bridging::Status::StatusIs("brStatus");
  Kiv::Ptr<Kiv::Clock> clock = Kiv::Clock::ClockIs("clock");
  Kiv::TraceCapture capture;
};

}  // namespace ReflectorTesting
