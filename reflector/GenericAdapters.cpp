#include "reflector/GenericAdapters.h"

#include <tuple>
#include <utility>

#include "Kiv/Clock.h"
#include "Kiv/Entity.h"
#include "Kiv/GenericAccess.h"

namespace Bridging {

namespace {

using Kiv::GenericIf;
using Kiv::functionAttributeOp;
using Kiv::genericOf;
using Kiv::readArguments;
using Kiv::readOnlyAttributeOp;

// Reads a collection's new member from its argument list and makes it (or
// finds it) through `is(key, parameters...)`: the key, then the
// parameters, as the member's constructor takes them. The argument named
// by rows[i] is read as the i-th type of Key, Parameters....
template <class Key, class... Parameters, class Is>
auto newMember(GenericIf::List_ const& list, Kiv::ArgumentRow const* rows, Kiv::String8 const& collection, Is&& is) {
  return std::apply(std::forward<Is>(is), readArguments<Key, Kiv::Ptr<Parameters>...>(list, rows, collection));
}

}  // namespace

namespace detail {

// The topology reflector's port reflectors.
struct TopoPortStateReflectorMembers {
  using Owner = TopoStateReflector;
  using Member = TopoPortStateReflector;
  using Key = Pyrel::IntfId;
  using Iterator = TopoStateReflector::TopoPortStateReflectorIteratorConst;
  static constexpr Kiv::AttributeId id = TopoStateReflector::topoPortStateReflectorAttrId;
  static constexpr char const* name = "topoPortStateReflector";
  static constexpr Kiv::IteratorHandles<Iterator> handles{id, name};
  // The member's constructor parameters, the key first.
  static constexpr Kiv::ArgumentRow const* arguments = TopoPortStateReflector::_Type::constructorArguments;

  static Key key(Member const& m) { return m.intfId(); }
  static Kiv::Ptr<Member> member(Owner const& o, Key const& k) { return o.topoPortStateReflector(k); }
  static std::uint32_t members(Owner const& o) { return o.topoPortStateReflectors(); }
  static std::uint32_t version(Owner const& o) { return o.topoPortStateReflectorVersion(); }
  static Iterator iterator(Owner const& o) { return o.topoPortStateReflectorIteratorConst(); }
  static Iterator iterator(Owner const& o, Key const& k) { return o.topoPortStateReflectorIteratorConst(k); }
  static Kiv::Ptr<Member> del(Owner& o, Key const& k) { return o.topoPortStateReflectorDel(k); }
  static Kiv::Ptr<Member> is(Owner& o, GenericIf::List_ const& list) {
    return read(list, name, [&o](auto const&... a) { return o.topoPortStateReflectorIs(a...); });
  }
  // The member's constructor arguments from `list`, handed to `make`; a
  // list with more is the unknown-argument error naming `owner`.
  template <class Make>
  static Kiv::Ptr<Member> read(GenericIf::List_ const& list, Kiv::String8 const& owner, Make&& make) {
    return newMember<Pyrel::IntfId, Topology::TopoPortConfig, Topology::TopoPortStatus, Config, Status,
                     Topology::Config, Topology::TopoConfig, Kiv::Clock, Kiv::Clock>(list, arguments, owner,
                                                                                     std::forward<Make>(make));
  }
};

// The system reflector's topology reflectors.
struct TopoStateReflectorMembers {
  using Owner = StateReflector;
  using Member = TopoStateReflector;
  using Key = Kiv::String8;
  using Iterator = StateReflector::TopoStateReflectorIteratorConst;
  static constexpr Kiv::AttributeId id = StateReflector::topoStateReflectorAttrId;
  static constexpr char const* name = "topoStateReflector";
  static constexpr Kiv::IteratorHandles<Iterator> handles{id, name};
  static constexpr Kiv::ArgumentRow const* arguments = TopoStateReflector::_Type::constructorArguments;

