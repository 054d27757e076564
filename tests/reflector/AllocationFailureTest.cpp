// Every allocation of an operation failing in turn (support/FailingAllocator.h):
// a flush through the reflector tree, building and tearing down the tree, a
// mutation of the agent configuration's tap devices with an observer, a
// change told to nine observers, a generic adapter's deferred forwarding, a
// generic call, and reading a tap device's text form. After each run the
// entity is changed or unchanged, never half-changed, the maps keep their
// invariants, and only std::bad_alloc came out. Leaks are LeakSanitizer's
// to find, under the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Kiv/GenericIf.h"
#include "Kiv/Hash.h"
#include "Kiv/KivType.h"
#include "Kiv/Strep.h"
#include "Kiv/Trace.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "agent/Config.h"
#include "agent/GenericAdapters.h"
#include "reflector/TopoStateReflector.h"
#include "support/FailingAllocator.h"
#include "support/GenericCalls.h"

namespace {

using Bridging::Orva::Config;
using TestSupport::FailAllocation;
using TestSupport::sweepAllocations;

constexpr double delay = 0x1p-20;

// How an armed operation ended.
enum class Outcome { completed, failed, otherException };

template <class F>
Outcome armedRun(std::uint64_t k, F&& operation) {
  FailAllocation armed(k);
  try {
    operation();
  } catch (std::bad_alloc const&) {
  } catch (...) {
    return Outcome::otherException;
  }
  return armed.failed() ? Outcome::failed : Outcome::completed;
}

// A map walked through its public iterator: as many members as it counts,
// each found again by its key, in strictly increasing order of bit-reversed
// hash and then key.
template <class It, class Key, class Find>
::testing::AssertionResult mapIntact(It it, std::uint32_t members, Key key, Find find) {
  std::uint32_t n = 0;
  bool first = true;
  decltype(key(*it)) last{};
  for (; it; ++it, ++n) {
    auto const k = key(*it);
    if (!find(k)) return ::testing::AssertionFailure() << "member " << n << " is not found by its key";
    if (!first) {
      std::uint32_t const a = Kiv::bitReverse(last.hash()), b = Kiv::bitReverse(k.hash());
      if (a > b || (a == b && !(last < k))) return ::testing::AssertionFailure() << "member " << n << " out of order";
    }
    last = k;
    first = false;
  }
  if (n != members) return ::testing::AssertionFailure() << "walked " << n << " members of " << members;
  return ::testing::AssertionSuccess();
}

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv::TraceHandle::configure("TopoStateReflector", false, 0x3FF);
    Kiv::eventLoop().reset();
  }
  void TearDown() override { Kiv::eventLoop().reset(); }
};

// --- The reflector tree

