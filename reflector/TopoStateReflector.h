#pragma once
// The state reflector tree, which stands in for a spanning-tree protocol in
// test set-ups:
//
//   StateReflector                      one per system (stateReflectorFactory)
//     topoStateReflector[name]          a TopoStateReflector per topology that
//                                       has a configuration and a status
//       topoPortStateReflector[intfId]  a TopoPortStateReflector per port that
//                                       has a configuration and a status
//
// A port reflector copies the configured state of its port into the port
// status 2^-20 s after it changed, and answers each flush request of the
// port by deleting the hosts learned on it in the VLANs of its topology;
// 2^-20 s later it reports the request as handled. The two upper levels
// keep the tree in step with the topology configuration and status: a
// topology or port gains its reflector when it has both entries and loses
// it when either goes.
//
// examples/HostUsage.cpp, the example the README shows, makes a tree with
// stateReflectorFactory, holds its root in a Kiv::Ptr, changes a port's
// configured state and advances the event loop until the port status
// follows; dropping the root tears the whole tree down.
//
// The three classes are instances of the wiring in ReactorWiring.h: each
// gives its attributes in declaration order, its wrapped attributes and its
// handlers. Handlers are public; they trace their entry (level 8) and act
// only once `initialized` is set. A reference that a handler needs and does
// not have (null) makes it skip that work; a missing collection counts as
// empty.
//
// Everything runs on the one activity thread: handlers run from the
// wrappers' notifications and clock call-backs.
#include <cstdint>
#include <tuple>

#include "Kiv/Clock.h"
#include "Kiv/Export.h"
#include "Kiv/HashMap.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/IntfId.h"
#include "reflector/ReactorWiring.h"