  static Key key(Member const& m) { return m.name(); }
  static Kiv::Ptr<Member> member(Owner const& o, Key const& k) { return o.topoStateReflector(k); }
  static std::uint32_t members(Owner const& o) { return o.topoStateReflectors(); }
  static std::uint32_t version(Owner const& o) { return o.topoStateReflectorVersion(); }
  static Iterator iterator(Owner const& o) { return o.topoStateReflectorIteratorConst(); }
  static Iterator iterator(Owner const& o, Key const& k) { return o.topoStateReflectorIteratorConst(k); }
  static Kiv::Ptr<Member> del(Owner& o, Key const& k) { return o.topoStateReflectorDel(k); }
  static Kiv::Ptr<Member> is(Owner& o, GenericIf::List_ const& list) {
    return read(list, name, [&o](auto const&... a) { return o.topoStateReflectorIs(a...); });
  }
  template <class Make>
  static Kiv::Ptr<Member> read(GenericIf::List_ const& list, Kiv::String8 const& owner, Make&& make) {
    return newMember<Kiv::String8, Topology::TopoConfig, Topology::Inst::TopoStatus, Config, Status, Topology::Config,
                     Kiv::Clock>(list, arguments, owner, std::forward<Make>(make));
  }
};

// A reflector made on its own from its constructor arguments, as its
// owner's collection makes one: the constructor runs its handlers, then its
// notification is switched on.
template <class Members>
Kiv::Ptr<Kiv::GenericIf> standalone(Kiv::Ptr<Kiv::GenericIf const> const& arguments, Kiv::KivType const& type,
                                    bool isConst) {
  using Member = typename Members::Member;
  Kiv::Ptr<Member> const reflector =
      Members::read(Kiv::argumentList(arguments), type.name(), [](auto const&... a) {
        Kiv::Ptr<Member> made = Kiv::make<Member>(a...);
        made->hasNotificationActiveIs(true);
        return made;
      });
  return type.genericIf_(reflector.ptr(), isConst);
}

}  // namespace detail

// --- Type objects

template <class R>
ReflectorType<R>::~ReflectorType() = default;

template <class R>
Kiv::Ptr<Kiv::GenericIf> ReflectorType<R>::genericIf_(Kiv::PtrInterface* object, bool isConst) const {
  return Kiv::make<typename R::GenericIf_>(Kiv::Ptr<R>(dynamic_cast<R*>(object)), isConst);
}

template <class R>
Kiv::Ptr<Kiv::GenericIf> ReflectorType<R>::genericIfFromStrep(Kiv::String8 const& text, bool isConst) const {
  Kiv::Ptr<R> const reflector = Kiv::strepToValue<Kiv::Ptr<R>>(text);
  return genericIf_(reflector.ptr(), isConst);
}

template class ReflectorType<TopoPortStateReflector>;
template class ReflectorType<TopoStateReflector>;
template class ReflectorType<StateReflector>;

TopoPortStateReflector::_Type::~_Type() = default;
TopoStateReflector::_Type::~_Type() = default;
StateReflector::_Type::~_Type() = default;

Kiv::Ptr<Kiv::GenericIf> TopoPortStateReflector::_Type::genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments,
                                                                 bool isConst) const {
  return detail::standalone<detail::TopoPortStateReflectorMembers>(arguments, *this, isConst);
}

Kiv::Ptr<Kiv::GenericIf> TopoStateReflector::_Type::genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments,
                                                             bool isConst) const {
  return detail::standalone<detail::TopoStateReflectorMembers>(arguments, *this, isConst);
}

Kiv::Ptr<Kiv::GenericIf> StateReflector::_Type::genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments,
                                                          bool isConst) const {
  auto const parameters =
      readArguments<Kiv::Ptr<Topology::Config>, Kiv::Ptr<Topology::Inst::Status>, Kiv::Ptr<Config>, Kiv::Ptr<Status>,
                    Kiv::Ptr<Kiv::Clock>>(Kiv::argumentList(arguments), constructorArguments, name());
  Kiv::Ptr<StateReflector> const reflector = std::apply(stateReflectorFactory, parameters);
  return genericIf_(reflector.ptr(), isConst);
}

// --- What the adapters share

template <class R>
ReflectorGenericIf<R>::ReflectorGenericIf(Kiv::Ptr<R> const& reflector, bool isConst)
    : const_(isConst), reflector_(reflector) {}

