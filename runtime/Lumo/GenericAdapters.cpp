#include "Lumo/GenericAdapters.h"

#include <string>
#include <utility>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/Strep.h"

namespace Bridging::detail {

namespace {

using Kiv::GenericIf;
using GenericPtr = Kiv::Ptr<Kiv::GenericIf>;
using GenericConst = Kiv::Ptr<Kiv::GenericIf const>;
using Op = Kiv::GenericIf::AttributeOp;

// The read-only key attribute of a member entity (intfId, vlanId, fid).
constexpr Kiv::AttributeId keyAttrId = 257;

// A VLAN id or forwarding database id: its own type or any integer, from 1
// to 4094.
template <class N>
N number16(GenericConst const& g, Kiv::String8 const& name, char const* what) {
  long long v = 0;
  if (auto own = Kiv::genericValueOf<N>(g)) {
    v = own->value();
  } else if (auto n = Kiv::Builtin<long long>::valueOf(g)) {
    v = *n;
  } else {
    GenericIf::throwTypeException(name);
  }
  if (v < 1 || v > 4094) {
    GenericIf::throwOutOfRangeException(name, Kiv::String8(what) + " " + std::to_string(v) + " is outside 1 to 4094");
  }
  return N(static_cast<std::uint16_t>(v));
}

// A T in its own type, or read from a string by parse(), whose range
// failure becomes the range error naming `name`.
template <class T, class Parse>
T ownOrText(GenericConst const& g, Kiv::String8 const& name, Parse&& parse) {
  if (auto own = Kiv::genericValueOf<T>(g)) return *own;
  std::optional<Kiv::String8> const text = Kiv::Builtin<Kiv::String8>::valueOf(g);
  if (!text) GenericIf::throwTypeException(name);
  try {
    return parse(*text);
  } catch (Kiv::RangeException const& e) {
    GenericIf::throwOutOfRangeException(name, e.message());
  }
}

// An interface name is printable ASCII without blanks, and not empty (the
// empty name is no interface).
bool isInterfaceName(Kiv::String8 const& name) {
  if (name.empty()) return false;
  for (char const c : name.stdString()) {
    auto const b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7f) return false;
  }
  return true;
}

// The operations of a collection attribute `name` keyed by K (its key
// named `keyName`): find(key) gives the member or value in generic form,
// or null; put(index, value) serves 128; del(key) removes and returns what
// it removed, or null.
template <class K, class Find, class Put, class Del>
GenericPtr collectionOp(GenericIf const& a, Kiv::String8 const& name, Kiv::String8 const& keyName, Op const& op,
                        GenericConst const& index, GenericPtr const& value, std::uint32_t count, Find&& find, Put&& put,
                        Del&& del) {
  switch (op.code) {
    case GenericIf::opGet:
      return find(ModelValue<K>::of(index, keyName));
    case GenericIf::opCount:
      if (index) GenericIf::throwBadIndexAttrException(name);
      return Kiv::genericValue<unsigned int>(count, a.isConst());
    case GenericIf::opExists:
      return Kiv::genericValue<bool>(static_cast<bool>(find(ModelValue<K>::of(index, keyName))), a.isConst());
    case GenericIf::opSet:
      return put(index, value);
    case GenericIf::opDel:
      return del(ModelValue<K>::of(index, keyName));
    default:
      GenericIf::throwOpNotSupportedException(name, op.code, false);
  }
}

// A collection of member entities keyed by K: 128 gives the member of the
// key in the argument list of `value` (or in the index, with no value),
// made when absent.
template <class K, class Member, class MemberIs, class Del>
GenericPtr entityCollectionOp(GenericIf const& a, char const* name, char const* keyName, Op const& op,
                              GenericConst const& index, GenericPtr const& value, std::uint32_t count, Member&& member,
                              MemberIs&& memberIs, Del&& del) {
  bool const c = a.isConst();
  return collectionOp<K>(
      a, name, keyName, op, index, value, count, [&](K const& k) { return Kiv::genericOf(member(k), c); },
      [&](GenericConst const& i, GenericPtr const& v) {
        if (i) {
          // The key in the index and no member (null, or an adapter of no
          // entity: None in text).
          bool const none = !v || (dynamic_cast<Kiv::GenericIfEntity const*>(v.ptr()) && !v->object());
          if (!none) GenericIf::throwTypeException(name);
          return Kiv::genericOf(memberIs(ModelValue<K>::of(i, keyName)), c);
        }
        GenericIf::List_ const& list = Kiv::argumentList(GenericConst(v));
        K const k = ModelValue<K>::of(list.at(0), keyName);
        Kiv::requireArgumentsAtMost(list, 1, name);
        return Kiv::genericOf(memberIs(k), c);
      },
      [&](K const& k) { return Kiv::genericOf(del(k), c); });
}

template <class It, class MemberOf, class KeyOf>
class CursorOf : public Cursor {
 public:
  CursorOf(It it, MemberOf member, KeyOf key) : it_(std::move(it)), member_(member), key_(key) {}
  bool nonNull() const override { return static_cast<bool>(it_); }
  void next() override { ++it_; }
  GenericPtr member(bool isConst) const override { return member_(*it_, isConst); }
  GenericPtr key() const override { return key_(*it_); }
  Cursor* clone() const override { return new CursorOf(*this); }

