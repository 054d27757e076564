#pragma once
// The bridging model as the runtime's registry and its generic tools see
// it: the type objects of its entities and values, and the generic adapters
// through which a tool builds and changes a model by attribute id, with no
// compiled-in knowledge of the classes (Lumo/Registration.h lists the
// types and attributes).
//
//   auto config = Kiv::KivType::typeNode("Bridging::Topology::Config")
//                     ->genericIf(Kiv::GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("topo")}), false);
//   auto blue = config->attributeOp({258, Kiv::GenericIf::opSet}, nullptr,
//                                   Kiv::GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("blue")}));
//   config->attributeOp({259, Kiv::GenericIf::opSet}, Kiv::Builtin<int>::genericIf(10), blue);  // vidToTopoMap
//
// What an entity adapter serves, by kind of attribute:
//   keys (intfId, vlanId, fid)           0: the value
//   state (state, fdbFlush, ...)         0: the value; 128: store it through the mutator
//   collections                          0: the member or value of the key in the index,
//                                           or null; 1: the count; 3: whether the key is
//                                           there; 129: remove the key's member or value
//                                           and return it (null when absent)
//     of entities (topoConfig, ...)      128: the member of the key in the argument list
//                                           of the value (or in the index, the value
//                                           null or None), made when absent
//     of values (vidToTopoMap,           128: store the value under the key in the index
//      learnedHost)
// Collections are walked with attributeIteratorConst / attributeIteratorKeyConst
// in the model's order; a key iterator stands at the end when the key is
// absent. Entity adapters also serve what every entity has (name, parent).
//
// Values are taken in their own generic type or in a plain form: a VLAN id
// or forwarding database id as any integer; an interface, an Ethernet
// address or a port state as a string ('Ethernet1', '00:1c:73:00:00:01',
// 'forwarding'); a topology name as a string or a name. A value outside
// what the model takes (a VLAN id of 0, an address that does not parse, an
// empty interface name) is the range error naming the attribute or
// argument; a value of another type is the type error naming it. Nothing
// is changed by a refused operation.
//
// Writes go through the entities' own mutators, so observers hear of them
// as of any compiled change; an entity adapter hears of every change of its
// entity, whoever made it, and passes it to its attribute sink with the
// attribute id (and the member's key, in its generic form). An adapter keeps its entity alive, and an
// iterator keeps its adapter. Everything runs on the one activity thread.
#include <cstdint>
#include <optional>
#include <utility>

#include "Kiv/Export.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Lumo/Types.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"

namespace Kiv {
template <>
struct LUMO_API ValueType<Bridging::Topology::PortState, void> {
  static Ptr<KivType> type();
};
}  // namespace Kiv

namespace Bridging::detail {

// The value of a generic value `g` given for the attribute or argument
// `name`, as a T: the model's own values and their plain forms (above);
// anything else is the type or range error naming `name`.
template <class T>
struct ModelValue {
  static T of(Kiv::Ptr<Kiv::GenericIf const> const& g, Kiv::String8 const& name);
};
#define LUMO_MODEL_VALUE(T)                                                         \
  template <>                                                                       \
  struct LUMO_API ModelValue<T> {                                                   \
    static T of(Kiv::Ptr<Kiv::GenericIf const> const& g, Kiv::String8 const& name); \
  }
LUMO_MODEL_VALUE(VlanId);
LUMO_MODEL_VALUE(Fid);
LUMO_MODEL_VALUE(Topology::PortState);
LUMO_MODEL_VALUE(Pyrel::IntfId);
LUMO_MODEL_VALUE(Pyrel::EthAddr);
#undef LUMO_MODEL_VALUE

template <class T>
T ModelValue<T>::of(Kiv::Ptr<Kiv::GenericIf const> const& g, Kiv::String8 const& name) {
  std::optional<T> v = Kiv::genericValueOf<T>(g);
  if (!v) Kiv::GenericIf::throwTypeException(name);
  return *std::move(v);
}

// A position in one collection attribute of an entity, whatever the
// collection's iterator: the state of an adapter's iterator handle.
class Cursor {
 public:
  virtual ~Cursor();
  virtual bool nonNull() const = 0;
  virtual void next() = 0;
  // The member (an adapter of the entity, or the value) and its key.
  virtual Kiv::Ptr<Kiv::GenericIf> member(bool isConst) const = 0;
  virtual Kiv::Ptr<Kiv::GenericIf> key() const = 0;
  virtual Cursor* clone() const = 0;
};

// The observer half of an entity adapter: a weak observer of the entity
// that tells the adapter of each change, onAttribute(id) for a scalar
// attribute and onAttribute(id, key) for a collection member. When the
// adapter ends it is detached and forgets the adapter.
template <class E>
class ModelObserverBase : public E::Notifiee {
 public:
  explicit ModelObserverBase(Kiv::GenericIf* owner);
  ~ModelObserverBase() override;
  void kivRetire();