// A topology with two ports, VLANs 10 and 20 mapped to it and VLAN 30 to
// none, and hosts learned on both ports in all three.
struct BridgedSystem {
  BridgedSystem() {
    auto const red = topoConfig->topoConfigIs("red");
    for (char const* port : {"Ethernet1", "Ethernet2"}) {
      red->topoPortConfigIs(Pyrel::IntfId(port));
      topoStatus->topoStatusIs("red")->topoPortStatusIs(Pyrel::IntfId(port));
    }
    std::uint64_t addr = 1;
    for (std::uint16_t vid : {10, 20, 30}) {
      brConfig->vlanConfigIs(Bridging::VlanId(vid));
      if (vid != 30) topoConfig->vidToTopoMapIs(Bridging::VlanId(vid), red);
      for (char const* port : {"Ethernet1", "Ethernet2"})
        brStatus->fdbStatusIs(Bridging::Fid(vid))
            ->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(addr++), Pyrel::IntfId(port)));
    }
  }
  Kiv::Ptr<Bridging::Topology::TopoPortConfig> portConfig(char const* port) const {
    return topoConfig->topoConfig("red")->topoPortConfig(Pyrel::IntfId(port));
  }
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> portStatus(char const* port) const {
    return topoStatus->topoStatus("red")->topoPortStatus(Pyrel::IntfId(port));
  }
  Kiv::Ptr<Bridging::StateReflector> tree() const {
    return Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  }
  // Hosts per VLAN, as "vid:addr@port".
  std::vector<std::string> hosts() const {
    std::vector<std::string> r;
    for (auto f = brStatus->fdbStatusIteratorConst(); f; ++f)
      for (auto h = f->learnedHostIteratorConst(); h; ++h)
        r.push_back(std::to_string(f->fid().value()) + ":" + std::to_string(h->key().value()) + "@" +
                    h->value().intf().stringValue().stdString());
    std::sort(r.begin(), r.end());
    return r;
  }
  ::testing::AssertionResult fdbsIntact() const {
    for (auto f = brStatus->fdbStatusIteratorConst(); f; ++f) {
      auto const r = mapIntact(
          f->learnedHostIteratorConst(), f->learnedHosts(), [](auto const& h) { return h.key(); },
          [&](Pyrel::EthAddr const& a) { return f->learnedHost(a).addr() == a; });
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  // Every observer of the model is gone.
  bool unobserved() const {
    std::uint32_t n = topoConfig->kivNotifieeList().members() + topoStatus->kivNotifieeList().members() +
                      brConfig->kivNotifieeList().members() + brStatus->kivNotifieeList().members() +
                      clock->kivNotifieeList().members();
    for (auto t = topoConfig->topoConfigIteratorConst(); t; ++t) {
      n += t->kivNotifieeList().members();
      for (auto p = t->topoPortConfigIteratorConst(); p; ++p) n += p->kivNotifieeList().members();
    }
    for (auto t = topoStatus->topoStatusIteratorConst(); t; ++t) n += t->kivNotifieeList().members();
    return n == 0;
  }

  Kiv::Ptr<Bridging::Topology::Config> topoConfig = Bridging::Topology::Config::ConfigIs("topo");
  Kiv::Ptr<Bridging::Topology::Inst::Status> topoStatus = Bridging::Topology::Inst::Status::StatusIs("status");
  Kiv::Ptr<Bridging::Config> brConfig = Bridging::Config::ConfigIs("brConfig");
  Kiv::Ptr<Bridging::Status> brStatus = Bridging::Status::StatusIs("brStatus");
  Kiv::Ptr<Kiv::Clock> clock = Kiv::Clock::ClockIs("clock");
};

TEST_F(AllocationFailure, FlushIsCarriedOutAndReportedOrNotAtAll) {
  std::vector<std::string> const flushed = {"10:2@Ethernet2", "20:4@Ethernet2", "30:5@Ethernet1", "30:6@Ethernet2"};
  // The first request on a quiet port, and a second one before the loop
  // has reported the first: a failed second request must not cost the
  // first its report.
  for (std::uint32_t const earlier : {0u, 1u}) {
    std::uint32_t const request = earlier + 1;
    auto const points = sweepAllocations([&](std::uint64_t k) {
      Kiv::eventLoop().reset();
      BridgedSystem s;
      auto const tree = s.tree();
      Kiv::eventLoop().advance(delay);
      auto const port = s.portConfig("Ethernet1");
      if (earlier) {
        port->fdbFlushIs(earlier);
        Kiv::eventLoop().advance(delay / 2);  // the report is half-way due
      }
      auto const before = s.hosts();
      Outcome const outcome = armedRun(k, [&] {
        port->fdbFlushIs(request);
        Kiv::eventLoop().advance(2 * delay);
      });
      Kiv::eventLoop().advance(2 * delay);
      auto const reflector = tree->topoStateReflector("red")->topoPortStateReflector(Pyrel::IntfId("Ethernet1"));
      std::string const where = "request " + std::to_string(request) + ", allocation " + std::to_string(k);
      EXPECT_NE(outcome, Outcome::otherException) << where;
      EXPECT_TRUE(s.fdbsIntact()) << where;
      if (reflector->lastFdbFlush() == request) {
        EXPECT_EQ(s.hosts(), flushed) << where;
      } else {
        EXPECT_EQ(reflector->lastFdbFlush(), earlier) << where;
        EXPECT_EQ(s.hosts(), before) << where << ": not recorded, but hosts flushed";
      }
      EXPECT_EQ(s.portStatus("Ethernet1")->fdbFlushReport(), reflector->lastFdbFlush())
          << where << ": handled, not reported";
      return outcome == Outcome::failed;
    });
    EXPECT_GT(points, 0u);
    std::printf("flush request %u: %llu allocation points\n", request, static_cast<unsigned long long>(points));
  }
}

TEST_F(AllocationFailure, TreeIsBuiltWholeOrNotAtAllAndTornDownCompletely) {
  auto const points = sweepAllocations([&](std::uint64_t k) {
    Kiv::eventLoop().reset();
    BridgedSystem s;
    s.topoConfig->topoConfigIs("green")->topoPortConfigIs(Pyrel::IntfId("Ethernet3"));
    s.topoStatus->topoStatusIs("green")->topoPortStatusIs(Pyrel::IntfId("Ethernet3"));
    Kiv::Ptr<Bridging::StateReflector> tree;
    std::uint32_t topologies = 0, ports = 0;
    Outcome const outcome = armedRun(k, [&] {
      tree = s.tree();
      for (auto t = tree->topoStateReflectorIteratorConst(); t; ++t, ++topologies)
        ports += t->topoPortStateReflectors();
      tree = nullptr;
    });
    EXPECT_NE(outcome, Outcome::otherException) << "allocation " << k;
    if (outcome == Outcome::completed) {
      EXPECT_EQ(topologies, 2u);
      EXPECT_EQ(ports, 3u);
    }
    tree = nullptr;
    Kiv::eventLoop().advance(delay);
    EXPECT_TRUE(s.unobserved()) << "allocation " << k << ": an observer of a torn-down tree is still attached";
    return outcome == Outcome::failed;
  });
  EXPECT_GT(points, 0u);
  std::printf("tree: %llu allocation points\n", static_cast<unsigned long long>(points));
}

TEST_F(AllocationFailure, GenericCallMakesTheWholeTopologyReflectorOrNone) {
  auto const points = sweepAllocations([&](std::uint64_t k) {
    Kiv::eventLoop().reset();
    BridgedSystem s;
    auto const tree = Bridging::stateReflectorFactory(s.topoConfig, nullptr, s.brConfig, s.brStatus, s.clock);
    // The status arrives unobserved; the call makes the reflector.
    tree->hasNotificationActiveIs(false);
    tree->statusIs(s.topoStatus);
    tree->hasNotificationActiveIs(true);
    EXPECT_EQ(tree->topoStateReflectors(), 0u);
    auto const g = Kiv::KivType::genericIf(tree.ptr(), false);
    auto const arguments = Kiv::GenericIf::list({TestSupport::str("red")});
    Outcome const outcome = armedRun(k, [&] {
      g->attributeOp({Bridging::StateReflector::doSyncTopoAttrId, Kiv::GenericIf::opGet}, arguments, nullptr);
    });
    EXPECT_NE(outcome, Outcome::otherException) << "allocation " << k;
    auto const red = tree->topoStateReflector("red");
    EXPECT_TRUE(red || outcome == Outcome::failed) << "allocation " << k;
    EXPECT_EQ(red ? red->topoPortStateReflectors() : 2u, 2u)
        << "allocation " << k << ": a topology reflector half made";
    return outcome == Outcome::failed;
  });
  EXPECT_GT(points, 0u);
  std::printf("generic call: %llu allocation points\n", static_cast<unsigned long long>(points));
}

// --- The agent configuration

// Counts what it hears without allocating.
struct TapDeviceObserver : Config::Notifiee {
  void onExtTapDevice(Kiv::String8 key) override {
    ++heard;
    lastKey = key;
  }
  int heard = 0;
  Kiv::String8 lastKey;
};

TEST_F(AllocationFailure, TapDeviceMutationsChangeAndNotifyOrLeaveTheConfigurationAsItWas) {
  // Eight members fill the bucket array; the ninth grows it.
  struct Case {
    char const* what;
    char const* key;
    bool remove;
  } const cases[] = {{"add", "et9", false}, {"change", "et3", false}, {"delete", "et4", true}};
  for (Case const& c : cases) {
    auto const points = sweepAllocations([&](std::uint64_t k) {
      auto const config = Config::ConfigIs("config");
      for (int i = 1; i <= 8; ++i)
        config->extTapDeviceIs("et" + std::to_string(i), Config::TapDevice("tap-with-a-long-name", std::uint16_t(i)));
      auto const observer = Kiv::make<TapDeviceObserver>();
      observer->notifierIs(config);
      auto held = config->extTapDeviceIteratorConst();
      Config::TapDevice const wanted("replacement-tap-name", 99);
      Config::TapDevice const old = config->extTapDevice(c.key);
      std::uint32_t const members = config->extTapDevices();
      Outcome const outcome = armedRun(k, [&] {
        if (c.remove)
          config->extTapDeviceDel(c.key);
        else
          config->extTapDeviceIs(c.key, wanted);
      });
      EXPECT_NE(outcome, Outcome::otherException) << c.what << ", allocation " << k;
      Config::TapDevice const now = config->extTapDevice(c.key);
      bool const changed = c.remove ? config->extTapDevices() == members - 1 : now == wanted;
      if (changed) {
        EXPECT_EQ(observer->heard, 1) << c.what << ", allocation " << k << ": changed without a notification";
        EXPECT_EQ(observer->lastKey, Kiv::String8(c.key));
      } else {
        EXPECT_EQ(now, old) << c.what << ", allocation " << k;
        EXPECT_EQ(config->extTapDevices(), members) << c.what << ", allocation " << k << ": half changed";
        EXPECT_EQ(observer->heard, 0) << c.what << ", allocation " << k;
      }
      EXPECT_TRUE(mapIntact(
          config->extTapDeviceIteratorConst(), config->extTapDevices(), [](auto const& m) { return m.key(); },
          [&](Kiv::String8 const& key) {
            auto const at = config->extTapDeviceIteratorConst(key);
            return at && at->key() == key;
          }))
          << c.what << ", allocation " << k;
      // The iterator held across the change walks on safely.
      std::uint32_t walked = 0;
      for (; held; ++held) ++walked;
      EXPECT_LE(walked, std::max(members, config->extTapDevices())) << c.what << ", allocation " << k;
      return outcome == Outcome::failed;
    });
    std::printf("tap device %s: %llu allocation points\n", c.what, static_cast<unsigned long long>(points));
  }
}

// Counts what it hears without allocating.
struct CompleteObserver : Config::Notifiee {
  void onComplete() override { ++heard; }
  int heard = 0;
};

TEST_F(AllocationFailure, ChangeToNineObserversIsToldToAllOrRefused) {
  // Nine: one past the notification's inline snapshot.
  auto const points = sweepAllocations([&](std::uint64_t k) {
    auto const config = Config::ConfigIs("config");
    std::vector<Kiv::Ptr<CompleteObserver>> observers;
    for (int i = 0; i < 9; ++i) {
      observers.push_back(Kiv::make<CompleteObserver>());
      observers.back()->notifierIs(config);
    }
    Outcome const outcome = armedRun(k, [&] { config->completeIs(true); });
    EXPECT_NE(outcome, Outcome::otherException) << "allocation " << k;
    for (auto const& o : observers)
      EXPECT_EQ(o->heard, config->complete() ? 1 : 0) << "allocation " << k << ": stored, not told to everyone";
    return outcome == Outcome::failed;
  });
  std::printf("nine observers: %llu allocation points\n", static_cast<unsigned long long>(points));
}

TEST_F(AllocationFailure, GenericAdapterThatDefersHearsEveryChangeAfterAFailedSchedule) {
  struct Case {
    char const* what;
    Kiv::AttributeId id;
    std::function<void(Config&, int)> change;
    std::function<bool(Config const&, int)> changed;
  } const cases[] = {
      {"complete", Config::completeAttrId, [](Config& c, int round) { c.completeIs(round % 2 == 1); },
       [](Config const& c, int round) { return c.complete() == (round % 2 == 1); }},
      {"tap device", Config::extTapDeviceAttrId,
       [](Config& c, int round) { c.extTapDeviceIs("et1", Config::TapDevice("tap", std::uint16_t(round))); },
       [](Config const& c, int round) { return c.extTapDevice("et1").fileno() == round; }},
  };
  for (Case const& c : cases) {
    auto const points = sweepAllocations([&](std::uint64_t k) {
      Kiv::eventLoop().reset();
      auto const config = Config::ConfigIs("config");
      auto const g = Kiv::KivType::genericIf(config.ptr(), false);
      int heard = 0, keyed = 0;
      g->attributeSinkIs([&](Kiv::AttributeId id, Kiv::Ptr<Kiv::GenericIf const> const& key) {
        heard += id == c.id;
        keyed += id == c.id && key;
      });
      auto& observer = *static_cast<Config::GenericIf_&>(*g).kivGenericIfAdapter();
      observer.kivDeferredDeliveryIs(true);
      Outcome const outcome = armedRun(k, [&] { c.change(*config, 1); });
      Kiv::eventLoop().runOnce();
      std::string const where = std::string(c.what) + ", allocation " + std::to_string(k);
      EXPECT_NE(outcome, Outcome::otherException) << where;
      int const stored = c.changed(*config, 1);
      EXPECT_EQ(heard, stored) << where << ": a stored change not forwarded";
      c.change(*config, 2);
      Kiv::eventLoop().runOnce();
      EXPECT_EQ(heard, stored + 1) << where << ": the next change was dropped as already pending";
      if (c.id == Config::extTapDeviceAttrId) {
        EXPECT_EQ(keyed, heard) << where << ": forwarded without its key";
      }
      return outcome == Outcome::failed;
    });
    std::printf("deferred forwarding of %s: %llu allocation points\n", c.what,
                static_cast<unsigned long long>(points));
  }
}

TEST_F(AllocationFailure, TapDeviceTextIsReadWholeOrRefusedWithBadAlloc) {
  Kiv::String8 const text =
      "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'a-tap-device-name-beyond-short-strings', 'fileno': 7})";
  Config::TapDevice const expected("a-tap-device-name-beyond-short-strings", 7);
  auto const points = sweepAllocations([&](std::uint64_t k) {
    Config::TapDevice read;
    Outcome const outcome = armedRun(k, [&] { read = Kiv::strepToValue<Config::TapDevice>(text); });
    EXPECT_NE(outcome, Outcome::otherException) << "allocation " << k << ": a failed allocation read as bad text";
    EXPECT_EQ(read, outcome == Outcome::completed ? expected : Config::TapDevice()) << "allocation " << k;
    return outcome == Outcome::failed;
  });
  EXPECT_GT(points, 0u);
  std::printf("tap device text: %llu allocation points\n", static_cast<unsigned long long>(points));
}

}  // namespace
