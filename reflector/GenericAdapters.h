#pragma once
// The reflector types as the runtime's registry and its generic tools see
// them: the type objects (_Type) of the three reflector classes, and the
// generic adapters (GenericIf_) through which a tool builds a reflector
// tree from five references (or a topology or port reflector of its own from
// its constructor arguments), reads the reflectors' attributes by id, sets
// their state, calls their handlers, and walks and changes their child
// collections, with no compiled-in knowledge of the classes.
//
//   auto type = Kiv::KivType::typeNode("Bridging::StateReflector");
//   auto root = type->genericIf(Kiv::GenericIf::list({config, status, brConfig, brStatus, clock}), false);
//   auto topo = root->attributeOp({135, Kiv::GenericIf::opGet}, Kiv::Builtin<Kiv::String8>::genericIf("t"), nullptr);
//   topo->attributeOp({138, Kiv::GenericIf::opGet}, Kiv::GenericIf::list({port}), nullptr);  // handleTopoPortConfig
//
// What an adapter serves, by kind of attribute (the ids are the classes'
// xAttrId constants):
//   references (constructor parameters)  0: an adapter of the object, or null
//   keys (intfId, name)                  0: the value
//   state (initialized, lastFdbFlush)    0: the value; 128: set through the setter
//   handlers                             0: call, the index being the argument list
//   child collections                    0: the member of the key in the index, or
//     (topoStateReflector,                  null; 1: the member count; 2: the change
//      topoPortStateReflector)              counter; 3: whether the key has a member;
//                                           128: the member made or found from the
//                                           argument list in the value; 129: the
//                                           member removed by key, or null
// Any other code is refused, and so is an index where the attribute takes
// none. Ids of no attribute, and the id 0 attributes (kivFwkActivity,
// fwkKey, hasNotificationActiveIs, kivDoZombieReactors), go to
// Kiv::GenericIfPtrInterface, which refuses them. A const adapter refuses
// every modifying code (128 to 255) before it looks at anything else; it
// may call handlers.
//
// Argument lists hold the arguments in declared order (the rows of the
// _Type classes below). An argument that is missing (the list is shorter)
// or of another type is the type error naming it; one more than declared
// is the unknown-argument error naming the function, collection or type.
// A reference argument is an adapter of its object, or an element that
// holds no value for None.
//
// Text: a reflector has no name of its own, so no text finds one. A
// reference to a reflector reads as an entity reference does (None, or an
// entity's full name); only None, an adapter of no reflector, comes back,
// and a name, which always names an entity, is refused.
//
// Writes go through the reflectors' own setters and collection operations,
// so they have exactly the effects of the same compiled calls. An adapter
// keeps its reflector alive, and an iterator keeps its adapter.
// Everything runs on the one activity thread.
#include <cstdint>

#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "Kiv/TypeRegistration.h"
#include "Kiv/Types.h"
#include "reflector/TopoStateReflector.h"

namespace Bridging {

// --- Type objects

// What the three type objects share: wrapping a reflector of class R and
// reading a reference to one from text.
template <class R>
class BRIDGING_API ReflectorType : public Kiv::KivType {
 public:
  using Kiv::KivType::genericIf;
  using Kiv::KivType::KivType;
  ~ReflectorType() override;

  // A new adapter of R::GenericIf_ for `object`: an adapter of no reflector
  // when the object is null or not an R.
  Kiv::Ptr<Kiv::GenericIf> genericIf_(Kiv::PtrInterface* object, bool isConst) const override;
  // The adapter of the reflector that the text refers to
  // (Kiv::strepToValue<Kiv::Ptr<R>>): only None reads, as an adapter of no
  // reflector.
  Kiv::Ptr<Kiv::GenericIf> genericIfFromStrep(Kiv::String8 const& text, bool isConst) const override;
};

class BRIDGING_API TopoPortStateReflector::_Type : public ReflectorType<TopoPortStateReflector> {
 public:
  using ReflectorType::ReflectorType;
  ~_Type() override;