 private:
  It it_;
  MemberOf member_;
  KeyOf key_;
};

// A cursor at the first member, or at the member of `key` when it is given
// (at the end when that is absent). at(k) gives the collection's iterator,
// at its key look-up when k is not null.
template <class K, class At, class KeyOf, class MemberOf>
Cursor* makeCursor(GenericConst const* key, Kiv::String8 const& keyName, At&& at, KeyOf keyOf, MemberOf member) {
  using It = decltype(at(static_cast<K const*>(nullptr)));
  std::optional<K> k;
  if (key) k = ModelValue<K>::of(*key, keyName);
  It it = at(k ? &*k : nullptr);
  if (k) it = Kiv::IteratorHandles<It>::exactly(std::move(it), *k, keyOf);
  auto const keyValue = [keyOf](auto const& m) { return Kiv::genericValue<K>(K(keyOf(m)), false); };
  return new CursorOf<It, MemberOf, decltype(keyValue)>(std::move(it), member, keyValue);
}

// A cursor over member entities.
template <class K, class At, class KeyOf>
Cursor* memberCursor(GenericConst const* key, Kiv::String8 const& keyName, At&& at, KeyOf keyOf) {
  return makeCursor<K>(key, keyName, std::forward<At>(at), keyOf, [](auto const& m, bool isConst) {
    return Kiv::KivType::genericIf(const_cast<Kiv::PtrInterface*>(static_cast<Kiv::PtrInterface const*>(&m)), isConst);
  });
}

// The iterator of collection `x` of `e`, at the first member or at a key.
#define LUMO_ITERATOR_AT(e, x) [&e](auto const* k) { return k ? e.x##IteratorConst(*k) : e.x##IteratorConst(); }

auto const keyOfEntry = [](auto const& entry) { return entry.key(); };

// --- Each entity's attributes. op() serves the entity's own ids and
// leaves the others (std::nullopt) to the entity base; cursor() makes the
// cursor of a collection attribute, or null for other ids.
template <class E>
struct ModelAccess;

template <>
struct ModelAccess<Topology::TopoPortConfig> {
  using E = Topology::TopoPortConfig;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    switch (op.attributeId) {
      case keyAttrId:
        return Kiv::readOnlyAttributeOp(a, "intfId", op, index, [&] { return e.intfId(); });
      case E::stateAttrId:
        return Kiv::scalarAttributeOp<Topology::PortState>(
            a, "state", op, index, value, [&] { return e.state(); }, [&](Topology::PortState s) { e.stateIs(s); },
            &ModelValue<Topology::PortState>::of);
      case E::fdbFlushAttrId:
        return Kiv::scalarAttributeOp<std::uint32_t>(
            a, "fdbFlush", op, index, value, [&] { return e.fdbFlush(); }, [&](std::uint32_t v) { e.fdbFlushIs(v); });
      case E::lowerAgingTimeAttrId:
        return Kiv::scalarAttributeOp<bool>(
            a, "lowerAgingTime", op, index, value, [&] { return e.lowerAgingTime(); },
            [&](bool v) { e.lowerAgingTimeIs(v); });
      default:
        return std::nullopt;
    }
  }
  static Cursor* cursor(E&, Kiv::AttributeId, GenericConst const*) { return nullptr; }
};

