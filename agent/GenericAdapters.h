#pragma once
// The agent model's types as the runtime's registry and its generic tools
// see them: the type objects (_Type) of the tap device, the configuration
// and the status, and the generic adapters (GenericIf_) through which a
// tool reads and writes their attributes by id, makes instances from
// argument lists or text, and walks the tap device collection.
//
//   auto type = Kiv::KivType::typeNode("Bridging::Orva::Config");
//   auto config = type->genericIf(Kiv::GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("c")}), false);
//   config->attributeOp({259, Kiv::GenericIf::opSet}, nullptr, Kiv::Builtin<bool>::genericIf(true));
//
// Attributes an adapter serves (other ids go to its base):
//   tap device   0 (the value: 256 equal, 257 unequal, 262 default),
//                2 name, 3 fileno (writes change the adapter's own copy)
//   Config       258 extTapDevice (by a string key: 0 value, 1 count,
//                2 change counter, 3 exists, 128 set, 129 delete),
//                259 complete
//   Status       258 initialized, 259 fabricDeviceName
// A const adapter refuses every modifying code (128 to 255) before it
// looks at anything else. Writes go through the entity's mutators, so
// observers hear of them as of any other change.
//
// An entity adapter keeps its entity alive and watches it through its
// GenericIf_Adapter_, a weak observer that forwards each change to the
// adapter's onAttribute(), or lets the runtime defer it (kivOnAttribute)
// and replays it when the runtime delivers it (handleNotification).
// Everything runs on the one activity thread.
#include <cstdint>
#include <utility>

#include "Kiv/Dir.h"
#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Notifiee.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "agent/Config.h"
#include "agent/Status.h"

namespace Bridging::Orva {

// --- Type objects

class BRIDGING_API Config::TapDevice::_Type : public Kiv::KivType {
 public:
  using Kiv::KivType::genericIf;
  using Kiv::KivType::KivType;
  ~_Type() override;

  // Wraps a copy of the tap device at `value`.
  Kiv::Ptr<Kiv::GenericIf> genericIfOfValue(void const* value, bool isConst) const override;
  // A default tap device, writable, from an empty argument list; any
  // argument is the unknown-argument error "TapDevice".
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
  // Parses the tap device's text form (the whole text).
  Kiv::Ptr<Kiv::GenericIf> genericIfFromStrep(Kiv::String8 const& text, bool isConst) const override;
};

// The type object of agent entity type E, made by the factory Make.
template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
class BRIDGING_API AgentEntityType : public Kiv::KivType {
 public:
  using Kiv::KivType::genericIf;
  using Kiv::KivType::KivType;

  // An adapter of E::GenericIf_ for `object`; one for no entity when the
  // object is null or not an E.
  Kiv::Ptr<Kiv::GenericIf> genericIf_(Kiv::PtrInterface* object, bool isConst) const override;
  // A new entity from the argument list (name): a missing name, or one
  // that is no name, is the type error "name"; a further argument is the
  // unknown-argument error naming the type ("Config", "Status"). The
  // adapter is writable.
  Kiv::Ptr<Kiv::GenericIf> genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments, bool isConst) const override;
  // The adapter of the entity that the text refers to (its full name, or
  // None); an entity of another type is refused.
  Kiv::Ptr<Kiv::GenericIf> genericIfFromStrep(Kiv::String8 const& text, bool isConst) const override;
  // A new entity of that name; the directory is not used.
  Kiv::Ptr<Kiv::Entity> newEntity(Kiv::Name const& name, Kiv::Dir* dir) const override;
  // A new entity named by the next string of an orphan record.
  Kiv::Ptr<Kiv::Entity> newEntity(Kiv::Ptr<Kiv::NboAttrLog::In> const& in) const override;
};

class BRIDGING_API Config::_Type : public AgentEntityType<Config, &configFactory> {
 public:
  using AgentEntityType::AgentEntityType;
  ~_Type() override;
};

class BRIDGING_API Status::_Type : public AgentEntityType<Status, &statusFactory> {
 public:
  using AgentEntityType::AgentEntityType;
  ~_Type() override;
};

// --- Adapters

class BRIDGING_API Config::TapDevice::GenericIf_ : public Kiv::GenericIf {
 public:
  GenericIf_(TapDevice const& value, bool isConst) : value_(value), const_(isConst) {}
  ~GenericIf_() override;