namespace Bridging {

// One port of one topology. Copies the configured state into the status,
// flushes the port's learned hosts on request and reports the request.
class BRIDGING_API TopoPortStateReflector : public Reactor<TopoPortStateReflector>,
                                            public Kiv::HashMapLink<TopoPortStateReflector, Reactor<TopoPortStateReflector>> {
 public:
  class KivTopoPortConfig;
  class KivClock;
  class KivFdbClock;
  // The type object and the generic adapter (reflector/GenericAdapters.h).
  class _Type;
  class GenericIf_;

  // Attribute ids of the type registry (reflector/Registration.h).
  static constexpr Kiv::AttributeId intfIdAttrId = 130;
  static constexpr Kiv::AttributeId topoPortConfigAttrId = 131;
  static constexpr Kiv::AttributeId topoPortStatusAttrId = 132;
  static constexpr Kiv::AttributeId brConfigAttrId = 133;
  static constexpr Kiv::AttributeId brStatusAttrId = 134;
  static constexpr Kiv::AttributeId brTopoConfigAttrId = 135;
  static constexpr Kiv::AttributeId topoConfigAttrId = 136;
  static constexpr Kiv::AttributeId clockAttrId = 137;
  static constexpr Kiv::AttributeId fdbClockAttrId = 138;
  static constexpr Kiv::AttributeId lastFdbFlushAttrId = 139;
  static constexpr Kiv::AttributeId handleStateAttrId = 140;
  static constexpr Kiv::AttributeId handleFdbFlushAttrId = 141;
  static constexpr Kiv::AttributeId handleClockAttrId = 142;
  static constexpr Kiv::AttributeId handleFdbClockAttrId = 143;
  static constexpr Kiv::AttributeId doAddressTableFlushAttrId = 144;
  static constexpr Kiv::AttributeId initializedAttrId = 145;
  static constexpr Kiv::AttributeId handleInitializedAttrId = 146;

  // Made by the topology reflector (newTopoPortStateReflector). Runs the
  // handlers once, ending initialized; the maker then switches its
  // notification on.
  TopoPortStateReflector(Pyrel::IntfId const& intfId, Kiv::Ptr<Topology::TopoPortConfig> const& topoPortConfig,
                         Kiv::Ptr<Topology::TopoPortStatus> const& topoPortStatus, Kiv::Ptr<Config> const& brConfig,
                         Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
                         Kiv::Ptr<Topology::TopoConfig> const& topoConfig, Kiv::Ptr<Kiv::Clock> const& clock,
                         Kiv::Ptr<Kiv::Clock> const& fdbClock);
  ~TopoPortStateReflector() override;

  // The type object: made on first use, and registered with the runtime's
  // registry as soon as it takes registrations (reflector/Registration.cpp).
  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;

  Pyrel::IntfId const& intfId() const noexcept { return intfId_; }
  Kiv::Ptr<Topology::TopoPortConfig> topoPortConfig() const { return topoPortConfig_.value(); }
  Kiv::Ptr<Topology::TopoPortStatus> topoPortStatus() const { return topoPortStatus_; }
  Kiv::Ptr<Config> brConfig() const { return brConfig_; }
  Kiv::Ptr<Status> brStatus() const { return brStatus_; }
  Kiv::Ptr<Topology::Config> brTopoConfig() const { return brTopoConfig_; }
  Kiv::Ptr<Topology::TopoConfig> topoConfig() const { return topoConfig_; }
  Kiv::Ptr<Kiv::Clock> clock() const { return clock_.value(); }
  Kiv::Ptr<Kiv::Clock> fdbClock() const { return fdbClock_.value(); }
  // The last flush request counter carried out.
  double lastFdbFlush() const noexcept { return lastFdbFlush_; }
  bool initialized() const noexcept { return initialized_; }

  // Wrapped attributes (ReactorWiring.h: xIs, xDel, newX).
  void topoPortConfigIs(Kiv::Ptr<Topology::TopoPortConfig> const& v) { topoPortConfig_.is(v, this); }
  Kiv::Ptr<Topology::TopoPortConfig> topoPortConfigDel() { return topoPortConfig_.del(); }
  Kiv::Ptr<KivTopoPortConfig> newTopoPortConfig(Kiv::Ptr<Topology::TopoPortConfig> const& v) {
    return topoPortConfig_.make(v, this);
  }
  void clockIs(Kiv::Ptr<Kiv::Clock> const& v) { clock_.is(v, this); }
  Kiv::Ptr<Kiv::Clock> clockDel() { return clock_.del(); }
  Kiv::Ptr<KivClock> newClock(Kiv::Ptr<Kiv::Clock> const& v) { return clock_.make(v, this); }
  void fdbClockIs(Kiv::Ptr<Kiv::Clock> const& v) { fdbClock_.is(v, this); }
  Kiv::Ptr<Kiv::Clock> fdbClockDel() { return fdbClock_.del(); }
  Kiv::Ptr<KivFdbClock> newFdbClock(Kiv::Ptr<Kiv::Clock> const& v) { return fdbClock_.make(v, this); }

  // State setters: they store the value and nothing else.
  void initializedIs(bool v) noexcept { initialized_ = v; }
  void lastFdbFlushIs(double const& v) noexcept { lastFdbFlush_ = v; }

  // Sets `initialized`, schedules a state copy if the states differ, and
  // takes the flush counter present now as handled.
  void handleInitialized();
  // A configured state that differs from the status arms the clock for
  // 2^-20 s from now (replacing a pending arming).
  void handleState();
  // A new flush counter flushes the port's learned hosts, records the
  // counter and arms the fdb clock to report it.
  void handleFdbFlush();
  // Writes the configured state into the status.
  void handleClock();
  // Reports the last flush request carried out in the status.
  void handleFdbClock();
  // Deletes the hosts learned on this port in every configured VLAN that
  // belongs to this port's topology.
  void doAddressTableFlush();

  // For the owner's reinstantiation check.
  static constexpr char const* kivParameterNames[] = {"topoPortConfig", "topoPortStatus", "brConfig",
                                                      "brStatus",       "brTopoConfig",   "topoConfig",
                                                      "clock",          "fdbClock"};
  auto kivParameters() const {
    return std::make_tuple(topoPortConfig(), topoPortStatus_, brConfig_, brStatus_, brTopoConfig_, topoConfig_,
                           clock(), fdbClock());
  }

  // Observes the port's configuration.
  class KivTopoPortConfig
      : public ReactorWrapper<TopoPortStateReflector, Topology::TopoPortConfig::Notifiee,
                              &TopoPortStateReflector::handleState, &TopoPortStateReflector::handleFdbFlush> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoPortStateReflectorIs(TopoPortStateReflector* r) noexcept { reactorIs(r); }
    void onState() override {
      if (auto const r = live()) r->handleState();
    }
    void onFdbFlush() override {
      if (auto const r = live()) r->handleFdbFlush();
    }
  };