template <>
struct ModelAccess<Topology::TopoPortStatus> {
  using E = Topology::TopoPortStatus;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    switch (op.attributeId) {
      case keyAttrId:
        return Kiv::readOnlyAttributeOp(a, "intfId", op, index, [&] { return e.intfId(); });
      case E::stateAttrId:
        return Kiv::scalarAttributeOp<Topology::PortState>(
            a, "state", op, index, value, [&] { return e.state(); }, [&](Topology::PortState s) { e.stateIs(s); },
            &ModelValue<Topology::PortState>::of);
      case E::fdbFlushReportAttrId:
        return Kiv::scalarAttributeOp<unsigned int>(
            a, "fdbFlushReport", op, index, value, [&] { return e.fdbFlushReport(); },
            [&](unsigned int v) { e.fdbFlushReportIs(v); });
      default:
        return std::nullopt;
    }
  }
  static Cursor* cursor(E&, Kiv::AttributeId, GenericConst const*) { return nullptr; }
};

template <>
struct ModelAccess<Topology::TopoConfig> {
  using E = Topology::TopoConfig;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    if (op.attributeId != E::topoPortConfigAttrId) return std::nullopt;
    return entityCollectionOp<Pyrel::IntfId>(
        a, "topoPortConfig", "intfId", op, index, value, e.topoPortConfigs(),
        [&](Pyrel::IntfId const& k) { return e.topoPortConfig(k); },
        [&](Pyrel::IntfId const& k) { return e.topoPortConfigIs(k); },
        [&](Pyrel::IntfId const& k) { return e.topoPortConfigDel(k); });
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::topoPortConfigAttrId) return nullptr;
    return memberCursor<Pyrel::IntfId>(key, "intfId", LUMO_ITERATOR_AT(e, topoPortConfig),
                                       [](Topology::TopoPortConfig const& m) { return m.intfId(); });
  }
};

template <>
struct ModelAccess<Topology::Inst::TopoStatus> {
  using E = Topology::Inst::TopoStatus;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    if (op.attributeId != E::topoPortStatusAttrId) return std::nullopt;
    return entityCollectionOp<Pyrel::IntfId>(
        a, "topoPortStatus", "intfId", op, index, value, e.topoPortStatuss(),
        [&](Pyrel::IntfId const& k) { return e.topoPortStatus(k); },
        [&](Pyrel::IntfId const& k) { return e.topoPortStatusIs(k); },
        [&](Pyrel::IntfId const& k) { return e.topoPortStatusDel(k); });
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::topoPortStatusAttrId) return nullptr;
    return memberCursor<Pyrel::IntfId>(key, "intfId", LUMO_ITERATOR_AT(e, topoPortStatus),
                                       [](Topology::TopoPortStatus const& m) { return m.intfId(); });
  }
};

template <>
struct ModelAccess<Topology::Inst::Status> {
  using E = Topology::Inst::Status;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    if (op.attributeId != E::topoStatusAttrId) return std::nullopt;
    return entityCollectionOp<Kiv::Name>(
        a, "topoStatus", "name", op, index, value, e.topoStatuss(), [&](Kiv::Name const& k) { return e.topoStatus(k); },
        [&](Kiv::Name const& k) { return e.topoStatusIs(k); }, [&](Kiv::Name const& k) { return e.topoStatusDel(k); });
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::topoStatusAttrId) return nullptr;
    return memberCursor<Kiv::Name>(key, "name", LUMO_ITERATOR_AT(e, topoStatus),
                                   [](Topology::Inst::TopoStatus const& m) { return m.name(); });
  }
};