template <class R>
ReflectorGenericIf<R>::~ReflectorGenericIf() = default;

template <class R>
bool ReflectorGenericIf<R>::isConst() const {
  return const_;
}

template <class R>
Kiv::Ptr<Kiv::KivType> ReflectorGenericIf<R>::objectType() const {
  return R::_fwkType();
}

template <class R>
void* ReflectorGenericIf<R>::castTo(Kiv::Ptr<Kiv::KivType> const& type) const {
  Kiv::Ptr<Kiv::KivType> const own = R::_fwkType();
  R* const r = reflector_.ptr();
  if (r && type == own) return r;
  if (r && type == Kiv::KivType::ptrInterfaceType()) return static_cast<Kiv::PtrInterface*>(r);
  throwTypeException(own->name());
}

template <class R>
Kiv::Ptr<Kiv::GenericIf> ReflectorGenericIf<R>::clone() const {
  return Kiv::make<typename R::GenericIf_>(reflector_, const_);
}

template <class R>
Kiv::PtrInterface* ReflectorGenericIf<R>::object() const {
  return reflector_.ptr();
}

template <class R>
Kiv::Ptr<Kiv::PtrInterface> ReflectorGenericIf<R>::objectIs(Kiv::Ptr<Kiv::PtrInterface> const& object) {
  R* const r = dynamic_cast<R*>(object.ptr());
  if (object && !r) throwTypeException(R::_fwkType()->name());
  Kiv::Ptr<Kiv::PtrInterface> former(reflector_.ptr());
  reflector_ = Kiv::Ptr<R>(r);
  return former;
}

// --- The child collections

template <class R, class Members>
ReflectorParentGenericIf<R, Members>::~ReflectorParentGenericIf() = default;

namespace {

// The key that `index` holds, or the type error naming the key.
template <class Members>
typename Members::Key memberKey(Kiv::Ptr<Kiv::GenericIf const> const& index) {
  auto const key = Kiv::genericValueOf<typename Members::Key>(index);
  if (!key) GenericIf::throwTypeException(Members::arguments[0].name);
  return *key;
}

}  // namespace

template <class R, class Members>
Kiv::Ptr<Kiv::GenericIf> ReflectorParentGenericIf<R, Members>::collectionOp(R& owner, AttributeOp const& op,
                                                                            Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                                            Kiv::Ptr<Kiv::GenericIf> const& value) {
  bool const c = this->isConst();
  switch (op.code) {
    case GenericIf::opCount:
      return Kiv::genericValue<unsigned int>(Members::members(owner), c);
    case GenericIf::opVersion:
      return Kiv::genericValue<unsigned int>(Members::version(owner), c);
    case GenericIf::opSet: {
      if (index) GenericIf::throwBadIndexAttrException(Members::name);
      return genericOf(Members::is(owner, Kiv::argumentList(value)), c);
    }
    case GenericIf::opGet:
      return genericOf(Members::member(owner, memberKey<Members>(index)), c);
    case GenericIf::opExists:
      return Kiv::genericValue<bool>(Members::member(owner, memberKey<Members>(index)) != nullptr, c);
    case GenericIf::opDel:
      return genericOf(Members::del(owner, memberKey<Members>(index)), c);
    default:
      GenericIf::throwOpNotSupportedException(Members::name, op.code, false);
  }
}

template <class R, class Members>
Kiv::GenericIf::AttributeIterator ReflectorParentGenericIf<R, Members>::attributeIteratorConst(
    Kiv::AttributeId id) const {
  R const* const owner = this->reflector();
  if (id != Members::id || !owner) return ReflectorGenericIf<R>::attributeIteratorConst(id);
  return Members::handles.make(*this, Members::iterator(*owner));
}

template <class R, class Members>
Kiv::GenericIf::AttributeIterator ReflectorParentGenericIf<R, Members>::attributeIteratorKeyConst(
    Kiv::AttributeId id, Kiv::Ptr<Kiv::GenericIf const> const& key) const {
  R const* const owner = this->reflector();
  if (id != Members::id || !owner) return ReflectorGenericIf<R>::attributeIteratorKeyConst(id, key);
  auto const k = memberKey<Members>(key);
  return Members::handles.make(*this, Members::handles.exactly(Members::iterator(*owner, k), k, &Members::key));
}