  // Observes the clock that times the state copy.
  class KivClock
      : public ReactorWrapper<TopoPortStateReflector, Kiv::Clock::Notifiee, &TopoPortStateReflector::handleClock> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoPortStateReflectorIs(TopoPortStateReflector* r) noexcept { reactorIs(r); }
    void onTime() override {
      if (auto const r = live()) r->handleClock();
    }
  };

  // Observes the clock that times the flush report.
  class KivFdbClock
      : public ReactorWrapper<TopoPortStateReflector, Kiv::Clock::Notifiee, &TopoPortStateReflector::handleFdbClock> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoPortStateReflectorIs(TopoPortStateReflector* r) noexcept { reactorIs(r); }
    void onTime() override {
      if (auto const r = live()) r->handleFdbClock();
    }
  };

 private:
  friend class Reactor<TopoPortStateReflector>;
  template <class F>
  void kivForEachWrapper(F&& f) {
    f(topoPortConfig_);
    f(clock_);
    f(fdbClock_);
  }

  Pyrel::IntfId const intfId_;
  WrappedAttribute<KivTopoPortConfig> topoPortConfig_;
  Kiv::Ptr<Topology::TopoPortStatus> const topoPortStatus_;
  Kiv::Ptr<Config> const brConfig_;
  Kiv::Ptr<Status> const brStatus_;
  Kiv::Ptr<Topology::Config> const brTopoConfig_;
  Kiv::Ptr<Topology::TopoConfig> const topoConfig_;
  WrappedAttribute<KivClock> clock_;
  WrappedAttribute<KivFdbClock> fdbClock_;
  double lastFdbFlush_ = 0.0;
  bool initialized_ = false;
};

