#include "Kiv/Entity.h"

#include "Kiv/Exception.h"
#include "Kiv/KivType.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {

Entity::Entity(Name const& name) : name_(name) {}

Entity::~Entity() { notifiees_.deleteAll(); }

Ptr<KivType> Entity::_fwkType() { return KivType::entityType(); }
Ptr<KivType> Entity::fwkType() const { return _fwkType(); }

Name Entity::name() const { return name_; }
Ptr<Entity const> Entity::parent() const { return Ptr<Entity const>(parent_); }
Ptr<Entity> Entity::parent() { return Ptr<Entity>(parent_); }
void Entity::parentIs(Entity* parent) {
  if (parent == parent_) return;
  parent_ = parent;
  handleParent();
}
String8 Entity::parentAttr() const { return parent_ ? parent_->attributeString(parentAttrId_) : String8(); }
AttributeId Entity::parentAttrId() const { return parentAttrId_; }
void Entity::parentAttrIdIs(AttributeId id) { parentAttrId_ = id; }

String8 Entity::uriPath() const { return fullName(); }

String8 Entity::fullName() const {
  if (!parent_) return name_.string();
  String8 p = parent_->fullName();
  if (p.empty() || p == String8("/")) return String8("/") + name_.string();
  return p + String8("/") + name_.string();
}

String8 Entity::attributeString(AttributeId id) const {
  switch (id) {
    case Attr::name: return "name";
    case Attr::parent: return "parent";
    case Attr::zeroReferences: return "zeroReferences";
    case Attr::isNondestructing: return "isNondestructing";
    default: return String8();
  }
}

void Entity::kivNotifieeAdapterIs(PtrInterface::NotifieeConst*) {}
void Entity::handleParent() {
  kivNotify(Attr::parent, &NotifieeConst::onParent);
}

Ptr<Entity::KivNboAttrLogSa> Entity::kivNboAttrLogSa(Ptr<NboAttrLog::Out const> const&) const { return nullptr; }
bool Entity::kivHasAttrLogInterface() const { return false; }
Ptr<Entity::KivNboAttrLogSa> Entity::kivNboAttrLogSa(Ptr<NboAttrLog::Out const> const&) { return nullptr; }
Ptr<Entity::KivNboAttrLogSa> Entity::kivNboAttrLogSaForMsgChannel(Ptr<KivNboAttrLogSa> const&) const {
  return nullptr;
}
Ptr<Entity::KivNboAttrLogSa> Entity::kivNboAttrLogSaIs(Kiv_BitSet, unsigned int, Ptr<NboAttrLog::Out> const&,
                                                       PtrInterface*) {
  throwRangeException("attribute log not supported by " + fullName());
}
Ptr<Entity::KivNboAttrLogSa> Entity::kivNboAttrLogSaDel(Ptr<NboAttrLog::Out const> const&) { return nullptr; }

Entity::NotifieeConst::~NotifieeConst() {
  if (entity_) entity_->notifiees_.detach(this);
}

void Entity::NotifieeConst::kivEntityIs(Entity const* entity) {
  if (entity == entity_) return;
  // Room in the new list first: nothing changes when there is no memory.
  if (entity && isRegisteredNotifiee()) entity->notifiees_.reserveOne();
  if (entity_) entity_->notifiees_.detach(this);
  entity_ = entity;
  if (entity) entity->notifiees_.attach(this);
  // Last: releasing the old notifier may end it.
  kivNotifierIs(entity);
}

void Entity::NotifieeConst::isRegisteredNotifieeIs(bool registered) {
  if (registered == isRegisteredNotifiee()) return;
  if (registered && entity_) entity_->notifiees_.reserveOne();
  kivRegisteredIs(registered);
  if (entity_) entity_->notifiees_.registeredIs(this, registered);
}

String8 Entity::NotifieeConst::name() const { return entity_ ? entity_->name().string() : String8(); }

void Entity::NotifieeConst::notifierIs(Ptr<PtrInterface const> const& notifier) {
  kivEntityIs(dynamic_cast<Entity const*>(notifier.ptr()));
}

void Entity::NotifieeConst::onParent() {}
void Entity::NotifieeConst::onVersion() {}

}  // namespace Kiv