template <class R, class Members>
Kiv::Ptr<Kiv::GenericIf const> ReflectorParentGenericIf<R, Members>::attributeIterator_iterObj(
    AttributeIterator const& it) const {
  auto const& i = Members::handles.of(*this, it);
  return Kiv::KivType::genericIf(const_cast<typename Members::Member*>(i.ptr()), this->isConst());
}

template <class R, class Members>
Kiv::Ptr<Kiv::GenericIf> ReflectorParentGenericIf<R, Members>::attributeIterator_iterObj(AttributeIterator const& it) {
  auto const& i = Members::handles.of(*this, it);
  return Kiv::KivType::genericIf(const_cast<typename Members::Member*>(i.ptr()), this->isConst());
}

template <class R, class Members>
void ReflectorParentGenericIf<R, Members>::attributeIterator_iterInc(AttributeIterator& it) const {
  Members::handles.increment(*this, it);
}

template <class R, class Members>
Kiv::Ptr<Kiv::GenericIf> ReflectorParentGenericIf<R, Members>::attributeIterator_iterKey(
    AttributeIterator const& it) const {
  auto const& i = Members::handles.of(*this, it);
  return i ? Kiv::genericValue(Members::key(*i), this->isConst()) : nullptr;
}

template <class R, class Members>
Kiv::GenericIf::AttributeIterator ReflectorParentGenericIf<R, Members>::attributeIterator_iterClone(
    AttributeIterator const& it) const {
  return Members::handles.clone(*this, it);
}

template <class R, class Members>
bool ReflectorParentGenericIf<R, Members>::attributeIterator_nonNull(AttributeIterator const& it) const {
  return Members::handles.nonNull(*this, it);
}

template <class R, class Members>
void ReflectorParentGenericIf<R, Members>::attributeIterator_iterDel(AttributeIterator& it) const {
  Members::handles.free(*this, it);
}

template class ReflectorGenericIf<TopoPortStateReflector>;
template class ReflectorGenericIf<TopoStateReflector>;
template class ReflectorGenericIf<StateReflector>;
template class ReflectorParentGenericIf<TopoStateReflector, detail::TopoPortStateReflectorMembers>;
template class ReflectorParentGenericIf<StateReflector, detail::TopoStateReflectorMembers>;

// --- The port reflector's adapter

TopoPortStateReflector::GenericIf_::GenericIf_(Kiv::Ptr<TopoPortStateReflector> const& reflector, bool isConst)
    : ReflectorGenericIf(reflector, isConst) {}

TopoPortStateReflector::GenericIf_::~GenericIf_() = default;