// One topology. Keeps a port reflector for every port that has both a
// configuration and a status entry.
class BRIDGING_API TopoStateReflector : public Reactor<TopoStateReflector>,
                                        public Kiv::HashMapLink<TopoStateReflector, Reactor<TopoStateReflector>> {
 public:
  class KivTopoConfig;
  class KivTopoStatus;
  class KivBrConfig;
  class KivBrStatus;
  class KivBrTopoConfig;
  // The type object and the generic adapter (reflector/GenericAdapters.h).
  class _Type;
  class GenericIf_;

  // Attribute ids of the type registry (reflector/Registration.h). 139 and
  // 141 belong to no attribute.
  static constexpr Kiv::AttributeId nameAttrId = 130;
  static constexpr Kiv::AttributeId topoConfigAttrId = 131;
  static constexpr Kiv::AttributeId topoStatusAttrId = 132;
  static constexpr Kiv::AttributeId brConfigAttrId = 133;
  static constexpr Kiv::AttributeId brStatusAttrId = 134;
  static constexpr Kiv::AttributeId brTopoConfigAttrId = 135;
  static constexpr Kiv::AttributeId clockAttrId = 136;
  static constexpr Kiv::AttributeId topoPortStateReflectorAttrId = 137;
  static constexpr Kiv::AttributeId handleTopoPortConfigAttrId = 138;
  static constexpr Kiv::AttributeId handleTopoPortStatusAttrId = 140;
  static constexpr Kiv::AttributeId handleCollectionChangeAttrId = 142;
  static constexpr Kiv::AttributeId doSyncPortAttrId = 143;
  static constexpr Kiv::AttributeId initializedAttrId = 144;
  static constexpr Kiv::AttributeId handleInitializedAttrId = 145;

  // Made by the system reflector (newTopoStateReflector). Runs the handlers
  // once, which makes the port reflectors of the ports present now, ending
  // initialized; the maker then switches its notification on.
  TopoStateReflector(Kiv::String8 const& name, Kiv::Ptr<Topology::TopoConfig> const& topoConfig,
                     Kiv::Ptr<Topology::Inst::TopoStatus> const& topoStatus, Kiv::Ptr<Config> const& brConfig,
                     Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
                     Kiv::Ptr<Kiv::Clock> const& clock);
  ~TopoStateReflector() override;

  // The type object: made on first use, and registered with the runtime's
  // registry as soon as it takes registrations (reflector/Registration.cpp).
  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;

  Kiv::String8 const& name() const noexcept { return name_; }
  Kiv::Ptr<Topology::TopoConfig> topoConfig() const { return topoConfig_.value(); }
  Kiv::Ptr<Topology::Inst::TopoStatus> topoStatus() const { return topoStatus_.value(); }
  Kiv::Ptr<Config> brConfig() const { return brConfig_.value(); }
  Kiv::Ptr<Status> brStatus() const { return brStatus_.value(); }
  Kiv::Ptr<Topology::Config> brTopoConfig() const { return brTopoConfig_.value(); }
  Kiv::Ptr<Kiv::Clock> clock() const { return clock_; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool v) noexcept { initialized_ = v; }

  // Wrapped attributes (ReactorWiring.h: xIs, xDel, newX).
  void topoConfigIs(Kiv::Ptr<Topology::TopoConfig> const& v) { topoConfig_.is(v, this); }
  Kiv::Ptr<Topology::TopoConfig> topoConfigDel() { return topoConfig_.del(); }
  Kiv::Ptr<KivTopoConfig> newTopoConfig(Kiv::Ptr<Topology::TopoConfig> const& v) { return topoConfig_.make(v, this); }
  void topoStatusIs(Kiv::Ptr<Topology::Inst::TopoStatus> const& v) { topoStatus_.is(v, this); }
  Kiv::Ptr<Topology::Inst::TopoStatus> topoStatusDel() { return topoStatus_.del(); }
  Kiv::Ptr<KivTopoStatus> newTopoStatus(Kiv::Ptr<Topology::Inst::TopoStatus> const& v) {
    return topoStatus_.make(v, this);
  }
  void brConfigIs(Kiv::Ptr<Config> const& v) { brConfig_.is(v, this); }
  Kiv::Ptr<Config> brConfigDel() { return brConfig_.del(); }
  Kiv::Ptr<KivBrConfig> newBrConfig(Kiv::Ptr<Config> const& v) { return brConfig_.make(v, this); }
  void brStatusIs(Kiv::Ptr<Status> const& v) { brStatus_.is(v, this); }
  Kiv::Ptr<Status> brStatusDel() { return brStatus_.del(); }
  Kiv::Ptr<KivBrStatus> newBrStatus(Kiv::Ptr<Status> const& v) { return brStatus_.make(v, this); }
  void brTopoConfigIs(Kiv::Ptr<Topology::Config> const& v) { brTopoConfig_.is(v, this); }
  Kiv::Ptr<Topology::Config> brTopoConfigDel() { return brTopoConfig_.del(); }
  Kiv::Ptr<KivBrTopoConfig> newBrTopoConfig(Kiv::Ptr<Topology::Config> const& v) {
    return brTopoConfig_.make(v, this);
  }

  // topoPortStateReflector: the port reflectors, by interface. The change
  // hook has nothing to announce.
  void topoPortStateReflectorNotify(Pyrel::IntfId intfId, Kiv::Ptr<TopoPortStateReflector> const& member);

 private:
  using TopoPortStateReflectors =
      ChildCollection<TopoStateReflector, TopoPortStateReflector, Pyrel::IntfId,
                      Kiv::KeyBy<&TopoPortStateReflector::intfId>, &TopoStateReflector::topoPortStateReflectorNotify>;

 public:
  using TopoPortStateReflectorIterator = TopoPortStateReflectors::Iterator;
  using TopoPortStateReflectorIteratorConst = TopoPortStateReflectors::IteratorConst;

  Kiv::Ptr<TopoPortStateReflector> topoPortStateReflector(Pyrel::IntfId const& intfId) const {
    return topoPortStateReflector_.member(intfId);
  }
  // The existing member when it was made with these very objects; throws
  // the name-in-use exception naming the first parameter that differs (and
  // changes nothing); makes the member when there is none. Iterators stay
  // valid; a walk in progress may or may not visit a new member.
  Kiv::ValidPtr<TopoPortStateReflector> topoPortStateReflectorIs(
      Pyrel::IntfId const& intfId, Kiv::Ptr<Topology::TopoPortConfig> const& topoPortConfig,
      Kiv::Ptr<Topology::TopoPortStatus> const& topoPortStatus, Kiv::Ptr<Config> const& brConfig,
      Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
      Kiv::Ptr<Topology::TopoConfig> const& topoConfig, Kiv::Ptr<Kiv::Clock> const& clock,
      Kiv::Ptr<Kiv::Clock> const& fdbClock) {
    return topoPortStateReflector_.is(intfId, topoPortConfig, topoPortStatus, brConfig, brStatus, brTopoConfig,
                                      topoConfig, clock, fdbClock);
  }
  // Makes and inserts a member; `intfId` must be free. Iterators stay valid.
  Kiv::ValidPtr<TopoPortStateReflector> newTopoPortStateReflector(
      Pyrel::IntfId const& intfId, Kiv::Ptr<Topology::TopoPortConfig> const& topoPortConfig,
      Kiv::Ptr<Topology::TopoPortStatus> const& topoPortStatus, Kiv::Ptr<Config> const& brConfig,
      Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
      Kiv::Ptr<Topology::TopoConfig> const& topoConfig, Kiv::Ptr<Kiv::Clock> const& clock,
      Kiv::Ptr<Kiv::Clock> const& fdbClock) {
    return topoPortStateReflector_.make(intfId, topoPortConfig, topoPortStatus, brConfig, brStatus, brTopoConfig,
                                        topoConfig, clock, fdbClock);
  }
  // Removes the member and returns it (null when absent). Iterators stay
  // valid; one standing on the member advances past it.
  Kiv::Ptr<TopoPortStateReflector> topoPortStateReflectorDel(Pyrel::IntfId const& intfId) {
    return topoPortStateReflector_.del(intfId);
  }
  // Deletes every member through an iterator. Other iterators stay valid.
  void topoPortStateReflectorDelAll() { topoPortStateReflector_.delAll(); }
  std::uint32_t topoPortStateReflectors() const noexcept { return topoPortStateReflector_.members(); }
  // Raised by every insertion and removal of a member.
  std::uint32_t topoPortStateReflectorVersion() const noexcept { return topoPortStateReflector_.version(); }
  TopoPortStateReflectorIterator topoPortStateReflectorIterator() { return topoPortStateReflector_.iterator(); }
  TopoPortStateReflectorIterator topoPortStateReflectorIterator(Pyrel::IntfId const& intfId) {
    return topoPortStateReflector_.iterator(intfId);
  }
  TopoPortStateReflectorIteratorConst topoPortStateReflectorIteratorConst() const {
    return topoPortStateReflector_.iteratorConst();
  }
  TopoPortStateReflectorIteratorConst topoPortStateReflectorIteratorConst(Pyrel::IntfId const& intfId) const {
    return topoPortStateReflector_.iteratorConst(intfId);
  }

  // Full pass when initialized.
  void handleTopoPortConfig();
  // Syncs that port when initialized.
  void handleTopoPortConfig(Pyrel::IntfId intfId);
  // Full pass when initialized.
  void handleTopoPortStatus();
  // Syncs that port when initialized.
  void handleTopoPortStatus(Pyrel::IntfId intfId);
  // Sets `initialized` and runs the full pass.
  void handleInitialized();
  // Syncs every port of the configuration, then every port of the status.
  // A member whose port is in neither is left alone.
  void handleCollectionChange();
  // Makes the port's reflector when the port has a configuration and a
  // status entry and no reflector; deletes it when either entry is
  // missing. An existing reflector is never refreshed.
  void doSyncPort(Pyrel::IntfId intfId);

  // For the owner's reinstantiation check.
  static constexpr char const* kivParameterNames[] = {"topoConfig", "topoStatus",   "brConfig",
                                                      "brStatus",   "brTopoConfig", "clock"};
  auto kivParameters() const {
    return std::make_tuple(topoConfig(), topoStatus(), brConfig(), brStatus(), brTopoConfig(), clock_);
  }

  // Observes the topology's configuration: its ports.
  class KivTopoConfig : public ReactorWrapper<TopoStateReflector, Topology::TopoConfig::Notifiee,
                                              &TopoStateReflector::handleTopoPortConfig> {
   public:
    using ReactorWrapper::ReactorWrapper;
    using Topology::TopoConfig::NotifieeConst::onTopoPortConfig;
    void topoStateReflectorIs(TopoStateReflector* r) noexcept { reactorIs(r); }
    void onTopoPortConfig(Pyrel::IntfId intfId) override {
      if (auto const r = live()) r->handleTopoPortConfig(intfId);
    }
    void onTopoPortConfigkivImmediate() override {
      if (auto const r = live()) r->handleTopoPortConfig();
    }
  };

  // Observes the topology's instance status: its ports.
  class KivTopoStatus : public ReactorWrapper<TopoStateReflector, Topology::Inst::TopoStatus::Notifiee,
                                              &TopoStateReflector::handleTopoPortStatus> {
   public:
    using ReactorWrapper::ReactorWrapper;
    using Topology::Inst::TopoStatus::NotifieeConst::onTopoPortStatus;
    void topoStateReflectorIs(TopoStateReflector* r) noexcept { reactorIs(r); }
    void onTopoPortStatus(Pyrel::IntfId intfId) override {
      if (auto const r = live()) r->handleTopoPortStatus(intfId);
    }
    void onTopoPortStatuskivImmediate() override {
      if (auto const r = live()) r->handleTopoPortStatus();
    }
  };

  // The next three hold their entities for the port reflectors and react
  // to nothing.
  class KivBrConfig : public ReactorWrapper<TopoStateReflector, Config::Notifiee> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoStateReflectorIs(TopoStateReflector* r) noexcept { reactorIs(r); }
  };
  class KivBrStatus : public ReactorWrapper<TopoStateReflector, Status::Notifiee> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoStateReflectorIs(TopoStateReflector* r) noexcept { reactorIs(r); }
  };
  class KivBrTopoConfig : public ReactorWrapper<TopoStateReflector, Topology::Config::Notifiee> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void topoStateReflectorIs(TopoStateReflector* r) noexcept { reactorIs(r); }
  };

 private:
  friend class Reactor<TopoStateReflector>;
  template <class F>
  void kivForEachWrapper(F&& f) {
    f(topoConfig_);
    f(topoStatus_);
    f(brConfig_);
    f(brStatus_);
    f(brTopoConfig_);
  }
  template <class F>
  void kivForEachChild(F&& f) {
    topoPortStateReflector_.forEach(f);
  }
  void kivDeleteChildren() { topoPortStateReflectorDelAll(); }

  Kiv::String8 const name_;
  WrappedAttribute<KivTopoConfig> topoConfig_;
  WrappedAttribute<KivTopoStatus> topoStatus_;
  WrappedAttribute<KivBrConfig> brConfig_;
  WrappedAttribute<KivBrStatus> brStatus_;
  WrappedAttribute<KivBrTopoConfig> brTopoConfig_;
  Kiv::Ptr<Kiv::Clock> const clock_;
  TopoPortStateReflectors topoPortStateReflector_;
  bool initialized_ = false;
};