 protected:
  void tell(Kiv::AttributeId id);
  template <class K>
  void tell(Kiv::AttributeId id, K const& key);

 private:
  Kiv::GenericIf* owner_;  // non-owning back pointer: the adapter owns this observer
};

// One per entity class, with a callback per attribute of the class.
template <class E>
class ModelObserver : public ModelObserverBase<E> {
 public:
  using ModelObserverBase<E>::ModelObserverBase;
};

// The generic adapter of a model entity of class E: the entity (null for
// an adapter of none, which only the base serves), the const flag, and the
// observer that reports the entity's changes to onAttribute(), and so to
// the adapter's attribute sink.
template <class E>
class ModelGenericIf : public Kiv::GenericIfEntity {
 public:
  ModelGenericIf(Kiv::Ptr<E> const& entity, bool isConst);
  ~ModelGenericIf() override;

  bool isConst() const override;
  Kiv::PtrInterface* object() const override;
  Kiv::Ptr<Kiv::KivType> objectType() const override;
  Kiv::Ptr<Kiv::GenericIf> clone() const override;
  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;

  AttributeIterator attributeIteratorConst(Kiv::AttributeId id) const override;
  AttributeIterator attributeIteratorKeyConst(Kiv::AttributeId id,
                                              Kiv::Ptr<Kiv::GenericIf const> const& key) const override;
  Kiv::Ptr<Kiv::GenericIf const> attributeIterator_iterObj(AttributeIterator const& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterObj(AttributeIterator const& it) override;
  void attributeIterator_iterInc(AttributeIterator& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterKey(AttributeIterator const& it) const override;
  AttributeIterator attributeIterator_iterClone(AttributeIterator const& it) const override;
  bool attributeIterator_nonNull(AttributeIterator const& it) const override;
  void attributeIterator_iterDel(AttributeIterator& it) const override;

 private:
  // The cursor of a handle made by this adapter, or the type error naming
  // the handle's attribute.
  Cursor& cursorOf(AttributeIterator const& it) const;
  AttributeIterator handle(Kiv::AttributeId id, Cursor* cursor) const;

  Kiv::Ptr<E> entity_;
  bool const const_;
  Kiv::Ptr<ModelObserver<E>> observer_;
};

// The type object of model entity class E, whose constructor takes one key
// K (its name, interface, VLAN id or forwarding database id).
template <class E, class K>
class ModelEntityType : public Kiv::KivType {
 public:
  using Kiv::KivType::genericIf;
  using Kiv::KivType::KivType;
  ~ModelEntityType() override;

  // An adapter of `object`; one of no entity when it is null or not an E.
  Kiv::Ptr<Kiv::GenericIf> genericIf_(Kiv::PtrInterface* object, bool isConst) const override;
  // A new entity from the argument list (its key): a missing key or one of
  // another type is the error naming the constructor argument; a further
  // argument is the unknown-argument error naming the type.
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
  // The adapter of the entity that the text refers to (its full name, or
  // None); an entity of another class is refused.
  Kiv::Ptr<Kiv::GenericIf> genericIfFromStrep(Kiv::String8 const& text, bool isConst) const override;
};

// The type object of Bridging::LearnedHost: a value with the attributes 2
// addr and 3 intf, made from (addr, intf) or from no argument (the
// default host), or from its text form.
class LearnedHostType : public Kiv::KivType {
 public:
  using Kiv::KivType::genericIf;
  using Kiv::KivType::KivType;
  ~LearnedHostType() override;

  Kiv::Ptr<Kiv::GenericIf> genericIfOfValue(void const* value, bool isConst) const override;
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
  Kiv::Ptr<Kiv::GenericIf> genericIfFromStrep(Kiv::String8 const& text, bool isConst) const override;
};

// A learned host as a generic value: 0 compares (256, 257), 2 addr and 3
// intf read the fields and write the adapter's own copy.
class LearnedHostGenericIf : public Kiv::Builtin<LearnedHost> {
 public:
  using Kiv::Builtin<LearnedHost>::Builtin;
  ~LearnedHostGenericIf() override;

  static constexpr Kiv::AttributeId addrAttrId = 2;
  static constexpr Kiv::AttributeId intfAttrId = 3;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
  Kiv::Ptr<Kiv::GenericIf> clone() const override;
};

}  // namespace Bridging::detail