Kiv::Ptr<Kiv::GenericIf> TopoPortStateReflector::GenericIf_::attributeOp(AttributeOp const& op,
                                                                         Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                                         Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  TopoPortStateReflector* const r = reflector();
  if (!r) return GenericIfPtrInterface::attributeOp(op, index, value);
  auto const readOnly = [&](char const* name, auto get) { return readOnlyAttributeOp(*this, name, op, index, get); };
  auto const call = [&](char const* name, void (TopoPortStateReflector::*handler)()) {
    return functionAttributeOp<>(name, op, index, nullptr, [r, handler] { (r->*handler)(); });
  };
  switch (op.attributeId) {
    case intfIdAttrId:
      return readOnly("intfId", [r] { return r->intfId(); });
    case topoPortConfigAttrId:
      return readOnly("topoPortConfig", [r] { return r->topoPortConfig(); });
    case topoPortStatusAttrId:
      return readOnly("topoPortStatus", [r] { return r->topoPortStatus(); });
    case brConfigAttrId:
      return readOnly("brConfig", [r] { return r->brConfig(); });
    case brStatusAttrId:
      return readOnly("brStatus", [r] { return r->brStatus(); });
    case brTopoConfigAttrId:
      return readOnly("brTopoConfig", [r] { return r->brTopoConfig(); });
    case topoConfigAttrId:
      return readOnly("topoConfig", [r] { return r->topoConfig(); });
    case clockAttrId:
      return readOnly("clock", [r] { return r->clock(); });
    case fdbClockAttrId:
      return readOnly("fdbClock", [r] { return r->fdbClock(); });
    case lastFdbFlushAttrId:
      return Kiv::scalarAttributeOp<double>(
          *this, "lastFdbFlush", op, index, value, [r] { return r->lastFdbFlush(); },
          [r](double v) { r->lastFdbFlushIs(v); });
    case handleStateAttrId:
      return call("handleState", &TopoPortStateReflector::handleState);
    case handleFdbFlushAttrId:
      return call("handleFdbFlush", &TopoPortStateReflector::handleFdbFlush);
    case handleClockAttrId:
      return call("handleClock", &TopoPortStateReflector::handleClock);
    case handleFdbClockAttrId:
      return call("handleFdbClock", &TopoPortStateReflector::handleFdbClock);
    case doAddressTableFlushAttrId:
      return call("doAddressTableFlush", &TopoPortStateReflector::doAddressTableFlush);
    case initializedAttrId:
      return Kiv::scalarAttributeOp<bool>(
          *this, "initialized", op, index, value, [r] { return r->initialized(); },
          [r](bool v) { r->initializedIs(v); });
    case handleInitializedAttrId:
      return call("handleInitialized", &TopoPortStateReflector::handleInitialized);
    default:
      return GenericIfPtrInterface::attributeOp(op, index, value);
  }
}

// --- The topology reflector's adapter

TopoStateReflector::GenericIf_::GenericIf_(Kiv::Ptr<TopoStateReflector> const& reflector, bool isConst)
    : ReflectorParentGenericIf(reflector, isConst) {}

TopoStateReflector::GenericIf_::~GenericIf_() = default;

Kiv::Ptr<Kiv::GenericIf> TopoStateReflector::GenericIf_::attributeOp(AttributeOp const& op,
                                                                     Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                                     Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  TopoStateReflector* const r = reflector();
  if (!r) return GenericIfPtrInterface::attributeOp(op, index, value);
  auto const readOnly = [&](char const* name, auto get) { return readOnlyAttributeOp(*this, name, op, index, get); };
  auto const call = [&](char const* name, void (TopoStateReflector::*handler)()) {
    return functionAttributeOp<>(name, op, index, nullptr, [r, handler] { (r->*handler)(); });
  };
  // The handlers that sync one port: the generic call reaches the overload
  // that takes the port.
  auto const callForPort = [&](char const* name, void (TopoStateReflector::*handler)(Pyrel::IntfId)) {
    return functionAttributeOp<Pyrel::IntfId>(name, op, index, _Type::portArguments,
                                              [r, handler](Pyrel::IntfId const& p) { (r->*handler)(p); });
  };
  switch (op.attributeId) {
    case nameAttrId:
      return readOnly("name", [r] { return r->name(); });
    case topoConfigAttrId:
      return readOnly("topoConfig", [r] { return r->topoConfig(); });
    case topoStatusAttrId:
      return readOnly("topoStatus", [r] { return r->topoStatus(); });
    case brConfigAttrId:
      return readOnly("brConfig", [r] { return r->brConfig(); });
    case brStatusAttrId:
      return readOnly("brStatus", [r] { return r->brStatus(); });
    case brTopoConfigAttrId:
      return readOnly("brTopoConfig", [r] { return r->brTopoConfig(); });
    case clockAttrId:
      return readOnly("clock", [r] { return r->clock(); });
    case topoPortStateReflectorAttrId:
      return collectionOp(*r, op, index, value);
    case handleTopoPortConfigAttrId:
      return callForPort("handleTopoPortConfig", &TopoStateReflector::handleTopoPortConfig);
    case handleTopoPortStatusAttrId:
      return callForPort("handleTopoPortStatus", &TopoStateReflector::handleTopoPortStatus);
    case handleCollectionChangeAttrId:
      return call("handleCollectionChange", &TopoStateReflector::handleCollectionChange);
    case doSyncPortAttrId:
      return callForPort("doSyncPort", &TopoStateReflector::doSyncPort);
    case initializedAttrId:
      return Kiv::scalarAttributeOp<bool>(
          *this, "initialized", op, index, value, [r] { return r->initialized(); },
          [r](bool v) { r->initializedIs(v); });
    case handleInitializedAttrId:
      return call("handleInitialized", &TopoStateReflector::handleInitialized);
    default:
      return GenericIfPtrInterface::attributeOp(op, index, value);
  }
}

