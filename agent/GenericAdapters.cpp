#include "agent/GenericAdapters.h"

#include <utility>

#include "Kiv/Exception.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/Strep.h"

namespace Bridging::Orva {

namespace {

// The entity's own attributes: 258 and 259 in both entity types.
constexpr Kiv::AttributeId firstOwnAttrId = 258;
constexpr Kiv::AttributeId secondOwnAttrId = 259;
static_assert(Config::extTapDeviceAttrId == firstOwnAttrId && Status::initializedAttrId == firstOwnAttrId);
static_assert(Config::completeAttrId == secondOwnAttrId && Status::fabricDeviceNameAttrId == secondOwnAttrId);

// Switches the notification of an adapter or of its observer, on a real
// change only. Off: remembers whether `n` was registered and unregisters
// it; on: registers it again if it was. Returns whether anything changed,
// that is, whether the partner is to follow.
bool switchNotification(Kiv::PtrInterface::NotifieeConst& n, bool active, bool& wasRegistered) {
  if (active == n.hasNotificationActive()) return false;
  n.Kiv::PtrInterface::hasNotificationActiveIs(active);
  if (!active) {
    wasRegistered = n.isRegisteredNotifiee();
    n.isRegisteredNotifieeIs(false);
  } else if (wasRegistered) {
    n.isRegisteredNotifieeIs(true);
  }
  return true;
}

}  // namespace

// --- Type objects

Config::TapDevice::_Type::~_Type() = default;

Kiv::Ptr<Kiv::GenericIf> Config::TapDevice::_Type::genericIfOfValue(void const* value, bool isConst) const {
  if (!value) Kiv::throwNullValidPtr();
  return Kiv::make<GenericIf_>(*static_cast<TapDevice const*>(value), isConst);
}

Kiv::Ptr<Kiv::GenericIf> Config::TapDevice::_Type::genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments,
                                                             bool) const {
  Kiv::requireArgumentsAtMost(Kiv::argumentList(arguments), 0, "TapDevice");
  return Kiv::make<GenericIf_>(TapDevice(), false);
}

Kiv::Ptr<Kiv::GenericIf> Config::TapDevice::_Type::genericIfFromStrep(Kiv::String8 const& text, bool isConst) const {
  return Kiv::make<GenericIf_>(Kiv::strepToValue<TapDevice>(text), isConst);
}

template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
Kiv::Ptr<Kiv::GenericIf> AgentEntityType<E, Make>::genericIf_(Kiv::PtrInterface* object, bool isConst) const {
  return Kiv::make<typename E::GenericIf_>(Kiv::Ptr<E>(dynamic_cast<E*>(object)), isConst);
}

template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
Kiv::Ptr<Kiv::GenericIf> AgentEntityType<E, Make>::genericIf(Kiv::Ptr<Kiv::GenericIf const> const& arguments,
                                                             bool) const {
  auto const& list = Kiv::argumentList(arguments);
  Kiv::Name const name = Kiv::argument<Kiv::Name>(list, 0, "name");
  Kiv::requireArgumentsAtMost(list, 1, this->name());
  Kiv::Ptr<E> const entity = Make(name);
  return Kiv::KivType::genericIf(entity.ptr(), false);
}

template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
Kiv::Ptr<Kiv::GenericIf> AgentEntityType<E, Make>::genericIfFromStrep(Kiv::String8 const& text, bool isConst) const {
  Kiv::Ptr<E> const entity = Kiv::strepToValue<Kiv::Ptr<E>>(text);
  return genericIf_(entity.ptr(), isConst);
}

template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
Kiv::Ptr<Kiv::Entity> AgentEntityType<E, Make>::newEntity(Kiv::Name const& name, Kiv::Dir*) const {
  return Make(name);
}

template <class E, Kiv::Ptr<E> (*Make)(Kiv::Name)>
Kiv::Ptr<Kiv::Entity> AgentEntityType<E, Make>::newEntity(Kiv::Ptr<Kiv::NboAttrLog::In> const& in) const {
  if (!in) Kiv::throwNullValidPtr();
  return Make(Kiv::Name(in->nextString()));
}