// The root: one per system. Keeps a topology reflector for every topology
// name that has both a configuration and a status entry.
class BRIDGING_API StateReflector : public Reactor<StateReflector> {
 public:
  class KivConfig;
  class KivStatus;
  class KivBrConfig;
  class KivBrStatus;
  // The type object and the generic adapter (reflector/GenericAdapters.h).
  class _Type;
  class GenericIf_;

  // Attribute ids of the type registry (reflector/Registration.h). 137 and
  // 139 belong to no attribute.
  static constexpr Kiv::AttributeId configAttrId = 130;
  static constexpr Kiv::AttributeId statusAttrId = 131;
  static constexpr Kiv::AttributeId brConfigAttrId = 132;
  static constexpr Kiv::AttributeId brStatusAttrId = 133;
  static constexpr Kiv::AttributeId clockAttrId = 134;
  static constexpr Kiv::AttributeId topoStateReflectorAttrId = 135;
  static constexpr Kiv::AttributeId handleTopoConfigAttrId = 136;
  static constexpr Kiv::AttributeId handleTopoStatusAttrId = 138;
  static constexpr Kiv::AttributeId handleCollectionChangeAttrId = 140;
  static constexpr Kiv::AttributeId doSyncTopoAttrId = 141;
  static constexpr Kiv::AttributeId initializedAttrId = 142;
  static constexpr Kiv::AttributeId handleInitializedAttrId = 143;

