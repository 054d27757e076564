// Seeded random sequences of changes to the bridging and topology model,
// with the reflector tree over it, checked after every step against a plain
// reference written here: maps of what is configured and present, and for
// each port reflector the due times of its two clock call-backs. Topologies,
// ports, VLANs, VLAN-to-topology mappings, forwarding databases and learned
// hosts appear and vanish; port states change; flush requests arrive, also
// several before the loop turns and for ports whose status has gone; the
// loop runs forward by fractions of the reflection delay. A host holds port
// reflectors and wrappers made by newTopoPortConfig and later drops them: a
// removed reflector acts no more once nobody holds it, and a wrapper that
// outlives its reflector does nothing. A held reflector whose status went
// with it is kept removed until dropped; its port then takes no state or
// flush changes, since the reflector still observes the port's
// configuration (a held reflector removed otherwise is dropped at once).
//
// A difference fails with the seed, the step and the operation, and lists
// what only the product and what only the reference has. CI runs a few
// seeds; BTS_TORTURE_SEEDS=n runs n, from BTS_TORTURE_FIRST (default 1).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Trace.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "reflector/TopoStateReflector.h"

namespace ReflectorTesting {
namespace {

using Bridging::Topology::PortState;
using Lines = std::vector<std::string>;

constexpr double delay = 0x1p-20;
// A call-back due at the loop's next turn, whatever its time.
constexpr double nextTurn = -std::numeric_limits<double>::infinity();

char const* const topologies[] = {"red", "green"};
char const* const ports[] = {"Ethernet1", "Ethernet2", "Ethernet3"};
std::uint16_t const vlans[] = {10, 20, 30};
constexpr std::uint64_t hostAddresses = 8;

std::string stateName(PortState s) {
  std::ostringstream os;
  os << s;
  return os.str();
}

// What the model and the reflectors must hold, without any runtime.
struct Reference {
  struct PortConfig {
    PortState state = PortState::disabled;
    std::uint32_t flush = 0;
  };
  struct TopoConfig {
    int generation;  // tells a topology's configuration from a later one of the same name
    std::map<std::string, PortConfig> ports;
  };
  struct PortStatus {
    PortState state = PortState::disabled;
    std::uint32_t report = 0;
  };
  struct PortReflector {
    double lastFlush;
    std::optional<double> clockDue, fdbDue;
  };
  using PortKey = std::pair<std::string, std::string>;

  std::map<std::string, TopoConfig> config;
  std::map<std::string, std::map<std::string, PortStatus>> status;
  std::set<std::uint16_t> vlanConfigs;
  std::map<std::uint16_t, int> vidToTopo;                             // to a configuration's generation
  std::map<std::uint16_t, std::map<std::uint64_t, std::string>> fdb;  // fid: address to port
  std::map<PortKey, PortReflector> reflectors;
  double now = 0.0;
  int generations = 0;

  // The topology's configuration, made (a new generation) when absent.
  TopoConfig& topoConfigIs(std::string const& name) {
    auto const it = config.find(name);
    return it != config.end() ? it->second : config[name] = TopoConfig{++generations, {}};
  }

  // Makes and removes port reflectors as the model now asks.
  void sync() {
    for (auto it = reflectors.begin(); it != reflectors.end();)
      it = wanted(it->first) ? std::next(it) : reflectors.erase(it);
    for (auto const& [topo, tc] : config) {
      for (auto const& [port, pc] : tc.ports) {
        PortKey const key{topo, port};
        if (!wanted(key) || reflectors.count(key)) continue;
        // New clock observers are due at the next turn; a state to copy
        // re-arms the state clock for the reflection delay.
        bool const differs = pc.state != status[topo][port].state;
        reflectors[key] = PortReflector{double(pc.flush), differs ? now + delay : nextTurn, nextTurn};
      }
    }
  }
  bool wanted(PortKey const& k) const {
    auto const tc = config.find(k.first);
    auto const ts = status.find(k.first);
    return tc != config.end() && ts != status.end() && tc->second.ports.count(k.second) && ts->second.count(k.second);
  }