template <>
struct ModelAccess<Topology::Config> {
  using E = Topology::Config;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    bool const c = a.isConst();
    switch (op.attributeId) {
      case E::topoConfigAttrId:
        return entityCollectionOp<Kiv::Name>(
            a, "topoConfig", "name", op, index, value, e.topoConfigs(),
            [&](Kiv::Name const& k) { return e.topoConfig(k); }, [&](Kiv::Name const& k) { return e.topoConfigIs(k); },
            [&](Kiv::Name const& k) { return e.topoConfigDel(k); });
      case E::vidToTopoMapAttrId:
        return collectionOp<VlanId>(
            a, "vidToTopoMap", "vid", op, index, value, e.vidToTopoMaps(),
            [&](VlanId k) { return Kiv::genericOf(e.vidToTopoMap(k), c); },
            [&](GenericConst const& i, GenericPtr const& v) {
              VlanId const vid = ModelValue<VlanId>::of(i, "vid");
              // The map names topologies of this configuration only: a
              // topology elsewhere would never be found by its name.
              auto* const topo = Kiv::genericObject<Topology::TopoConfig>(GenericConst(v));
              if (!topo) GenericIf::throwTypeException("vidToTopoMap");
              if (e.topoConfig(topo->name()).ptr() != topo) {
                GenericIf::throwOutOfRangeException(
                    "vidToTopoMap",
                    Kiv::valueToStrep(topo->fullName()) + " is not a topology of " + Kiv::valueToStrep(e.fullName()));
              }
              e.vidToTopoMapIs(vid, Kiv::Ptr<Topology::TopoConfig>(topo));
              return GenericPtr();
            },
            [&](VlanId k) { return Kiv::genericOf(e.vidToTopoMapDel(k), c); });
      default:
        return std::nullopt;
    }
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id == E::topoConfigAttrId) {
      return memberCursor<Kiv::Name>(key, "name", LUMO_ITERATOR_AT(e, topoConfig),
                                     [](Topology::TopoConfig const& m) { return m.name(); });
    }
    if (id != E::vidToTopoMapAttrId) return nullptr;
    return makeCursor<VlanId>(key, "vid", LUMO_ITERATOR_AT(e, vidToTopoMap), keyOfEntry,
                              [](auto const& entry, bool isConst) { return Kiv::genericOf(entry.value(), isConst); });
  }
};

template <>
struct ModelAccess<VlanConfig> {
  using E = VlanConfig;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const&) {
    if (op.attributeId != keyAttrId) return std::nullopt;
    return Kiv::readOnlyAttributeOp(a, "vlanId", op, index, [&] { return e.vlanId(); });
  }
  static Cursor* cursor(E&, Kiv::AttributeId, GenericConst const*) { return nullptr; }
};

template <>
struct ModelAccess<Config> {
  using E = Config;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    if (op.attributeId != E::vlanConfigAttrId) return std::nullopt;
    return entityCollectionOp<VlanId>(
        a, "vlanConfig", "vlanId", op, index, value, e.vlanConfigs(), [&](VlanId k) { return e.vlanConfig(k); },
        [&](VlanId k) { return e.vlanConfigIs(k); }, [&](VlanId k) { return e.vlanConfigDel(k); });
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::vlanConfigAttrId) return nullptr;
    return memberCursor<VlanId>(key, "vlanId", LUMO_ITERATOR_AT(e, vlanConfig),
                                [](VlanConfig const& m) { return m.vlanId(); });
  }
};