template class AgentEntityType<Config, &configFactory>;
template class AgentEntityType<Status, &statusFactory>;

Config::_Type::~_Type() = default;
Status::_Type::~_Type() = default;

// --- The tap device adapter

Config::TapDevice::GenericIf_::~GenericIf_() = default;

bool Config::TapDevice::GenericIf_::isConst() const { return const_; }

Kiv::Ptr<Kiv::KivType> Config::TapDevice::GenericIf_::objectType() const { return TapDevice::_fwkType(); }

void* Config::TapDevice::GenericIf_::castTo(Kiv::Ptr<Kiv::KivType> const& type) const {
  if (type != TapDevice::_fwkType()) throwTypeException("TapDevice");
  return const_cast<TapDevice*>(&value_);
}

Kiv::Ptr<Kiv::GenericIf> Config::TapDevice::GenericIf_::attributeOp(AttributeOp const& op,
                                                                    Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                                    Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  switch (op.attributeId) {
    case 0: {
      if (op.code == opIsDefault) return Kiv::genericValue<bool>(value_ == TapDevice(), isConst());
      if (op.code != opEqual && op.code != opNotEqual) break;
      // The other tap device comes as the index or, without one, as the
      // value.
      auto const other = Kiv::genericValueOf<TapDevice>(index ? index : Kiv::Ptr<Kiv::GenericIf const>(value));
      if (!other) throwTypeException("kivOpArg");
      return Kiv::genericValue<bool>((value_ == *other) == (op.code == opEqual), isConst());
    }
    case nameAttrId:
      return Kiv::scalarAttributeOp<Kiv::String8>(
          *this, "name", op, index, value, [this] { return value_.name(); },
          [this](Kiv::String8 const& v) { value_.nameIs(v); });
    case filenoAttrId:
      return Kiv::scalarAttributeOp<unsigned short>(
          *this, "fileno", op, index, value, [this] { return value_.fileno(); },
          [this](unsigned short v) { value_.filenoIs(v); });
    default:
      break;
  }
  return Kiv::GenericIf::attributeOp(op, index, value);
}

Kiv::String8 Config::TapDevice::GenericIf_::strRep() const { return valueToStrep(value_); }

Kiv::Ptr<Kiv::GenericIf> Config::TapDevice::GenericIf_::clone() const {
  return Kiv::make<GenericIf_>(value_, const_);
}

// --- What the entity adapters share

template <class E>
AgentEntityGenericIf<E>::AgentEntityGenericIf(Kiv::Ptr<E> const& entity, bool isConst)
    : entity_(entity), const_(isConst) {}

template <class E>
AgentEntityGenericIf<E>::~AgentEntityGenericIf() {
  if (observer_) observer_->kivRetire();
}

template <class E>
bool AgentEntityGenericIf<E>::isConst() const {
  return const_;
}

template <class E>
Kiv::PtrInterface* AgentEntityGenericIf<E>::object() const {
  return entity_.ptr();
}

template <class E>
Kiv::Ptr<Kiv::KivType> AgentEntityGenericIf<E>::objectType() const {
  return E::_fwkType();
}

template <class E>
void* AgentEntityGenericIf<E>::castTo(Kiv::Ptr<Kiv::KivType> const& type) const {
  Kiv::Ptr<Kiv::KivType> const own = E::_fwkType();
  E* const e = entity_.ptr();
  if (type == own) return e;
  if (type == Kiv::Entity::_fwkType()) return static_cast<Kiv::Entity*>(e);
  if (type == Kiv::KivType::ptrInterfaceType()) return static_cast<Kiv::PtrInterface*>(e);
  throwTypeException(own->name());
}

template <class E>
void AgentEntityGenericIf<E>::hasNotificationActiveIs(bool active) {
  if (!switchNotification(*this, active, wasRegistered_)) return;
  if (observer_) observer_->hasNotificationActiveIs(active);
}