  // The constructor parameters, which are also the arguments of a new
  // member of a topology reflector's topoPortStateReflector.
  static constexpr Kiv::ArgumentRow constructorArguments[] = {
      {"intfId", "Pyrel::IntfId"},
      {"topoPortConfig", "Bridging::Topology::TopoPortConfig"},
      {"topoPortStatus", "Bridging::Topology::TopoPortStatus"},
      {"brConfig", "Bridging::Config"},
      {"brStatus", "Bridging::Status"},
      {"brTopoConfig", "Bridging::Topology::Config"},
      {"topoConfig", "Bridging::Topology::TopoConfig"},
      {"clock", "Kiv::Clock"},
      {"fdbClock", "Kiv::Clock"},
  };

  // A port reflector of its own, made from the argument list
  // (constructorArguments) as a topology reflector makes one, its
  // notification on; one argument more is the unknown-argument error
  // "TopoPortStateReflector".
  using ReflectorType::genericIf;
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
};

class BRIDGING_API TopoStateReflector::_Type : public ReflectorType<TopoStateReflector> {
 public:
  using ReflectorType::ReflectorType;
  ~_Type() override;

  // The constructor parameters, which are also the arguments of a new
  // member of the system reflector's topoStateReflector.
  static constexpr Kiv::ArgumentRow constructorArguments[] = {
      {"name", "Kiv::String"},
      {"topoConfig", "Bridging::Topology::TopoConfig"},
      {"topoStatus", "Bridging::Topology::Inst::TopoStatus"},
      {"brConfig", "Bridging::Config"},
      {"brStatus", "Bridging::Status"},
      {"brTopoConfig", "Bridging::Topology::Config"},
      {"clock", "Kiv::Clock"},
  };
  // The argument of the handlers that sync one port.
  static constexpr Kiv::ArgumentRow portArguments[] = {{"intfId", "Pyrel::IntfId"}};

  // A topology reflector of its own, made from the argument list as the
  // system reflector makes one (see TopoPortStateReflector::_Type).
  using ReflectorType::genericIf;
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
};

class BRIDGING_API StateReflector::_Type : public ReflectorType<StateReflector> {
 public:
  using ReflectorType::genericIf;
  using ReflectorType::ReflectorType;
  ~_Type() override;

  // The constructor parameters: the arguments of stateReflectorFactory.
  static constexpr Kiv::ArgumentRow constructorArguments[] = {
      {"config", "Bridging::Topology::Config"},
      {"status", "Bridging::Topology::Inst::Status"},
      {"brConfig", "Bridging::Config"},
      {"brStatus", "Bridging::Status"},
      {"clock", "Kiv::Clock"},
  };
  // The argument of the handlers that sync one topology.
  static constexpr Kiv::ArgumentRow topologyArguments[] = {{"name", "Kiv::String"}};

  // A new reflector tree, made by stateReflectorFactory from the five
  // references of the argument list (constructorArguments); a sixth
  // argument is the unknown-argument error "StateReflector". The adapter
  // has the const flag asked for.
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
};

// --- Adapters

// What the three adapters share: the counted reflector (null for an
// adapter of none, which only the base serves) and the const flag, typed
// access, and the copying and replacing of the wrapped reflector.
template <class R>
class BRIDGING_API ReflectorGenericIf : public Kiv::GenericIfPtrInterface {
 public:
  ~ReflectorGenericIf() override;

  R* reflector() const noexcept { return reflector_.ptr(); }

  bool isConst() const override;
  // R's type, also for an adapter of no reflector.
  Kiv::Ptr<Kiv::KivType> objectType() const override;
  // The reflector as R's type or as Kiv::PtrInterface; any other type, or
  // an adapter of no reflector, is the type error naming R's class
  // ("StateReflector", "TopoStateReflector", "TopoPortStateReflector").
  void* castTo(Kiv::Ptr<Kiv::KivType> const& type) const override;

  // A new adapter of the same reflector with the same const flag.
  Kiv::Ptr<Kiv::GenericIf> clone() const override;
  Kiv::PtrInterface* object() const override;
  // Wraps `object` (null allowed) instead and returns the reflector wrapped
  // before. An object that is not an R is the type error naming R's class,
  // and the adapter keeps its reflector.
  Kiv::Ptr<Kiv::PtrInterface> objectIs(Kiv::Ptr<Kiv::PtrInterface> const& object) override;