template <>
struct ModelAccess<FdbStatus> {
  using E = FdbStatus;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    bool const c = a.isConst();
    // The host under `addr`, or null when there is none.
    auto const find = [&](Pyrel::EthAddr const& addr) {
      auto const it = e.learnedHostIteratorConst(addr);
      return it && it->key() == addr ? Kiv::genericValue<LearnedHost>(it->value(), c) : GenericPtr();
    };
    switch (op.attributeId) {
      case keyAttrId:
        return Kiv::readOnlyAttributeOp(a, "fid", op, index, [&] { return e.fid(); });
      case E::learnedHostAttrId:
        return collectionOp<Pyrel::EthAddr>(
            a, "learnedHost", "addr", op, index, value, e.learnedHosts(), find,
            [&](GenericConst const& i, GenericPtr const& v) {
              Pyrel::EthAddr const addr = ModelValue<Pyrel::EthAddr>::of(i, "addr");
              // A host, or the interface it was learned on.
              std::optional<LearnedHost> host = Kiv::genericValueOf<LearnedHost>(GenericConst(v));
              if (!host) host = LearnedHost(addr, ModelValue<Pyrel::IntfId>::of(GenericConst(v), "learnedHost"));
              if (host->addr() != addr) {
                GenericIf::throwOutOfRangeException("learnedHost", "host " + Kiv::valueToStrep(host->addr()) +
                                                                       " stored under " + Kiv::valueToStrep(addr));
              }
              e.learnedHostIs(*host);
              return GenericPtr();
            },
            [&](Pyrel::EthAddr const& addr) {
              GenericPtr const removed = find(addr);
              e.learnedHostDel(addr);
              return removed;
            });
      default:
        return std::nullopt;
    }
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::learnedHostAttrId) return nullptr;
    return makeCursor<Pyrel::EthAddr>(
        key, "addr", LUMO_ITERATOR_AT(e, learnedHost), keyOfEntry,
        [](auto const& entry, bool isConst) { return Kiv::genericValue<LearnedHost>(entry.value(), isConst); });
  }
};

template <>
struct ModelAccess<Status> {
  using E = Status;
  static std::optional<GenericPtr> op(GenericIf const& a, E& e, Op const& op, GenericConst const& index,
                                      GenericPtr const& value) {
    if (op.attributeId != E::fdbStatusAttrId) return std::nullopt;
    return entityCollectionOp<Fid>(
        a, "fdbStatus", "fid", op, index, value, e.fdbStatuss(), [&](Fid k) { return e.fdbStatus(k); },
        [&](Fid k) { return e.fdbStatusIs(k); }, [&](Fid k) { return e.fdbStatusDel(k); });
  }
  static Cursor* cursor(E& e, Kiv::AttributeId id, GenericConst const* key) {
    if (id != E::fdbStatusAttrId) return nullptr;
    return memberCursor<Fid>(key, "fid", LUMO_ITERATOR_AT(e, fdbStatus), [](FdbStatus const& m) { return m.fid(); });
  }
};

#undef LUMO_ITERATOR_AT

}  // namespace

// --- Values

VlanId ModelValue<VlanId>::of(GenericConst const& g, Kiv::String8 const& name) {
  return number16<VlanId>(g, name, "VLAN id");
}

Fid ModelValue<Fid>::of(GenericConst const& g, Kiv::String8 const& name) {
  return number16<Fid>(g, name, "forwarding database id");
}

Topology::PortState ModelValue<Topology::PortState>::of(GenericConst const& g, Kiv::String8 const& name) {
  return ownOrText<Topology::PortState>(g, name, &Topology::portStateNamed);
}

Pyrel::IntfId ModelValue<Pyrel::IntfId>::of(GenericConst const& g, Kiv::String8 const& name) {
  Pyrel::IntfId const id = ownOrText<Pyrel::IntfId>(g, name, [](Kiv::String8 const& t) { return Pyrel::IntfId(t); });
  if (!isInterfaceName(id.stringValue())) {
    GenericIf::throwOutOfRangeException(name, "bad interface name " + Kiv::valueToStrep(id.stringValue()));
  }
  return id;
}

Pyrel::EthAddr ModelValue<Pyrel::EthAddr>::of(GenericConst const& g, Kiv::String8 const& name) {
  return ownOrText<Pyrel::EthAddr>(g, name, [](Kiv::String8 const& t) { return Pyrel::EthAddr(t); });
}

Cursor::~Cursor() = default;

// --- Observers

template <class E>
ModelObserverBase<E>::ModelObserverBase(Kiv::GenericIf* owner) : owner_(owner) {
  this->isWeakReferenceIs(true);
}

template <class E>
ModelObserverBase<E>::~ModelObserverBase() = default;