template <class E>
AgentGenericIfObserver<E>::AgentGenericIfObserver(Owner* owner) : owner_(owner) {
  this->isRegisteredNotifieeIs(true);
  this->notifierIs(Kiv::Ptr<Kiv::PtrInterface const>(owner->entity()));
  this->isWeakReferenceIs(true);
}

template <class E>
Kiv::PtrInterface* AgentGenericIfObserver<E>::kivRawReactor() const {
  if (owner_) return owner_;
  return const_cast<AgentGenericIfObserver*>(this);
}

template <class E>
void AgentGenericIfObserver<E>::hasNotificationActiveIs(bool active) {
  if (!switchNotification(*this, active, wasRegistered_)) return;
  if (owner_ && !this->kivMarkedForDeletion()) owner_->hasNotificationActiveIs(active);
}

template <class E>
void AgentGenericIfObserver<E>::onIsNondestructing() {
  if (this->kivOnAttribute(Kiv::Attr::isNondestructing)) return;
  this->actsm();
}

template <class E>
void AgentGenericIfObserver<E>::handleNotification(Kiv::AttributeId id) {
  switch (id) {
    case Kiv::Attr::isNondestructing:
      onIsNondestructing();
      return;
    case firstOwnAttrId:
    case secondOwnAttrId:
      kivReplay(id, id);
      return;
    case Kiv::Attr::allAttributes:
    case Kiv::Attr::allAttributesReset:
      E::Notifiee::handleNotification(id);
      onIsNondestructing();
      this->redispatch();
      kivReplay(firstOwnAttrId, id);
      this->redispatch();
      kivReplay(secondOwnAttrId, id);
      return;
    default:
      E::Notifiee::handleNotification(id);
  }
}

template <class E>
void AgentGenericIfObserver<E>::kivRetire() {
  owner_ = nullptr;
  this->notifierIs(nullptr);
}

template <class E>
void AgentGenericIfObserver<E>::offer(Kiv::AttributeId id, PendingChanges* storage) {
  if (this->kivOnAttribute(id, storage)) return;
  this->actsm();
  tell(id);
}

template <class E>
void AgentGenericIfObserver<E>::offer(Kiv::AttributeId id, Kiv::String8 const& key, PendingChanges* storage) {
  if (this->kivOnAttribute(id, storage)) return;
  this->actsm();
  tell(id, key);
}

template <class E>
void AgentGenericIfObserver<E>::tell(Kiv::AttributeId id) {
  if (!owner_) return;
  // A sink of the adapter may drop what was the last reference to it.
  Kiv::Ptr<Owner> const held(owner_);
  held->onAttribute(id);
}

template <class E>
void AgentGenericIfObserver<E>::tell(Kiv::AttributeId id, Kiv::String8 const& key) {
  if (!owner_) return;
  Kiv::Ptr<Owner> const held(owner_);
  held->onAttribute(id, Kiv::Builtin<Kiv::String8>::genericIf(key));
}

template class AgentEntityGenericIf<Config>;
template class AgentEntityGenericIf<Status>;
template class AgentGenericIfObserver<Config>;
template class AgentGenericIfObserver<Status>;

// --- The configuration's adapter

Config::GenericIf_::GenericIf_(Kiv::Ptr<Config> const& entity, bool isConst) : AgentEntityGenericIf(entity, isConst) {
  kivGenericIfAdapterIs(Kiv::make<GenericIf_Adapter_>(this));
}

Config::GenericIf_::~GenericIf_() = default;

Kiv::Ptr<Kiv::GenericIf> Config::GenericIf_::attributeOp(AttributeOp const& op,
                                                         Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                         Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  Config* const config = entity();
  if (config && op.attributeId == completeAttrId) {
    return Kiv::scalarAttributeOp<bool>(
        *this, "complete", op, index, value, [config] { return config->complete(); },
        [config](bool v) { config->completeIs(v); });
  }
  if (config && op.attributeId == extTapDeviceAttrId) return extTapDeviceOp(*config, op, index, value);
  return GenericIfEntity::attributeOp(op, index, value);
}