  TapDevice const& value() const noexcept { return value_; }

  bool isConst() const override;
  Kiv::Ptr<Kiv::KivType> objectType() const override;
  // The value, for the tap device type only; else the type error
  // "TapDevice".
  void* castTo(Kiv::Ptr<Kiv::KivType> const& type) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
  Kiv::String8 strRep() const override;
  Kiv::Ptr<Kiv::GenericIf> clone() const override;

 private:
  TapDevice value_;
  bool const const_;
};

template <class E>
class AgentGenericIfObserver;

// What the adapters of the two entities share: the counted entity (null
// for an adapter of no entity; then only the base serves), the const flag,
// the type query and typed access, and the observer that watches the
// entity for the adapter.
template <class E>
class BRIDGING_API AgentEntityGenericIf : public Kiv::GenericIfEntity {
 public:
  ~AgentEntityGenericIf() override;

  E* entity() const noexcept { return entity_.ptr(); }
  // The observer that forwards the entity's changes to this adapter.
  AgentGenericIfObserver<E>* kivGenericIfAdapter() const noexcept { return observer_.ptr(); }

  bool isConst() const override;
  Kiv::PtrInterface* object() const override;
  Kiv::Ptr<Kiv::KivType> objectType() const override;
  // The entity as its own type, as Kiv::Entity or as Kiv::PtrInterface;
  // any other type is the type error naming E ("Config", "Status").
  void* castTo(Kiv::Ptr<Kiv::KivType> const& type) const override;
  // Acts only on a change. Off: remembers whether the adapter was
  // registered and unregisters it; on: registers it again if it was. Then
  // the observer follows.
  void hasNotificationActiveIs(bool active) override;

 protected:
  AgentEntityGenericIf(Kiv::Ptr<E> const& entity, bool isConst);
  // Takes the observer that the derived class made (count 1) for this
  // adapter.
  void kivGenericIfAdapterIs(Kiv::Ptr<AgentGenericIfObserver<E>> observer) { observer_ = std::move(observer); }

 private:
  Kiv::Ptr<E> entity_;
  bool const const_;
  bool wasRegistered_ = false;
  Kiv::Ptr<AgentGenericIfObserver<E>> observer_;
};

// The observer half of an entity adapter (its GenericIf_Adapter_). It is
// born registered and active, joins the back of the entity's notifiee list
// and is a weak reference: the adapter keeps the entity alive, not it. Its
// reactor is the adapter. When the adapter ends it is detached and forgets
// the adapter, so a call that still reaches it forwards nothing.
template <class E>
class BRIDGING_API AgentGenericIfObserver : public E::Notifiee {
 public:
  using Owner = AgentEntityGenericIf<E>;
  using PendingChanges = Kiv::PtrInterface::NotifieeConst::PendingChanges;

  // The adapter, or null once it has gone.
  Owner* owner() const noexcept { return owner_; }
  Kiv::PtrInterface* kivRawReactor() const override;
  // As the adapter's, and then the adapter follows, unless this observer
  // is marked for deletion.
  void hasNotificationActiveIs(bool active) override;

  // Offered as attribute 6; taken at once, only actsm() runs.
  void onIsNondestructing() override;
  // A deferred change, delivered: 6, 258 and 259 replay their callback (258
  // and 259 as the entity's kivReplay says); the two all-attributes ids run
  // the base's handling and then replay 6, 258 and 259, redispatching in
  // between; other ids go to the base.
  void handleNotification(Kiv::AttributeId id) override;

  // The adapter is ending: detaches and forgets it.
  void kivRetire();

 protected:
  explicit AgentGenericIfObserver(Owner* owner);

  // Offers a change of `id` to the runtime; when it is not deferred, runs
  // actsm() and tells the adapter (with `key` for a collection member).
  void offer(Kiv::AttributeId id, PendingChanges* storage = nullptr);
  void offer(Kiv::AttributeId id, Kiv::String8 const& key, PendingChanges* storage);
  // Tells the adapter at once. The adapter is held while it hears.
  void tell(Kiv::AttributeId id);
  void tell(Kiv::AttributeId id, Kiv::String8 const& key);
  // Replays attribute `id` (258 or 259) for a delivery of `delivered`.
  virtual void kivReplay(Kiv::AttributeId id, Kiv::AttributeId delivered) = 0;