 protected:
  ReflectorGenericIf(Kiv::Ptr<R> const& reflector, bool isConst);

 private:
  bool const const_;
  Kiv::Ptr<R> reflector_;
};

namespace detail {
// How an adapter reaches a child collection (GenericAdapters.cpp).
struct TopoPortStateReflectorMembers;
struct TopoStateReflectorMembers;
}  // namespace detail

// What the adapters of the two reflectors with a child collection add: the
// collection's operations and its iterators. Members describes the
// collection: the owner R, the member class, the key, the attribute's id
// and name and the operations on R.
//
// The collection's iterators walk the members in the collection's order
// and yield each member's adapter and key. A key iterator stands on the
// member of that key, or at the end when there is none; a key of another
// type is the type error naming the key ("name", "intfId"). Members
// removed meanwhile are skipped; one made meanwhile may or may not be
// visited. A handle of another attribute or adapter is the type error
// naming the collection. Ids other than the collection's go to the base.
template <class R, class Members>
class BRIDGING_API ReflectorParentGenericIf : public ReflectorGenericIf<R> {
 public:
  using AttributeOp = Kiv::GenericIf::AttributeOp;
  using AttributeIterator = Kiv::GenericIf::AttributeIterator;

  ~ReflectorParentGenericIf() override;

  AttributeIterator attributeIteratorConst(Kiv::AttributeId id) const override;
  AttributeIterator attributeIteratorKeyConst(Kiv::AttributeId id,
                                              Kiv::Ptr<Kiv::GenericIf const> const& key) const override;
  Kiv::Ptr<Kiv::GenericIf const> attributeIterator_iterObj(AttributeIterator const& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterObj(AttributeIterator const& it) override;
  void attributeIterator_iterInc(AttributeIterator& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterKey(AttributeIterator const& it) const override;
  AttributeIterator attributeIterator_iterClone(AttributeIterator const& it) const override;
  bool attributeIterator_nonNull(AttributeIterator const& it) const override;
  // Frees the iterator; a handle that is not this adapter's is only
  // emptied. Never throws: it runs from destructors.
  void attributeIterator_iterDel(AttributeIterator& it) const override;

 protected:
  using ReflectorGenericIf<R>::ReflectorGenericIf;
  // Serves the collection attribute of `owner` (see the file comment).
  Kiv::Ptr<Kiv::GenericIf> collectionOp(R& owner, AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                        Kiv::Ptr<Kiv::GenericIf> const& value);
};

class BRIDGING_API TopoPortStateReflector::GenericIf_ : public ReflectorGenericIf<TopoPortStateReflector> {
 public:
  GenericIf_(Kiv::Ptr<TopoPortStateReflector> const& reflector, bool isConst);
  ~GenericIf_() override;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
};

class BRIDGING_API TopoStateReflector::GenericIf_
    : public ReflectorParentGenericIf<TopoStateReflector, detail::TopoPortStateReflectorMembers> {
 public:
  GenericIf_(Kiv::Ptr<TopoStateReflector> const& reflector, bool isConst);
  ~GenericIf_() override;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
};

class BRIDGING_API StateReflector::GenericIf_
    : public ReflectorParentGenericIf<StateReflector, detail::TopoStateReflectorMembers> {
 public:
  GenericIf_(Kiv::Ptr<StateReflector> const& reflector, bool isConst);
  ~GenericIf_() override;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
};

}  // namespace Bridging

namespace Kiv {

// References to reflectors, read from text (see the file comment): None
// gives null; any other text is refused with a range exception.
template <>
BRIDGING_API Ptr<Bridging::TopoPortStateReflector> strepToValue<Ptr<Bridging::TopoPortStateReflector>>(
    String8 const& s);
template <>
BRIDGING_API Ptr<Bridging::TopoStateReflector> strepToValue<Ptr<Bridging::TopoStateReflector>>(String8 const& s);
template <>
BRIDGING_API Ptr<Bridging::StateReflector> strepToValue<Ptr<Bridging::StateReflector>>(String8 const& s);

}  // namespace Kiv
