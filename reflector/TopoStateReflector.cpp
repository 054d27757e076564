#include "reflector/TopoStateReflector.h"

#include "Kiv/EventLoop.h"
#include "reflector/ReflectorTrace.h"

namespace Bridging {

namespace {

// The delay between a change and its reflection: 2^-20 s. It is a
// single-precision constant because that is how the platform's reactors
// carry it (bit pattern 0x35800000), so our armings fall on the same times
// as theirs; 2^-20 is exact in a float, so widening it for the sum with the
// double time loses nothing.
constexpr float reflectionDelay = 0x1p-20f;

// Arms `observer` for reflectionDelay from now, replacing a pending time.
void armForReflection(Kiv::Clock::NotifieeConst& observer) { observer.timeMinIs(Kiv::now() + reflectionDelay); }

// A counter that a flush report can carry: lastFdbFlush truncated toward
// zero. Only a value that came from a 32-bit counter (or the initial 0.0)
// fits; anything else that a caller stored (negative, too large, NaN) has
// no unsigned 32-bit counterpart and is not reported.
bool reportableCounter(double counter, unsigned int* report) {
  if (!(counter >= 0.0 && counter < 4294967296.0)) return false;
  *report = static_cast<unsigned int>(counter);
  return true;
}

}  // namespace

// --- TopoPortStateReflector

TopoPortStateReflector::TopoPortStateReflector(Pyrel::IntfId const& intfId,
                                               Kiv::Ptr<Topology::TopoPortConfig> const& topoPortConfig,
                                               Kiv::Ptr<Topology::TopoPortStatus> const& topoPortStatus,
                                               Kiv::Ptr<Config> const& brConfig, Kiv::Ptr<Status> const& brStatus,
                                               Kiv::Ptr<Topology::Config> const& brTopoConfig,
                                               Kiv::Ptr<Topology::TopoConfig> const& topoConfig,
                                               Kiv::Ptr<Kiv::Clock> const& clock,
                                               Kiv::Ptr<Kiv::Clock> const& fdbClock)
    : intfId_(intfId),
      topoPortConfig_(topoPortConfig, this),
      topoPortStatus_(topoPortStatus),
      brConfig_(brConfig),
      brStatus_(brStatus),
      brTopoConfig_(brTopoConfig),
      topoConfig_(topoConfig),
      clock_(clock, this),
      fdbClock_(fdbClock, this) {
  handleState();
  handleFdbFlush();
  handleClock();
  handleFdbClock();
  handleInitialized();
}

TopoPortStateReflector::~TopoPortStateReflector() { kivTearDown(); }

Kiv::Ptr<Kiv::KivType> TopoPortStateReflector::fwkType() const { return _fwkType(); }

void TopoPortStateReflector::handleInitialized() {
  REFLECTOR_TRACE(8, "handleInitialized", "void Bridging::TopoPortStateReflector::handleInitialized()");
  initializedIs(true);
  handleState();
  // The request present at creation counts as handled: no flush for it.
  if (Kiv::Ptr<Topology::TopoPortConfig> const config = topoPortConfig()) lastFdbFlushIs(config->fdbFlush());
}

void TopoPortStateReflector::handleState() {
  REFLECTOR_TRACE(8, "handleState", "void Bridging::TopoPortStateReflector::handleState()");
  if (!initialized_) return;
  Kiv::Ptr<Topology::TopoPortConfig> const config = topoPortConfig();
  KivClock* const clock = clock_.wrapper();
  if (!config || !topoPortStatus_ || !clock) return;
  Topology::PortState const wanted = config->state();
  // An earlier arming stays: its call-back copies whatever is configured
  // then.
  if (wanted == topoPortStatus_->state()) return;
  REFLECTOR_TRACE(7, "handleState", "Scheduling state update for port " << intfId_ << " to " << wanted);
  armForReflection(*clock);
}

void TopoPortStateReflector::handleFdbFlush() {
  REFLECTOR_TRACE(8, "handleFdbFlush", "void Bridging::TopoPortStateReflector::handleFdbFlush()");
  if (!initialized_) return;
  Kiv::Ptr<Topology::TopoPortConfig> const config = topoPortConfig();
  if (!config) return;
  double const requested = config->fdbFlush();
  double const handled = lastFdbFlush_;
  if (requested == handled) return;
  // The clocks are one-shot: without this arming the report would never
  // be written. It comes first, so that a failure to arm leaves the
  // request unhandled, rather than carried out and never reported.
  if (KivFdbClock* const fdbClock = fdbClock_.wrapper()) armForReflection(*fdbClock);
  doAddressTableFlush();
  // A newer request raised by an observer of this flush has been handled
  // and recorded meanwhile; this older one must not overwrite it.
  if (lastFdbFlush_ == handled) lastFdbFlushIs(requested);
}

void TopoPortStateReflector::handleClock() {
  REFLECTOR_TRACE(8, "handleClock", "void Bridging::TopoPortStateReflector::handleClock()");
  if (!initialized_) return;
  Kiv::Ptr<Topology::TopoPortConfig> const config = topoPortConfig();
  Kiv::Ptr<Topology::TopoPortStatus> const status = topoPortStatus_;
  if (!config || !status) return;
  Topology::PortState const state = config->state();
  REFLECTOR_TRACE(7, "handleClock", "Reflecting state for port " << intfId_ << " to " << state);
  status->stateIs(state);
}

void TopoPortStateReflector::handleFdbClock() {
  REFLECTOR_TRACE(8, "handleFdbClock", "void Bridging::TopoPortStateReflector::handleFdbClock()");
  if (!initialized_) return;
  Kiv::Ptr<Topology::TopoPortStatus> const status = topoPortStatus_;
  unsigned int report = 0;
  if (!status || !reportableCounter(lastFdbFlush_, &report)) return;
  REFLECTOR_TRACE(7, "handleFdbClock", "Reflecting fdbFlush for port " << intfId_);
  status->fdbFlushReportIs(report);
}

void TopoPortStateReflector::doAddressTableFlush() {
  REFLECTOR_TRACE(8, "doAddressTableFlush", "void Bridging::TopoPortStateReflector::doAddressTableFlush()");
  // A VLAN belongs to this port's topology only through a map entry that
  // is this very configuration object; without the map, the VLANs or the
  // forwarding databases there is nothing to flush.
  if (!topoConfig_ || !brTopoConfig_ || !brConfig_ || !brStatus_) return;
  for (auto vlan = brConfig_->vlanConfigIteratorConst(); vlan; ++vlan) {
    VlanId const vid = vlan->vlanId();
    if (brTopoConfig_->vidToTopoMap(vid) != topoConfig_) continue;
    Kiv::Ptr<FdbStatus> const fdb = brStatus_->fdbStatus(Fid(vid.value()));
    if (!fdb) continue;
    // The iterator survives the deletion of the host it stands on.
    for (auto host = fdb->learnedHostIterator(); host; ++host) {
      if (host->value().intf() != intfId_) continue;
      Pyrel::EthAddr const addr = host->key();
      REFLECTOR_TRACE(3, "doAddressTableFlush",
                      "Deleting host in vlan " << static_cast<unsigned>(vid.value()) << " addr " << addr);
      fdb->learnedHostDel(addr);
    }
  }
}

// --- TopoStateReflector

TopoStateReflector::TopoStateReflector(Kiv::String8 const& name, Kiv::Ptr<Topology::TopoConfig> const& topoConfig,
                                       Kiv::Ptr<Topology::Inst::TopoStatus> const& topoStatus,
                                       Kiv::Ptr<Config> const& brConfig, Kiv::Ptr<Status> const& brStatus,
                                       Kiv::Ptr<Topology::Config> const& brTopoConfig,
                                       Kiv::Ptr<Kiv::Clock> const& clock)
    : name_(name),
      topoConfig_(topoConfig, this),
      topoStatus_(topoStatus, this),
      brConfig_(brConfig, this),
      brStatus_(brStatus, this),
      brTopoConfig_(brTopoConfig, this),
      clock_(clock),
      topoPortStateReflector_(this) {
  handleTopoPortConfig();
  handleTopoPortStatus();
  handleInitialized();
}

TopoStateReflector::~TopoStateReflector() { kivTearDown(); }

Kiv::Ptr<Kiv::KivType> TopoStateReflector::fwkType() const { return _fwkType(); }

void TopoStateReflector::topoPortStateReflectorNotify(Pyrel::IntfId, Kiv::Ptr<TopoPortStateReflector> const&) {}

void TopoStateReflector::handleTopoPortConfig() {
  REFLECTOR_TRACE(8, "handleTopoPortConfig", "void Bridging::TopoStateReflector::handleTopoPortConfig()");
  if (initialized_) handleCollectionChange();
}

void TopoStateReflector::handleTopoPortConfig(Pyrel::IntfId intfId) {
  REFLECTOR_TRACE(8, "handleTopoPortConfig", "void Bridging::TopoStateReflector::handleTopoPortConfig(Pyrel::IntfId)");
  if (initialized_) doSyncPort(intfId);
}

void TopoStateReflector::handleTopoPortStatus() {
  REFLECTOR_TRACE(8, "handleTopoPortStatus", "void Bridging::TopoStateReflector::handleTopoPortStatus()");
  if (initialized_) handleCollectionChange();
}

void TopoStateReflector::handleTopoPortStatus(Pyrel::IntfId intfId) {
  REFLECTOR_TRACE(8, "handleTopoPortStatus", "void Bridging::TopoStateReflector::handleTopoPortStatus(Pyrel::IntfId)");
  if (initialized_) doSyncPort(intfId);
}

void TopoStateReflector::handleInitialized() {
  REFLECTOR_TRACE(8, "handleInitialized", "void Bridging::TopoStateReflector::handleInitialized()");
  initializedIs(true);
  handleCollectionChange();
}

void TopoStateReflector::handleCollectionChange() {
  REFLECTOR_TRACE(8, "handleCollectionChange", "void Bridging::TopoStateReflector::handleCollectionChange()");
  if (Kiv::Ptr<Topology::TopoConfig> const config = topoConfig()) {
    for (auto port = config->topoPortConfigIteratorConst(); port; ++port) doSyncPort(port->intfId());
  }
  if (Kiv::Ptr<Topology::Inst::TopoStatus> const status = topoStatus()) {
    for (auto port = status->topoPortStatusIteratorConst(); port; ++port) doSyncPort(port->intfId());
  }
}

void TopoStateReflector::doSyncPort(Pyrel::IntfId intfId) {
  REFLECTOR_TRACE(8, "doSyncPort", "void Bridging::TopoStateReflector::doSyncPort(Pyrel::IntfId)");
  Kiv::Ptr<Topology::TopoConfig> const config = topoConfig();
  Kiv::Ptr<Topology::Inst::TopoStatus> const status = topoStatus();
  Kiv::Ptr<Topology::TopoPortConfig> const portConfig = config ? config->topoPortConfig(intfId) : nullptr;
  Kiv::Ptr<Topology::TopoPortStatus> const portStatus = status ? status->topoPortStatus(intfId) : nullptr;
  bool const reflected = topoPortStateReflector_.member(intfId) != nullptr;
  if (portConfig && portStatus) {
    if (reflected) return;
    REFLECTOR_TRACE(7, "doSyncPort", "Creating new state reflector for port " << intfId);
    // One clock serves both of the port reflector's clocks.
    topoPortStateReflectorIs(intfId, portConfig, portStatus, brConfig(), brStatus(), brTopoConfig(), config, clock_,
                             clock_);
    return;
  }
  if (!reflected) return;
  REFLECTOR_TRACE(7, "doSyncPort", "Deleting state reflector for port " << intfId);
  topoPortStateReflectorDel(intfId);
}

// --- StateReflector

StateReflector::StateReflector(Kiv::Ptr<Topology::Config> const& config,
                               Kiv::Ptr<Topology::Inst::Status> const& status, Kiv::Ptr<Config> const& brConfig,
                               Kiv::Ptr<Status> const& brStatus, Kiv::Ptr<Kiv::Clock> const& clock)
    : config_(config, this),
      status_(status, this),
      brConfig_(brConfig, this),
      brStatus_(brStatus, this),
      clock_(clock),
      topoStateReflector_(this) {
  handleTopoConfig();
  handleTopoStatus();
  handleInitialized();
}

StateReflector::~StateReflector() { kivTearDown(); }

Kiv::Ptr<Kiv::KivType> StateReflector::fwkType() const { return _fwkType(); }

void StateReflector::topoStateReflectorNotify(Kiv::String8, Kiv::Ptr<TopoStateReflector> const&) {}

void StateReflector::handleTopoConfig() {
  REFLECTOR_TRACE(8, "handleTopoConfig", "void Bridging::StateReflector::handleTopoConfig()");
  if (initialized_) handleCollectionChange();
}

void StateReflector::handleTopoConfig(Kiv::String8 name) {
  REFLECTOR_TRACE(8, "handleTopoConfig", "void Bridging::StateReflector::handleTopoConfig(Kiv::String)");
  if (initialized_) doSyncTopo(name);
}

void StateReflector::handleTopoStatus() {
  REFLECTOR_TRACE(8, "handleTopoStatus", "void Bridging::StateReflector::handleTopoStatus()");
  if (initialized_) handleCollectionChange();
}

void StateReflector::handleTopoStatus(Kiv::String8 name) {
  REFLECTOR_TRACE(8, "handleTopoStatus", "void Bridging::StateReflector::handleTopoStatus(Kiv::String)");
  if (initialized_) doSyncTopo(name);
}

void StateReflector::handleInitialized() {
  REFLECTOR_TRACE(8, "handleInitialized", "void Bridging::StateReflector::handleInitialized()");
  initializedIs(true);
  handleCollectionChange();
}

void StateReflector::handleCollectionChange() {
  REFLECTOR_TRACE(8, "handleCollectionChange", "void Bridging::StateReflector::handleCollectionChange()");
  if (Kiv::Ptr<Topology::Config> const config = this->config()) {
    for (auto topo = config->topoConfigIteratorConst(); topo; ++topo) doSyncTopo(topo->name().string());
  }
  if (Kiv::Ptr<Topology::Inst::Status> const status = this->status()) {
    for (auto topo = status->topoStatusIteratorConst(); topo; ++topo) doSyncTopo(topo->name().string());
  }
}

void StateReflector::doSyncTopo(Kiv::String8 name) {
  REFLECTOR_TRACE(8, "doSyncTopo", "void Bridging::StateReflector::doSyncTopo(Kiv::String)");
  Kiv::Ptr<Topology::Config> const config = this->config();
  Kiv::Ptr<Topology::Inst::Status> const status = this->status();
  Kiv::Ptr<Topology::TopoConfig> const topoConfig = config ? config->topoConfig(name) : nullptr;
  Kiv::Ptr<Topology::Inst::TopoStatus> const topoStatus = status ? status->topoStatus(name) : nullptr;
  bool const reflected = topoStateReflector_.member(name) != nullptr;
  if (topoConfig && topoStatus) {
    if (reflected) return;
    REFLECTOR_TRACE(7, "doSyncTopo", "Creating new state reflector for " << name);
    // This reflector's topology configuration is the one that maps VLANs
    // to topologies below.
    topoStateReflectorIs(name, topoConfig, topoStatus, brConfig(), brStatus(), config, clock_);
    return;
  }
  if (!reflected) return;
  REFLECTOR_TRACE(7, "doSyncTopo", "Deleting state reflector for " << name);
  topoStateReflectorDel(name);
}

Kiv::ValidPtr<StateReflector> stateReflectorFactory(Kiv::Ptr<Topology::Config> const& config,
                                                    Kiv::Ptr<Topology::Inst::Status> const& status,
                                                    Kiv::Ptr<Config> const& brConfig, Kiv::Ptr<Status> const& brStatus,
                                                    Kiv::Ptr<Kiv::Clock> const& clock) {
  Kiv::Ptr<StateReflector> reflector = Kiv::make<StateReflector>(config, status, brConfig, brStatus, clock);
  reflector->hasNotificationActiveIs(true);
  return Kiv::ValidPtr<StateReflector>(std::move(reflector));
}

}  // namespace Bridging