  // Made by stateReflectorFactory, which switches its notification on. Runs
  // the handlers once, which makes the topology reflectors of the
  // topologies present now, ending initialized.
  StateReflector(Kiv::Ptr<Topology::Config> const& config, Kiv::Ptr<Topology::Inst::Status> const& status,
                 Kiv::Ptr<Config> const& brConfig, Kiv::Ptr<Status> const& brStatus,
                 Kiv::Ptr<Kiv::Clock> const& clock);
  ~StateReflector() override;

  // The type object: made on first use, and registered with the runtime's
  // registry as soon as it takes registrations (reflector/Registration.cpp).
  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;

  Kiv::Ptr<Topology::Config> config() const { return config_.value(); }
  Kiv::Ptr<Topology::Inst::Status> status() const { return status_.value(); }
  Kiv::Ptr<Config> brConfig() const { return brConfig_.value(); }
  Kiv::Ptr<Status> brStatus() const { return brStatus_.value(); }
  Kiv::Ptr<Kiv::Clock> clock() const { return clock_; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool v) noexcept { initialized_ = v; }

  // Wrapped attributes (ReactorWiring.h: xIs, xDel, newX).
  void configIs(Kiv::Ptr<Topology::Config> const& v) { config_.is(v, this); }
  Kiv::Ptr<Topology::Config> configDel() { return config_.del(); }
  Kiv::Ptr<KivConfig> newConfig(Kiv::Ptr<Topology::Config> const& v) { return config_.make(v, this); }
  void statusIs(Kiv::Ptr<Topology::Inst::Status> const& v) { status_.is(v, this); }
  Kiv::Ptr<Topology::Inst::Status> statusDel() { return status_.del(); }
  Kiv::Ptr<KivStatus> newStatus(Kiv::Ptr<Topology::Inst::Status> const& v) { return status_.make(v, this); }
  void brConfigIs(Kiv::Ptr<Config> const& v) { brConfig_.is(v, this); }
  Kiv::Ptr<Config> brConfigDel() { return brConfig_.del(); }
  Kiv::Ptr<KivBrConfig> newBrConfig(Kiv::Ptr<Config> const& v) { return brConfig_.make(v, this); }
  void brStatusIs(Kiv::Ptr<Status> const& v) { brStatus_.is(v, this); }
  Kiv::Ptr<Status> brStatusDel() { return brStatus_.del(); }
  Kiv::Ptr<KivBrStatus> newBrStatus(Kiv::Ptr<Status> const& v) { return brStatus_.make(v, this); }