// --- The system reflector's adapter

StateReflector::GenericIf_::GenericIf_(Kiv::Ptr<StateReflector> const& reflector, bool isConst)
    : ReflectorParentGenericIf(reflector, isConst) {}

StateReflector::GenericIf_::~GenericIf_() = default;

Kiv::Ptr<Kiv::GenericIf> StateReflector::GenericIf_::attributeOp(AttributeOp const& op,
                                                                 Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                                 Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  StateReflector* const r = reflector();
  if (!r) return GenericIfPtrInterface::attributeOp(op, index, value);
  auto const readOnly = [&](char const* name, auto get) { return readOnlyAttributeOp(*this, name, op, index, get); };
  auto const call = [&](char const* name, void (StateReflector::*handler)()) {
    return functionAttributeOp<>(name, op, index, nullptr, [r, handler] { (r->*handler)(); });
  };
  // The handlers that sync one topology: the generic call reaches the
  // overload that takes the name.
  auto const callForTopology = [&](char const* name, void (StateReflector::*handler)(Kiv::String8)) {
    return functionAttributeOp<Kiv::String8>(name, op, index, _Type::topologyArguments,
                                             [r, handler](Kiv::String8 const& n) { (r->*handler)(n); });
  };
  switch (op.attributeId) {
    case configAttrId:
      return readOnly("config", [r] { return r->config(); });
    case statusAttrId:
      return readOnly("status", [r] { return r->status(); });
    case brConfigAttrId:
      return readOnly("brConfig", [r] { return r->brConfig(); });
    case brStatusAttrId:
      return readOnly("brStatus", [r] { return r->brStatus(); });
    case clockAttrId:
      return readOnly("clock", [r] { return r->clock(); });
    case topoStateReflectorAttrId:
      return collectionOp(*r, op, index, value);
    case handleTopoConfigAttrId:
      return callForTopology("handleTopoConfig", &StateReflector::handleTopoConfig);
    case handleTopoStatusAttrId:
      return callForTopology("handleTopoStatus", &StateReflector::handleTopoStatus);
    case handleCollectionChangeAttrId:
      return call("handleCollectionChange", &StateReflector::handleCollectionChange);
    case doSyncTopoAttrId:
      return callForTopology("doSyncTopo", &StateReflector::doSyncTopo);
    case initializedAttrId:
      return Kiv::scalarAttributeOp<bool>(
          *this, "initialized", op, index, value, [r] { return r->initialized(); },
          [r](bool v) { r->initializedIs(v); });
    case handleInitializedAttrId:
      return call("handleInitialized", &StateReflector::handleInitialized);
    default:
      return GenericIfPtrInterface::attributeOp(op, index, value);
  }
}

}  // namespace Bridging

// --- References to reflectors from text

namespace Kiv {

// Read as entity references: None is null, and a name names an entity,
// which is never a reflector, so it is refused naming the reflector type.
template <>
Ptr<Bridging::TopoPortStateReflector> strepToValue<Ptr<Bridging::TopoPortStateReflector>>(String8 const& s) {
  return strepToEntity<Bridging::TopoPortStateReflector>(s);
}
template <>
Ptr<Bridging::TopoStateReflector> strepToValue<Ptr<Bridging::TopoStateReflector>>(String8 const& s) {
  return strepToEntity<Bridging::TopoStateReflector>(s);
}
template <>
Ptr<Bridging::StateReflector> strepToValue<Ptr<Bridging::StateReflector>>(String8 const& s) {
  return strepToEntity<Bridging::StateReflector>(s);
}

}  // namespace Kiv