Kiv::Ptr<Kiv::GenericIf> Config::GenericIf_::extTapDeviceOp(Config& config, AttributeOp const& op,
                                                            Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                            Kiv::Ptr<Kiv::GenericIf> const& value) {
  switch (op.code) {
    case opCount:
      return Kiv::genericValue<unsigned int>(config.extTapDevices(), isConst());
    case opVersion:
      return Kiv::genericValue<unsigned int>(config.extTapDeviceVersion(), isConst());
    case opGet:
    case opExists:
    case opSet:
    case opDel:
      break;
    default:
      throwOpNotSupportedException("extTapDevice", op.code, false);
  }
  auto const key = Kiv::genericValueOf<Kiv::String8>(index);
  if (!key) throwTypeException("kiv_index");
  switch (op.code) {
    case opGet:
      return Kiv::genericValue(config.extTapDevice(*key), isConst());
    case opExists: {
      auto const it = config.extTapDeviceIteratorConst(*key);
      return Kiv::genericValue<bool>(it && it->key() == *key, isConst());
    }
    case opSet: {
      auto const device = Kiv::genericValueOf<TapDevice>(value);
      if (!device) throwTypeException("extTapDevice");
      config.extTapDeviceIs(*key, *device);
      return nullptr;
    }
    default:  // opDel
      return Kiv::genericValue(config.extTapDeviceDel(*key), isConst());
  }
}

Kiv::Ptr<Kiv::GenericIf> Config::GenericIf_::clone() const {
  return Kiv::make<GenericIf_>(Kiv::Ptr<Config>(entity()), isConst());
}

namespace {
Kiv::IteratorHandles<Config::ExtTapDeviceIteratorConst> const extTapDeviceHandles(Config::extTapDeviceAttrId,
                                                                                  "extTapDevice");
}  // namespace

Kiv::GenericIf::AttributeIterator Config::GenericIf_::attributeIteratorConst(Kiv::AttributeId id) const {
  Config const* const config = entity();
  if (id != extTapDeviceAttrId || !config) return GenericIfEntity::attributeIteratorConst(id);
  return extTapDeviceHandles.make(*this, config->extTapDeviceIteratorConst());
}

Kiv::GenericIf::AttributeIterator Config::GenericIf_::attributeIteratorKeyConst(
    Kiv::AttributeId id, Kiv::Ptr<Kiv::GenericIf const> const& key) const {
  Config const* const config = entity();
  if (id != extTapDeviceAttrId || !config) return GenericIfEntity::attributeIteratorKeyConst(id, key);
  auto const k = Kiv::genericValueOf<Kiv::String8>(key);
  if (!k) throwTypeException("kiv_index");
  return extTapDeviceHandles.make(
      *this, extTapDeviceHandles.exactly(config->extTapDeviceIteratorConst(*k), *k,
                                         [](KivExtTapDevice const& m) { return m.key(); }));
}

Kiv::Ptr<Kiv::GenericIf const> Config::GenericIf_::attributeIterator_iterObj(AttributeIterator const& it) const {
  auto const& i = extTapDeviceHandles.of(*this, it);
  return i ? Kiv::genericValue(i->value(), isConst()) : nullptr;
}

Kiv::Ptr<Kiv::GenericIf> Config::GenericIf_::attributeIterator_iterObj(AttributeIterator const& it) {
  auto const& i = extTapDeviceHandles.of(*this, it);
  return i ? Kiv::genericValue(i->value(), isConst()) : nullptr;
}

void Config::GenericIf_::attributeIterator_iterInc(AttributeIterator& it) const {
  extTapDeviceHandles.increment(*this, it);
}

Kiv::Ptr<Kiv::GenericIf> Config::GenericIf_::attributeIterator_iterKey(AttributeIterator const& it) const {
  auto const& i = extTapDeviceHandles.of(*this, it);
  return i ? Kiv::genericValue(i->key(), isConst()) : nullptr;
}

