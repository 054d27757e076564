// Drives the product's six registered types through generic access alone,
// with everything chosen by the input: which instance to start from (made
// by its type from an argument list, or reached through a collection),
// then a run of operations, attribute ids, keys, values, argument lists,
// iterator walks and loop turns. Every refusal must be a thrown runtime
// exception; nothing may crash, read out of bounds or leak (the sanitizers
// watch), and no other exception may escape.
//
// Each input starts from a fresh small system: a topology with one port in
// the configuration and the status, a VLAN mapped to it with a forwarding
// database and two learned hosts, an agent configuration and status, and a
// reflector tree over the topology.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Types.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "agent/Config.h"
#include "agent/GenericAdapters.h"
#include "agent/Status.h"
#include "reflector/GenericAdapters.h"
#include "reflector/TopoStateReflector.h"

namespace {

using G = Kiv::Ptr<Kiv::GenericIf>;
using Kiv::GenericIf;

// The six types, in the order the input names them.
Kiv::Ptr<Kiv::KivType> productType(unsigned i) {
  switch (i % 6) {
    case 0:
      return Bridging::Orva::Config::_fwkType();
    case 1:
      return Bridging::Orva::Config::TapDevice::_fwkType();
    case 2:
      return Bridging::Orva::Status::_fwkType();
    case 3:
      return Bridging::StateReflector::_fwkType();
    case 4:
      return Bridging::TopoStateReflector::_fwkType();
    default:
      return Bridging::TopoPortStateReflector::_fwkType();
  }
}

constexpr std::uint32_t knownCodes[] = {GenericIf::opGet,    GenericIf::opCount,    GenericIf::opVersion,
                                        GenericIf::opExists, GenericIf::opSet,      GenericIf::opDel,
                                        GenericIf::opEqual,  GenericIf::opNotEqual, GenericIf::opIsDefault};

template <class E>
G adapter(Kiv::Ptr<E> const& e, bool isConst = false) {
  return Kiv::KivType::genericIf(e.ptr(), isConst);
}

class Session {
 public:
  explicit Session(FuzzSupport::FuzzInput& in) : in_(in) {
    auto const port = Pyrel::IntfId("Ethernet1");
    auto const topo = topoConfig_->topoConfigIs("t");
    auto const portConfig = topo->topoPortConfigIs(port);
    auto const portStatus = topoStatus_->topoStatusIs("t")->topoPortStatusIs(port);
    brConfig_->vlanConfigIs(Bridging::VlanId(10));
    topoConfig_->vidToTopoMapIs(Bridging::VlanId(10), topo);
    auto const fdb = brStatus_->fdbStatusIs(Bridging::Fid(10));
    fdb->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(1), port));
    fdb->learnedHostIs(Bridging::LearnedHost(Pyrel::EthAddr(2), Pyrel::IntfId("Ethernet2")));
    auto const root = Bridging::stateReflectorFactory(topoConfig_, topoStatus_, brConfig_, brStatus_, clock_);
    auto const topoReflector = root->topoStateReflector("t");
    pool_ = {nullptr,
             adapter(topoConfig_),
             adapter(topoStatus_),
             adapter(brConfig_),
             adapter(brStatus_),
             adapter(clock_),
             adapter(topo),
             adapter(topoStatus_->topoStatus("t")),
             adapter(portConfig),
             adapter(portStatus),
             adapter(agentConfig_),
             adapter(agentStatus_),
             adapter(root),
             adapter(topoReflector),
             adapter(topoReflector ? topoReflector->topoPortStateReflector(port) : nullptr),
             Kiv::genericValue(port, false),
             Kiv::genericValue(Bridging::Orva::Config::TapDevice("tap1", 7), false)};
  }
  ~Session() {
    pool_.clear();
    Kiv::eventLoop().reset();
  }

  void run() {
    G target = start();
    while (in_.remaining() && target) {
      try {
        target = step(target);
      } catch (Kiv::Exception const&) {
      }
    }
  }

 private:
  static constexpr std::size_t poolLimit = 64;

  // The instance to start from: one the type makes from an argument list
  // the input chooses, or one of the system's.
  G start() {
    if (in_.flag()) {
      try {
        return productType(in_.any<std::uint8_t>())->genericIf(list(), in_.flag());
      } catch (Kiv::Exception const&) {
      }
    }
    return pick();
  }

  G pick() {
    G const g = pool_[in_.inRange<std::size_t>(0, pool_.size() - 1)];
    return g;
  }
  void keep(G const& g) {
    if (!g) return;
    if (pool_.size() < poolLimit)
      pool_.push_back(g);
    else
      pool_[in_.inRange<std::size_t>(1, poolLimit - 1)] = g;
  }

  // A value of a built-in type, an argument list, or one from the pool.
  G value() {
    switch (in_.inRange(0, 9)) {
      case 0:
        return Kiv::Builtin<bool>::genericIf(in_.flag());
      case 1:
        return Kiv::Builtin<int>::genericIf(in_.any<int>());
      case 2:
        return Kiv::Builtin<unsigned int>::genericIf(in_.any<unsigned int>());
      case 3:
        return Kiv::Builtin<long long>::genericIf(in_.any<long long>());
      case 4:
        return Kiv::Builtin<double>::genericIf(in_.real());
      case 5:
        return Kiv::Builtin<Kiv::String8>::genericIf(text());
      case 6:
        return Kiv::Builtin<Kiv::Name>::genericIf(Kiv::Name(text()));
      case 7:
        return list();
      case 8:
        return Kiv::genericValue(Pyrel::IntfId(text()), false);
      default:
        return pick();
    }
  }
  Kiv::String8 text() { return Kiv::String8(in_.text(16)); }
  G list() {
    std::vector<G> items(in_.inRange(0, 10));
    for (G& g : items) g = in_.flag() ? pick() : value();
    return Kiv::make<GenericIf::List_>(std::move(items));
  }

  Kiv::AttributeId attributeId(G const& target) {
    if (in_.flag()) return in_.any<std::uint16_t>();
    Kiv::Ptr<Kiv::KivType> const type = target->objectType();
    Kiv::Ptr<Kiv::KivAttr> const table = type ? type->attrTable() : nullptr;
    if (!table || table->members().empty()) return 0;
    auto const& members = table->members();
    return members[in_.inRange<std::size_t>(0, members.size() - 1)]->id();
  }
  std::uint32_t code() {
    if (in_.inRange(0, 7) == 0) return in_.any<std::uint32_t>();
    return in_.oneOf(knownCodes);
  }

  // One operation on `target`; returns the adapter to go on with.
  G step(G const& target) {
    switch (in_.inRange(0, 9)) {
      case 0:
      case 1:
      case 2: {
        Kiv::AttributeId const id = attributeId(target);
        std::uint32_t const c = code();
        // A nondestructing entity lives for the process by design; leaving
        // the switch alone keeps the leak check meaningful.
        if (id == Kiv::Attr::isNondestructing && GenericIf::isModifying(c)) return target;
        G const index = value();
        keep(target->attributeOp({id, c}, index, value()));
        return target;
      }
      case 3:
        (void)target->attributeId(in_.flag() ? text() : target->attributeString(attributeId(target)));
        return target;
      case 4:
        walk(target);
        return target;
      case 5:
        (void)target->strRep();
        keep(target->clone());
        (void)target->castTo(productType(in_.any<std::uint8_t>()));
        return target;
      case 6: {
        G const other = pick();
        if (other && other->object()) (void)target->objectIs(other->object());
        return target;
      }
      case 7:
        Kiv::eventLoop().advance(in_.inRange(0, 3) * 0x1p-20);
        return target;
      case 8:
        keep(productType(in_.any<std::uint8_t>())->genericIfFromStrep(text(), in_.flag()));
        return target;
      default: {
        G const next = pick();
        return next ? next : target;
      }
    }
  }

  // Walks a collection attribute from its start or from a key, reading
  // each member and key; a writable walk may delete the member it stands
  // on through the adapter and walk on.
  void walk(G const& target) {
    Kiv::AttributeId const id = attributeId(target);
    bool const writable = in_.flag();
    GenericIf::AttributeIterator h;
    if (in_.flag()) {
      h = writable ? target->attributeIteratorKey(id, value()) : target->attributeIteratorKeyConst(id, value());
    } else {
      h = writable ? target->attributeIterator(id) : target->attributeIteratorConst(id);
    }
    Kiv::GenericIterator it(std::move(h));
    for (int n = 0; n < 8 && it.nonNull(); ++n) {
      if (Kiv::Ptr<GenericIf const> const member = it.obj()) keep(member->clone());
      G const key = it.key();
      keep(key);
      if (writable && in_.flag()) (void)target->attributeOp({id, GenericIf::opDel}, key, nullptr);
      ++it;
    }
  }

  FuzzSupport::FuzzInput& in_;
  Kiv::Ptr<Bridging::Topology::Config> topoConfig_ = Bridging::Topology::Config::ConfigIs("topo");
  Kiv::Ptr<Bridging::Topology::Inst::Status> topoStatus_ = Bridging::Topology::Inst::Status::StatusIs("status");
  Kiv::Ptr<Bridging::Config> brConfig_ = Bridging::Config::ConfigIs("brConfig");
  Kiv::Ptr<Bridging::Status> brStatus_ = Bridging::Status::StatusIs("brStatus");
  Kiv::Ptr<Kiv::Clock> clock_ = Kiv::Clock::ClockIs("clock");
  Kiv::Ptr<Bridging::Orva::Config> agentConfig_ = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Bridging::Orva::Status> agentStatus_ = Bridging::Orva::statusFactory("agentStatus");
  std::vector<G> pool_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  Kiv::eventLoop().reset();
  FuzzSupport::FuzzInput in(data, size);
  Session(in).run();
  return 0;
}