  // topoStateReflector: the topology reflectors, by name. The change hook
  // has nothing to announce.
  void topoStateReflectorNotify(Kiv::String8 name, Kiv::Ptr<TopoStateReflector> const& member);

 private:
  using TopoStateReflectors = ChildCollection<StateReflector, TopoStateReflector, Kiv::String8,
                                              Kiv::KeyBy<&TopoStateReflector::name>,
                                              &StateReflector::topoStateReflectorNotify>;

 public:
  using TopoStateReflectorIterator = TopoStateReflectors::Iterator;
  using TopoStateReflectorIteratorConst = TopoStateReflectors::IteratorConst;

  Kiv::Ptr<TopoStateReflector> topoStateReflector(Kiv::String8 const& name) const {
    return topoStateReflector_.member(name);
  }
  // The existing member when it was made with these very objects; throws
  // the name-in-use exception naming the first parameter that differs (and
  // changes nothing); makes the member when there is none. Iterators stay
  // valid; a walk in progress may or may not visit a new member.
  Kiv::ValidPtr<TopoStateReflector> topoStateReflectorIs(
      Kiv::String8 const& name, Kiv::Ptr<Topology::TopoConfig> const& topoConfig,
      Kiv::Ptr<Topology::Inst::TopoStatus> const& topoStatus, Kiv::Ptr<Config> const& brConfig,
      Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
      Kiv::Ptr<Kiv::Clock> const& clock) {
    return topoStateReflector_.is(name, topoConfig, topoStatus, brConfig, brStatus, brTopoConfig, clock);
  }
  // Makes and inserts a member; `name` must be free. Iterators stay valid.
  Kiv::ValidPtr<TopoStateReflector> newTopoStateReflector(
      Kiv::String8 const& name, Kiv::Ptr<Topology::TopoConfig> const& topoConfig,
      Kiv::Ptr<Topology::Inst::TopoStatus> const& topoStatus, Kiv::Ptr<Config> const& brConfig,
      Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Topology::Config> const& brTopoConfig,
      Kiv::Ptr<Kiv::Clock> const& clock) {
    return topoStateReflector_.make(name, topoConfig, topoStatus, brConfig, brStatus, brTopoConfig, clock);
  }
  // Removes the member and returns it (null when absent). Iterators stay
  // valid; one standing on the member advances past it.
  Kiv::Ptr<TopoStateReflector> topoStateReflectorDel(Kiv::String8 const& name) {
    return topoStateReflector_.del(name);
  }
  // Deletes every member through an iterator. Other iterators stay valid.
  void topoStateReflectorDelAll() { topoStateReflector_.delAll(); }
  std::uint32_t topoStateReflectors() const noexcept { return topoStateReflector_.members(); }
  // Raised by every insertion and removal of a member.
  std::uint32_t topoStateReflectorVersion() const noexcept { return topoStateReflector_.version(); }
  TopoStateReflectorIterator topoStateReflectorIterator() { return topoStateReflector_.iterator(); }
  TopoStateReflectorIterator topoStateReflectorIterator(Kiv::String8 const& name) {
    return topoStateReflector_.iterator(name);
  }
  TopoStateReflectorIteratorConst topoStateReflectorIteratorConst() const {
    return topoStateReflector_.iteratorConst();
  }
  TopoStateReflectorIteratorConst topoStateReflectorIteratorConst(Kiv::String8 const& name) const {
    return topoStateReflector_.iteratorConst(name);
  }