template <class E>
void ModelObserverBase<E>::kivRetire() {
  owner_ = nullptr;
  this->notifierIs(nullptr);
}

template <class E>
void ModelObserverBase<E>::tell(Kiv::AttributeId id) {
  if (!owner_) return;
  GenericPtr const hold(owner_);  // the adapter stays while it hears
  hold->onAttribute(id);
}

template <class E>
template <class K>
void ModelObserverBase<E>::tell(Kiv::AttributeId id, K const& key) {
  if (!owner_) return;
  GenericPtr const hold(owner_);
  hold->onAttribute(id, Kiv::genericValue<K>(key, true));
}

template <>
class ModelObserver<Topology::TopoPortConfig> : public ModelObserverBase<Topology::TopoPortConfig> {
  using E = Topology::TopoPortConfig;

 public:
  using ModelObserverBase::ModelObserverBase;
  void onState() override { tell(E::stateAttrId); }
  void onFdbFlush() override { tell(E::fdbFlushAttrId); }
  void onLowerAgingTime() override { tell(E::lowerAgingTimeAttrId); }
};

template <>
class ModelObserver<Topology::TopoPortStatus> : public ModelObserverBase<Topology::TopoPortStatus> {
  using E = Topology::TopoPortStatus;

 public:
  using ModelObserverBase::ModelObserverBase;
  void onState() override { tell(E::stateAttrId); }
  void onFdbFlushReport() override { tell(E::fdbFlushReportAttrId); }
};

template <>
class ModelObserver<Topology::TopoConfig> : public ModelObserverBase<Topology::TopoConfig> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onTopoPortConfig;
  void onTopoPortConfig(Pyrel::IntfId k) override { tell(Topology::TopoConfig::topoPortConfigAttrId, k); }
};

template <>
class ModelObserver<Topology::Config> : public ModelObserverBase<Topology::Config> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onTopoConfig;
  using ModelObserverBase::onVidToTopoMap;
  void onTopoConfig(Kiv::Name k) override { tell(Topology::Config::topoConfigAttrId, k); }
  void onVidToTopoMap(VlanId k) override { tell(Topology::Config::vidToTopoMapAttrId, k); }
};

template <>
class ModelObserver<Topology::Inst::TopoStatus> : public ModelObserverBase<Topology::Inst::TopoStatus> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onTopoPortStatus;
  void onTopoPortStatus(Pyrel::IntfId k) override { tell(Topology::Inst::TopoStatus::topoPortStatusAttrId, k); }
};

template <>
class ModelObserver<Topology::Inst::Status> : public ModelObserverBase<Topology::Inst::Status> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onTopoStatus;
  void onTopoStatus(Kiv::Name k) override { tell(Topology::Inst::Status::topoStatusAttrId, k); }
};

template <>
class ModelObserver<Config> : public ModelObserverBase<Config> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onVlanConfig;
  void onVlanConfig(VlanId k) override { tell(Config::vlanConfigAttrId, k); }
};

template <>
class ModelObserver<FdbStatus> : public ModelObserverBase<FdbStatus> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onLearnedHost;
  void onLearnedHost(Pyrel::EthAddr k) override { tell(FdbStatus::learnedHostAttrId, k); }
};

template <>
class ModelObserver<Status> : public ModelObserverBase<Status> {
 public:
  using ModelObserverBase::ModelObserverBase;
  using ModelObserverBase::onFdbStatus;
  void onFdbStatus(Fid k) override { tell(Status::fdbStatusAttrId, k); }
};

// --- Entity adapters

template <class E>
ModelGenericIf<E>::ModelGenericIf(Kiv::Ptr<E> const& entity, bool isConst) : entity_(entity), const_(isConst) {
  if (!entity_) return;
  observer_ = Kiv::make<ModelObserver<E>>(this);
  observer_->notifierIs(entity_);
}

template <class E>
ModelGenericIf<E>::~ModelGenericIf() {
  if (observer_) observer_->kivRetire();
}

template <class E>
bool ModelGenericIf<E>::isConst() const {
  return const_;
}

template <class E>
Kiv::PtrInterface* ModelGenericIf<E>::object() const {
  return entity_.ptr();
}