 private:
  Owner* owner_;  // non-owning back pointer: the adapter owns this observer
  bool wasRegistered_ = false;
};

class BRIDGING_API Config::GenericIf_ : public AgentEntityGenericIf<Config> {
 public:
  class GenericIf_Adapter_;

  GenericIf_(Kiv::Ptr<Config> const& entity, bool isConst);
  ~GenericIf_() override;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
  Kiv::Ptr<Kiv::GenericIf> clone() const override;

  // Iteration of extTapDevice (258) only; other ids go to the base. A key
  // iterator stands on the member of that key, or at the end when there is
  // none. The iterator yields the key as a string and the member's tap
  // device; a handle of another attribute or adapter is the type error
  // "extTapDevice". Deleting the handle frees the iterator (members are
  // deleted with code 129). No operation invalidates an iterator: one that
  // stands on a member deleted meanwhile still advances to the next.
  AttributeIterator attributeIteratorConst(Kiv::AttributeId id) const override;
  AttributeIterator attributeIteratorKeyConst(Kiv::AttributeId id, Kiv::Ptr<Kiv::GenericIf const> const& key) const override;
  Kiv::Ptr<Kiv::GenericIf const> attributeIterator_iterObj(AttributeIterator const& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterObj(AttributeIterator const& it) override;
  void attributeIterator_iterInc(AttributeIterator& it) const override;
  Kiv::Ptr<Kiv::GenericIf> attributeIterator_iterKey(AttributeIterator const& it) const override;
  AttributeIterator attributeIterator_iterClone(AttributeIterator const& it) const override;
  bool attributeIterator_nonNull(AttributeIterator const& it) const override;
  void attributeIterator_iterDel(AttributeIterator& it) const override;

 private:
  Kiv::Ptr<Kiv::GenericIf> extTapDeviceOp(Config& config, AttributeOp const& op,
                                          Kiv::Ptr<Kiv::GenericIf const> const& index,
                                          Kiv::Ptr<Kiv::GenericIf> const& value);
  // The iterator of a handle made by this adapter for extTapDevice.
};

// Forwards the configuration's changes. A member change remembers its key;
// while the runtime defers, the changes are counted, and the delivery
// replays one change with its key and several as one change without.
class BRIDGING_API Config::GenericIf_::GenericIf_Adapter_ : public AgentGenericIfObserver<Config> {
 public:
  explicit GenericIf_Adapter_(Owner* owner) : AgentGenericIfObserver(owner) {}
  ~GenericIf_Adapter_() override;

  void onExtTapDevice(Kiv::String8 key) override;
  // Not offered: told at once, without a key.
  void onExtTapDevice() override;
  void onComplete() override;

  // The key of the last member change, and the count of changes deferred
  // since the last delivery of 258.
  Kiv::String8 const& lastKey() const noexcept { return lastKey_; }
  std::uint32_t pendingChanges() const noexcept { return pending_.count; }

 protected:
  void kivReplay(Kiv::AttributeId id, Kiv::AttributeId delivered) override;

 private:
  Kiv::String8 lastKey_;
  PendingChanges pending_;
};

class BRIDGING_API Status::GenericIf_ : public AgentEntityGenericIf<Status> {
 public:
  class GenericIf_Adapter_;

  GenericIf_(Kiv::Ptr<Status> const& entity, bool isConst);
  ~GenericIf_() override;

  Kiv::Ptr<Kiv::GenericIf> attributeOp(AttributeOp const& op, Kiv::Ptr<Kiv::GenericIf const> const& index,
                                       Kiv::Ptr<Kiv::GenericIf> const& value) override;
  Kiv::Ptr<Kiv::GenericIf> clone() const override;
};

class BRIDGING_API Status::GenericIf_::GenericIf_Adapter_ : public AgentGenericIfObserver<Status> {
 public:
  explicit GenericIf_Adapter_(Owner* owner) : AgentGenericIfObserver(owner) {}
  ~GenericIf_Adapter_() override;

  void onInitialized() override;
  void onFabricDeviceName() override;

 protected:
  void kivReplay(Kiv::AttributeId id, Kiv::AttributeId delivered) override;
};

}  // namespace Bridging::Orva