Kiv::GenericIf::AttributeIterator Config::GenericIf_::attributeIterator_iterClone(AttributeIterator const& it) const {
  return extTapDeviceHandles.clone(*this, it);
}

bool Config::GenericIf_::attributeIterator_nonNull(AttributeIterator const& it) const {
  return extTapDeviceHandles.nonNull(*this, it);
}

void Config::GenericIf_::attributeIterator_iterDel(AttributeIterator& it) const { extTapDeviceHandles.free(*this, it); }

Config::GenericIf_::GenericIf_Adapter_::~GenericIf_Adapter_() = default;

void Config::GenericIf_::GenericIf_Adapter_::onExtTapDevice(Kiv::String8 key) {
  lastKey_ = key;
  offer(extTapDeviceAttrId, key, &pending_);
}

void Config::GenericIf_::GenericIf_Adapter_::onExtTapDevice() { tell(extTapDeviceAttrId); }

void Config::GenericIf_::GenericIf_Adapter_::onComplete() { offer(completeAttrId); }

void Config::GenericIf_::GenericIf_Adapter_::kivReplay(Kiv::AttributeId id, Kiv::AttributeId delivered) {
  if (id == completeAttrId) {
    onComplete();
    return;
  }
  // The changes deferred since the last delivery: one is replayed with its
  // key, several become one change without a key. A reset of all
  // attributes is a change without a key whatever the count.
  std::uint32_t const changes = pending_.count;
  pending_.count = 0;
  if (changes == 1 && delivered != Kiv::Attr::allAttributesReset) {
    onExtTapDevice(lastKey_);
  } else if (changes > 1 || delivered == Kiv::Attr::allAttributesReset) {
    actsm();
    tell(extTapDeviceAttrId);
  }
}

// --- The status entity's adapter

Status::GenericIf_::GenericIf_(Kiv::Ptr<Status> const& entity, bool isConst) : AgentEntityGenericIf(entity, isConst) {
  kivGenericIfAdapterIs(Kiv::make<GenericIf_Adapter_>(this));
}

Status::GenericIf_::~GenericIf_() = default;

Kiv::Ptr<Kiv::GenericIf> Status::GenericIf_::attributeOp(AttributeOp const& op,
                                                         Kiv::Ptr<Kiv::GenericIf const> const& index,
                                                         Kiv::Ptr<Kiv::GenericIf> const& value) {
  requireModifiable(op.code);
  Status* const status = entity();
  if (status && op.attributeId == initializedAttrId) {
    return Kiv::scalarAttributeOp<bool>(
        *this, "initialized", op, index, value, [status] { return status->initialized(); },
        [status](bool v) { status->initializedIs(v); });
  }
  if (status && op.attributeId == fabricDeviceNameAttrId) {
    return Kiv::scalarAttributeOp<Kiv::String8>(
        *this, "fabricDeviceName", op, index, value, [status] { return status->fabricDeviceName(); },
        [status](Kiv::String8 v) { status->fabricDeviceNameIs(std::move(v)); });
  }
  return GenericIfEntity::attributeOp(op, index, value);
}

Kiv::Ptr<Kiv::GenericIf> Status::GenericIf_::clone() const {
  return Kiv::make<GenericIf_>(Kiv::Ptr<Status>(entity()), isConst());
}

Status::GenericIf_::GenericIf_Adapter_::~GenericIf_Adapter_() = default;

void Status::GenericIf_::GenericIf_Adapter_::onInitialized() { offer(initializedAttrId); }

void Status::GenericIf_::GenericIf_Adapter_::onFabricDeviceName() { offer(fabricDeviceNameAttrId); }

void Status::GenericIf_::GenericIf_Adapter_::kivReplay(Kiv::AttributeId id, Kiv::AttributeId) {
  if (id == initializedAttrId) onInitialized();
  else onFabricDeviceName();
}

}  // namespace Bridging::Orva