template <class E>
Kiv::Ptr<Kiv::KivType> ModelGenericIf<E>::objectType() const {
  return E::_fwkType();
}

template <class E>
GenericPtr ModelGenericIf<E>::clone() const {
  return Kiv::make<ModelGenericIf>(entity_, const_);
}

template <class E>
GenericPtr ModelGenericIf<E>::attributeOp(AttributeOp const& op, GenericConst const& index, GenericPtr const& value) {
  requireModifiable(op.code);
  if (entity_) {
    std::optional<GenericPtr> served = ModelAccess<E>::op(*this, *entity_, op, index, value);
    if (served) return *std::move(served);
  }
  return Kiv::GenericIfEntity::attributeOp(op, index, value);
}

template <class E>
typename ModelGenericIf<E>::AttributeIterator ModelGenericIf<E>::handle(Kiv::AttributeId id, Cursor* c) const {
  return AttributeIterator{GenericConst(this), id, c};
}

template <class E>
typename ModelGenericIf<E>::AttributeIterator ModelGenericIf<E>::attributeIteratorConst(Kiv::AttributeId id) const {
  Cursor* const c = entity_ ? ModelAccess<E>::cursor(*entity_, id, nullptr) : nullptr;
  return c ? handle(id, c) : Kiv::GenericIfEntity::attributeIteratorConst(id);
}

template <class E>
typename ModelGenericIf<E>::AttributeIterator ModelGenericIf<E>::attributeIteratorKeyConst(
    Kiv::AttributeId id, GenericConst const& key) const {
  Cursor* const c = entity_ ? ModelAccess<E>::cursor(*entity_, id, &key) : nullptr;
  return c ? handle(id, c) : Kiv::GenericIfEntity::attributeIteratorKeyConst(id, key);
}

template <class E>
Cursor& ModelGenericIf<E>::cursorOf(AttributeIterator const& it) const {
  if (it.adapter.ptr() != this || !it.state) throwTypeException(attributeString(it.attributeId));
  return *static_cast<Cursor*>(it.state);
}

template <class E>
GenericConst ModelGenericIf<E>::attributeIterator_iterObj(AttributeIterator const& it) const {
  Cursor const& c = cursorOf(it);
  return c.nonNull() ? GenericConst(c.member(const_)) : GenericConst();
}

template <class E>
GenericPtr ModelGenericIf<E>::attributeIterator_iterObj(AttributeIterator const& it) {
  Cursor const& c = cursorOf(it);
  return c.nonNull() ? c.member(const_) : GenericPtr();
}

template <class E>
void ModelGenericIf<E>::attributeIterator_iterInc(AttributeIterator& it) const {
  Cursor& c = cursorOf(it);
  if (c.nonNull()) c.next();
}

template <class E>
GenericPtr ModelGenericIf<E>::attributeIterator_iterKey(AttributeIterator const& it) const {
  Cursor const& c = cursorOf(it);
  return c.nonNull() ? c.key() : GenericPtr();
}

template <class E>
typename ModelGenericIf<E>::AttributeIterator ModelGenericIf<E>::attributeIterator_iterClone(
    AttributeIterator const& it) const {
  return handle(it.attributeId, cursorOf(it).clone());
}

template <class E>
bool ModelGenericIf<E>::attributeIterator_nonNull(AttributeIterator const& it) const {
  return cursorOf(it).nonNull();
}

template <class E>
void ModelGenericIf<E>::attributeIterator_iterDel(AttributeIterator& it) const {
  // Runs from destructors: a handle of another adapter is only emptied.
  if (it.adapter.ptr() == this) delete static_cast<Cursor*>(it.state);
  it.state = nullptr;
}

// --- Type objects

template <class E, class K>
ModelEntityType<E, K>::~ModelEntityType() = default;

template <class E, class K>
GenericPtr ModelEntityType<E, K>::genericIf_(Kiv::PtrInterface* object, bool isConst) const {
  return Kiv::make<ModelGenericIf<E>>(Kiv::Ptr<E>(dynamic_cast<E*>(object)), isConst);
}