  void stateIs(PortKey const& k, PortState s) {
    PortConfig& pc = config.at(k.first).ports.at(k.second);
    if (pc.state == s) return;
    pc.state = s;
    auto const r = reflectors.find(k);
    if (r != reflectors.end() && s != status[k.first][k.second].state) r->second.clockDue = now + delay;
  }
  void flushIs(PortKey const& k, std::uint32_t counter) {
    PortConfig& pc = config.at(k.first).ports.at(k.second);
    if (pc.flush == counter) return;
    pc.flush = counter;
    auto const r = reflectors.find(k);
    if (r == reflectors.end() || r->second.lastFlush == counter) return;
    int const generation = config.at(k.first).generation;
    for (std::uint16_t vid : vlanConfigs) {
      auto const m = vidToTopo.find(vid);
      auto const f = fdb.find(vid);
      if (m == vidToTopo.end() || m->second != generation || f == fdb.end()) continue;
      for (auto h = f->second.begin(); h != f->second.end();)
        h = h->second == k.second ? f->second.erase(h) : std::next(h);
    }
    r->second.lastFlush = counter;
    r->second.fdbDue = now + delay;
  }
  void advance(double dt) {
    now += dt;
    for (auto& [k, r] : reflectors) {
      if (r.clockDue && *r.clockDue <= now) {
        status[k.first][k.second].state = config[k.first].ports[k.second].state;
        r.clockDue.reset();
      }
      if (r.fdbDue && *r.fdbDue <= now) {
        status[k.first][k.second].report = static_cast<std::uint32_t>(r.lastFlush);
        r.fdbDue.reset();
      }
    }
  }

  Lines lines() const {
    Lines r;
    std::set<std::string> topoReflectors;
    for (auto const& [k, pr] : reflectors) {
      topoReflectors.insert(k.first);
      r.push_back("port reflector " + k.first + "/" + k.second + " handled flush " +
                  std::to_string(static_cast<std::uint64_t>(pr.lastFlush)));
    }
    for (auto const& [name, tc] : config)
      if (status.count(name)) topoReflectors.insert(name);
    for (auto const& name : topoReflectors) r.push_back("topology reflector " + name);
    for (auto const& [topo, ps] : status)
      for (auto const& [port, s] : ps)
        r.push_back("port status " + topo + "/" + port + " " + stateName(s.state) + " report " +
                    std::to_string(s.report));
    for (auto const& [fid, hosts] : fdb)
      for (auto const& [addr, port] : hosts)
        r.push_back("host " + std::to_string(fid) + ":" + std::to_string(addr) + " on " + port);
    std::sort(r.begin(), r.end());
    return r;
  }
};

class Torture {
 public:
  explicit Torture(std::uint32_t seed) : random_(seed) {
    root_ = Bridging::stateReflectorFactory(topoConfig_, topoStatus_, brConfig_, brStatus_, clock_);
  }