  // Full pass when initialized.
  void handleTopoConfig();
  // Syncs that topology when initialized.
  void handleTopoConfig(Kiv::String8 name);
  // Full pass when initialized.
  void handleTopoStatus();
  // Syncs that topology when initialized.
  void handleTopoStatus(Kiv::String8 name);
  // Sets `initialized` and runs the full pass.
  void handleInitialized();
  // Syncs every topology of the configuration, then every topology of the
  // status. A member whose name is in neither is left alone.
  void handleCollectionChange();
  // Makes the topology's reflector when it has a configuration and a
  // status entry and no reflector; deletes it when either entry is
  // missing. An existing reflector is never refreshed.
  void doSyncTopo(Kiv::String8 name);

  // Observes the topology configuration: its topologies.
  class KivConfig
      : public ReactorWrapper<StateReflector, Topology::Config::Notifiee, &StateReflector::handleTopoConfig> {
   public:
    using ReactorWrapper::ReactorWrapper;
    using Topology::Config::NotifieeConst::onTopoConfig;
    void stateReflectorIs(StateReflector* r) noexcept { reactorIs(r); }
    void onTopoConfig(Kiv::Name name) override {
      if (auto const r = live()) r->handleTopoConfig(name.string());
    }
    void onTopoConfigkivImmediate() override {
      if (auto const r = live()) r->handleTopoConfig();
    }
  };

  // Observes the topology instance status: its topologies.
  class KivStatus
      : public ReactorWrapper<StateReflector, Topology::Inst::Status::Notifiee, &StateReflector::handleTopoStatus> {
   public:
    using ReactorWrapper::ReactorWrapper;
    using Topology::Inst::Status::NotifieeConst::onTopoStatus;
    void stateReflectorIs(StateReflector* r) noexcept { reactorIs(r); }
    void onTopoStatus(Kiv::Name name) override {
      if (auto const r = live()) r->handleTopoStatus(name.string());
    }
    void onTopoStatuskivImmediate() override {
      if (auto const r = live()) r->handleTopoStatus();
    }
  };

  // The next two hold their entities for the lower levels and react to
  // nothing.
  class KivBrConfig : public ReactorWrapper<StateReflector, Config::Notifiee> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void stateReflectorIs(StateReflector* r) noexcept { reactorIs(r); }
  };
  class KivBrStatus : public ReactorWrapper<StateReflector, Status::Notifiee> {
   public:
    using ReactorWrapper::ReactorWrapper;
    void stateReflectorIs(StateReflector* r) noexcept { reactorIs(r); }
  };

 private:
  friend class Reactor<StateReflector>;
  template <class F>
  void kivForEachWrapper(F&& f) {
    f(config_);
    f(status_);
    f(brConfig_);
    f(brStatus_);
  }
  template <class F>
  void kivForEachChild(F&& f) {
    topoStateReflector_.forEach(f);
  }
  void kivDeleteChildren() { topoStateReflectorDelAll(); }

  WrappedAttribute<KivConfig> config_;
  WrappedAttribute<KivStatus> status_;
  WrappedAttribute<KivBrConfig> brConfig_;
  WrappedAttribute<KivBrStatus> brStatus_;
  Kiv::Ptr<Kiv::Clock> const clock_;
  TopoStateReflectors topoStateReflector_;
  bool initialized_ = false;
};

// Builds the reflector tree for a system: the root, its topology reflectors
// and their port reflectors for everything present now, with notification
// switched on. Any argument may be null; a missing collection counts as
// empty.
BRIDGING_API Kiv::ValidPtr<StateReflector> stateReflectorFactory(Kiv::Ptr<Topology::Config> const& config,
                                                                 Kiv::Ptr<Topology::Inst::Status> const& status,
                                                                 Kiv::Ptr<Config> const& brConfig,
                                                                 Kiv::Ptr<Status> const& brStatus,
                                                                 Kiv::Ptr<Kiv::Clock> const& clock);

}  // namespace Bridging