template <class E, class K>
GenericPtr ModelEntityType<E, K>::genericIf(GenericConst const& arguments, bool isConst) const {
  GenericIf::List_ const& list = Kiv::argumentList(arguments);
  Kiv::String8 const argument = constructorArgs().empty() ? Kiv::String8("name") : constructorArgs().front().name;
  K const key = ModelValue<K>::of(list.at(0), argument);
  Kiv::requireArgumentsAtMost(list, 1, name());
  return genericIf_(Kiv::make<E>(key).ptr(), isConst);
}

template <class E, class K>
GenericPtr ModelEntityType<E, K>::genericIfFromStrep(Kiv::String8 const& text, bool isConst) const {
  return genericIf_(Kiv::strepToEntity<E>(text).ptr(), isConst);
}

template class ModelEntityType<Topology::TopoPortConfig, Pyrel::IntfId>;
template class ModelEntityType<Topology::TopoConfig, Kiv::Name>;
template class ModelEntityType<Topology::Config, Kiv::Name>;
template class ModelEntityType<Topology::TopoPortStatus, Pyrel::IntfId>;
template class ModelEntityType<Topology::Inst::TopoStatus, Kiv::Name>;
template class ModelEntityType<Topology::Inst::Status, Kiv::Name>;
template class ModelEntityType<VlanConfig, VlanId>;
template class ModelEntityType<Config, Kiv::Name>;
template class ModelEntityType<FdbStatus, Fid>;
template class ModelEntityType<Status, Kiv::Name>;

// --- Learned hosts

LearnedHostType::~LearnedHostType() = default;

GenericPtr LearnedHostType::genericIfOfValue(void const* value, bool isConst) const {
  if (!value) Kiv::throwNullValidPtr();
  return Kiv::make<LearnedHostGenericIf>(*static_cast<LearnedHost const*>(value), isConst);
}

GenericPtr LearnedHostType::genericIf(GenericConst const& arguments, bool isConst) const {
  GenericIf::List_ const& list = Kiv::argumentList(arguments);
  if (list.size() == 0) return Kiv::make<LearnedHostGenericIf>(LearnedHost(), isConst);
  Pyrel::EthAddr const addr = ModelValue<Pyrel::EthAddr>::of(list.at(0), "addr");
  Pyrel::IntfId const intf = ModelValue<Pyrel::IntfId>::of(list.at(1), "intf");
  Kiv::requireArgumentsAtMost(list, 2, "LearnedHost");
  return Kiv::make<LearnedHostGenericIf>(LearnedHost(addr, intf), isConst);
}

GenericPtr LearnedHostType::genericIfFromStrep(Kiv::String8 const& text, bool isConst) const {
  return Kiv::make<LearnedHostGenericIf>(Kiv::strepToValue<LearnedHost>(text), isConst);
}

LearnedHostGenericIf::~LearnedHostGenericIf() = default;

GenericPtr LearnedHostGenericIf::attributeOp(AttributeOp const& op, GenericConst const& index,
                                             GenericPtr const& value) {
  requireModifiable(op.code);
  LearnedHost const& host = this->value();
  switch (op.attributeId) {
    case addrAttrId:
      return Kiv::scalarAttributeOp<Pyrel::EthAddr>(
          *this, "addr", op, index, value, [&] { return host.addr(); },
          [&](Pyrel::EthAddr const& v) { valueIs(LearnedHost(v, host.intf())); }, &ModelValue<Pyrel::EthAddr>::of);
    case intfAttrId:
      return Kiv::scalarAttributeOp<Pyrel::IntfId>(
          *this, "intf", op, index, value, [&] { return host.intf(); },
          [&](Pyrel::IntfId const& v) { valueIs(LearnedHost(host.addr(), v)); }, &ModelValue<Pyrel::IntfId>::of);
    default:
      return Kiv::Builtin<LearnedHost>::attributeOp(op, index, value);
  }
}

GenericPtr LearnedHostGenericIf::clone() const { return Kiv::make<LearnedHostGenericIf>(value(), isConst()); }

}  // namespace Bridging::detail