  // One random change, applied to both; returns what it was.
  std::string step() {
    char const* const topo = pickOf(topologies);
    char const* const port = pickOf(ports);
    Reference::PortKey const key{topo, port};
    std::uint16_t const vid = pickOf(vlans);
    std::string const where = std::string(topo) + "/" + port;
    bool const busy = held(key);
    // Additions outweigh removals, so that the system fills up.
    switch (pick(27)) {
      case 0:
        ref_.topoConfigIs(topo);
        topoConfig_->topoConfigIs(topo);
        ref_.sync();
        return "configure topology " + std::string(topo);
      case 1:
        ref_.config.erase(topo);
        topoConfig_->topoConfigDel(topo);
        ref_.sync();
        return "remove topology configuration " + std::string(topo);
      case 2:
        ref_.status[topo];
        topoStatus_->topoStatusIs(topo);
        ref_.sync();
        return "add topology status " + std::string(topo);
      case 3:
        ref_.status.erase(topo);
        topoStatus_->topoStatusDel(topo);
        ref_.sync();
        return "remove topology status " + std::string(topo);
      case 4:
      case 5:
      case 6:
        ref_.topoConfigIs(topo).ports[port];
        topoConfig_->topoConfigIs(topo)->topoPortConfigIs(intf(port));
        ref_.sync();
        return "configure port " + where;
      case 7:
        if (ref_.config.count(topo)) ref_.config[topo].ports.erase(port);
        if (auto const t = topoConfig_->topoConfig(topo)) t->topoPortConfigDel(intf(port));
        ref_.sync();
        return "remove port configuration " + where;
      case 8:
      case 9:
      case 10:
        ref_.status[topo][port];
        topoStatus_->topoStatusIs(topo)->topoPortStatusIs(intf(port));
        ref_.sync();
        return "add port status " + where;
      case 11:
        if (ref_.status.count(topo)) ref_.status[topo].erase(port);
        if (auto const t = topoStatus_->topoStatus(topo)) t->topoPortStatusDel(intf(port));
        ref_.sync();
        return "remove port status " + where;
      case 12:
      case 13: {
        auto const pc = portConfig(topo, port);
        if (!pc || busy) return "no port configuration " + where;
        PortState const s = static_cast<PortState>(pick(4));
        ref_.stateIs(key, s);
        pc->stateIs(s);
        return "configure state of " + where + " to " + stateName(s);
      }
      case 14:
      case 15:
      case 16: {
        // Requests in bursts, before the loop turns; now and then one back
        // to a counter already carried out.
        auto const pc = portConfig(topo, port);
        if (!pc || busy) return "no port configuration " + where;
        std::string what = "flush " + where + " to";
        for (std::uint32_t n = 1 + pick(3); n > 0; --n) {
          std::uint32_t const counter = pick(4) == 0 ? pick(3) : pc->fdbFlush() + 1;
          ref_.flushIs(key, counter);
          pc->fdbFlushIs(counter);
          what += " " + std::to_string(counter);
        }
        return what;
      }
      case 17: {
        auto const ps = portStatus(topo, port);
        if (!ps) return "no port status " + where;
        PortState const s = static_cast<PortState>(pick(4));
        ref_.status[topo][port].state = s;
        ps->stateIs(s);
        return "set status state of " + where + " to " + stateName(s);
      }
      case 18:
      case 19:
        switch (pick(6)) {
          case 0:
          case 1:
            ref_.vlanConfigs.insert(vid);
            brConfig_->vlanConfigIs(Bridging::VlanId(vid));
            return "configure vlan " + std::to_string(vid);
          case 2:
            ref_.vlanConfigs.erase(vid);
            brConfig_->vlanConfigDel(Bridging::VlanId(vid));
            return "remove vlan " + std::to_string(vid);
          case 3:
          case 4:
            ref_.vidToTopo[vid] = ref_.topoConfigIs(topo).generation;
            topoConfig_->vidToTopoMapIs(Bridging::VlanId(vid), topoConfig_->topoConfigIs(topo));
            ref_.sync();
            return "map vlan " + std::to_string(vid) + " to " + topo;
          default:
            ref_.vidToTopo.erase(vid);
            topoConfig_->vidToTopoMapDel(Bridging::VlanId(vid));
            return "unmap vlan " + std::to_string(vid);
        }
      case 20:
      case 21: {
        std::uint64_t const addr = 1 + pick(hostAddresses);
        switch (pick(6)) {
          case 0:
          case 1:
          case 2:
          case 3:
            ref_.fdb[vid][addr] = port;
            brStatus_->fdbStatusIs(Bridging::Fid(vid))
                ->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(addr), intf(port)));
            return "learn host " + std::to_string(addr) + " in vlan " + std::to_string(vid) + " on " + port;
          case 4:
            if (ref_.fdb.count(vid)) ref_.fdb[vid].erase(addr);
            if (auto const f = brStatus_->fdbStatus(Bridging::Fid(vid))) f->learnedHostDel(Pyrel::EthAddr(addr));
            return "forget host " + std::to_string(addr) + " in vlan " + std::to_string(vid);
          default:
            ref_.fdb.erase(vid);
            brStatus_->fdbStatusDel(Bridging::Fid(vid));
            return "remove forwarding database " + std::to_string(vid);
        }
      }
      case 24:
      case 25: {
        auto const t = root_->topoStateReflector(topo);
        auto const r = t ? t->topoPortStateReflector(intf(port)) : nullptr;
        if (!r) return "no port reflector " + where;
        held_.push_back({key, r});
        if (auto const c = r->topoPortConfig()) wrappers_.push_back(r->newTopoPortConfig(c));
        return "hold port reflector " + where;
      }
      case 26:
        held_.clear();
        wrappers_.clear();
        return "drop what the host holds";
      default: {
        // A fraction of the delay at a time, so that call-backs fall due
        // between, at and across steps.
        double const dt = (1 + pick(3)) * (delay / 2);
        ref_.advance(dt);
        Kiv::eventLoop().advance(dt);
        return "advance by " + std::to_string(dt / delay) + " delays";
      }
    }
  }

  // The product's side, in the reference's lines.
  Lines lines() const {
    Lines r;
    for (auto t = root_->topoStateReflectorIteratorConst(); t; ++t) {
      r.push_back("topology reflector " + t->name().stdString());
      for (auto p = t->topoPortStateReflectorIteratorConst(); p; ++p)
        r.push_back("port reflector " + t->name().stdString() + "/" + p->intfId().stringValue().stdString() +
                    " handled flush " + std::to_string(static_cast<std::uint64_t>(p->lastFdbFlush())));
    }
    for (auto t = topoStatus_->topoStatusIteratorConst(); t; ++t)
      for (auto p = t->topoPortStatusIteratorConst(); p; ++p)
        r.push_back("port status " + t->name().string().stdString() + "/" + p->intfId().stringValue().stdString() +
                    " " + stateName(p->state()) + " report " + std::to_string(p->fdbFlushReport()));
    for (auto f = brStatus_->fdbStatusIteratorConst(); f; ++f)
      for (auto h = f->learnedHostIteratorConst(); h; ++h)
        r.push_back("host " + std::to_string(f->fid().value()) + ":" + std::to_string(h->key().value()) + " on " +
                    h->value().intf().stringValue().stdString());
    std::sort(r.begin(), r.end());
    return r;
  }
  Lines referenceLines() const { return ref_.lines(); }

  // Drops the held reflectors that have left their collection unless their
  // status went with them (see above).
  void dropObservingRemoved() {
    auto const observing = [this](Held const& h) {
      if (h.reflector->kivInMap()) return false;
      auto const status = portStatus(h.key.first.c_str(), h.key.second.c_str());
      return status && status == h.reflector->topoPortStatus();
    };
    held_.erase(std::remove_if(held_.begin(), held_.end(), observing), held_.end());
  }

 private:
  struct Held {
    Reference::PortKey key;
    Kiv::Ptr<Bridging::TopoPortStateReflector> reflector;
  };
  // Whether the host holds a removed reflector of that port.
  bool held(Reference::PortKey const& key) const {
    return std::any_of(held_.begin(), held_.end(),
                       [&](Held const& h) { return h.key == key && !h.reflector->kivInMap(); });
  }
  std::uint32_t pick(std::uint32_t n) { return random_() % n; }
  template <class T, std::size_t N>
  T const& pickOf(T const (&values)[N]) {
    return values[pick(N)];
  }
  Kiv::Ptr<Bridging::Topology::TopoPortConfig> portConfig(char const* topo, char const* port) const {
    auto const t = topoConfig_->topoConfig(topo);
    return t ? t->topoPortConfig(intf(port)) : nullptr;
  }
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> portStatus(char const* topo, char const* port) const {
    auto const t = topoStatus_->topoStatus(topo);
    return t ? t->topoPortStatus(intf(port)) : nullptr;
  }
  static Pyrel::IntfId intf(char const* name) { return Pyrel::IntfId(name); }

  std::mt19937 random_;
  Reference ref_;
  Kiv::Ptr<Bridging::Topology::Config> topoConfig_ = Bridging::Topology::Config::ConfigIs("topo");
  Kiv::Ptr<Bridging::Topology::Inst::Status> topoStatus_ = Bridging::Topology::Inst::Status::StatusIs("status");
  Kiv::Ptr<Bridging::Config> brConfig_ = Bridging::Config::ConfigIs("brConfig");
  Kiv::Ptr<Bridging::Status> brStatus_ = Bridging::Status::StatusIs("brStatus");
  Kiv::Ptr<Kiv::Clock> clock_ = Kiv::Clock::ClockIs("clock");
  Kiv::Ptr<Bridging::StateReflector> root_;
  std::vector<Held> held_;
  std::vector<Kiv::Ptr<Bridging::TopoPortStateReflector::KivTopoPortConfig>> wrappers_;
};

std::uint32_t environment(char const* name, std::uint32_t otherwise) {
  char const* const v = std::getenv(name);
  return v && *v ? static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10)) : otherwise;
}

// What one side has and the other lacks, one line each.
std::string difference(Lines const& product, Lines const& reference) {
  Lines onlyProduct, onlyReference;
  std::set_difference(product.begin(), product.end(), reference.begin(), reference.end(),
                      std::back_inserter(onlyProduct));
  std::set_difference(reference.begin(), reference.end(), product.begin(), product.end(),
                      std::back_inserter(onlyReference));
  std::string r;
  for (auto const& l : onlyProduct) r += "\n  product only:   " + l;
  for (auto const& l : onlyReference) r += "\n  reference only: " + l;
  return r;
}

// Runs one seed for `steps` steps; the first difference fails it.
::testing::AssertionResult tortureSeed(std::uint32_t seed, int steps) {
  Kiv::eventLoop().reset();
  Torture t(seed);
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  for (int i = 1; i <= steps; ++i) {
    std::string const what = t.step();
    t.dropObservingRemoved();
    Lines const product = t.lines(), reference = t.referenceLines();
    if (product != reference) {
      result = ::testing::AssertionFailure()
               << "seed " << seed << ", step " << i << " (" << what << "):" << difference(product, reference);
      break;
    }
  }
  Kiv::eventLoop().reset();
  return result;
}

TEST(ReflectorTorture, RandomChangesKeepTheTreeStatusesAndHostsAsTheReferenceSays) {
  Kiv::TraceHandle::configure("TopoStateReflector", false, 0x3FF);
  std::uint32_t const first = environment("BTS_TORTURE_FIRST", 1);
  std::uint32_t const seeds = environment("BTS_TORTURE_SEEDS", 40);
  for (std::uint32_t seed = first; seed < first + seeds; ++seed) {
    ::testing::AssertionResult const r = tortureSeed(seed, 300);
    ASSERT_TRUE(r) << "BTS_TORTURE_FIRST=" << seed << " BTS_TORTURE_SEEDS=1 replays it";
  }
}

}  // namespace
}  // namespace ReflectorTesting
