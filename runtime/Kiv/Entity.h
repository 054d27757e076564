#pragma once
// Kiv::Entity is a named, counted object of the runtime with observers.
// Entities form a tree through their parents (see Dir.h); fullName() is the
// path from the root. Every entity notifies its observers through one
// mechanism, kivNotify(), described in Notifiee.h.
//
// An entity type T declares T::NotifieeConst (deriving from
// Entity::NotifieeConstOf<T>) with one no-op callback per attribute, and
// its mutators end with kivNotify:
//
//   void Status::initializedIs(bool v) {
//     if (initialized_ == v) return;
//     initialized_ = v;
//     kivNotify(258, &NotifieeConst::onInitialized);
//   }
#include <cstdint>
#include <type_traits>
#include <utility>

#include "Kiv/Export.h"
#include "Kiv/Name.h"
#include "Kiv/Notifiee.h"
#include "Kiv/NotifieeList.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class Dir;
namespace NboAttrLog {
class Out;
}

class KIV_API Entity : public PtrInterface {
 public:
  class NotifieeConst;
  class Notifiee;
  template <class E>
  class NotifieeConstOf;
  template <class E, class Base>
  class NotifieeOf;
  class KivNboAttrLogSa;
  using Kiv_BitSet = PtrInterface::NotifieeConst::Kiv_BitSet;

  explicit Entity(Name const& name);
  ~Entity() override;

  static Ptr<KivType> _fwkType();
  Ptr<KivType> fwkType() const override;

  // Virtual operations, in the runtime's slot order.
  virtual Name name() const;
  virtual Ptr<Entity const> parent() const;
  virtual Ptr<Entity> parent();
  virtual void parentIs(Entity* parent);
  virtual String8 parentAttr() const;
  virtual AttributeId parentAttrId() const;
  virtual void parentAttrIdIs(AttributeId id);
  virtual String8 uriPath() const;
  virtual String8 fullName() const;
  virtual String8 attributeString(AttributeId id) const;
  virtual void kivNotifieeAdapterIs(PtrInterface::NotifieeConst* adapter);
  virtual void handleParent();
  virtual Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Ptr<NboAttrLog::Out const> const& out) const;
  virtual bool kivHasAttrLogInterface() const;
  virtual Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Ptr<NboAttrLog::Out const> const& out);
  virtual Ptr<KivNboAttrLogSa> kivNboAttrLogSaForMsgChannel(Ptr<KivNboAttrLogSa> const& other) const;
  virtual Ptr<KivNboAttrLogSa> kivNboAttrLogSaIs(Kiv_BitSet bits, unsigned int arg,
                                                 Ptr<NboAttrLog::Out> const& out, PtrInterface* parent);
  virtual Ptr<KivNboAttrLogSa> kivNboAttrLogSaDel(Ptr<NboAttrLog::Out const> const& out);

  NotifieeList const& kivNotifieeList() const noexcept { return notifiees_; }

 protected:
  // Notifies every registered observer: calls `callback` with `args` on
  // each, by the rules of Notifiee.h. N is the entity's NotifieeConst; an
  // observer of another kind (a plain Entity::Notifiee watching only the
  // common attributes) has no such callback and is passed over.
  template <class N, class... P, class... A>
  void kivNotify(AttributeId id, void (N::*callback)(P...), A&&... args) const;

 private:
  friend class NotifieeConst;
  Name name_;
  Entity* parent_ = nullptr;  // non-owning: the parent directory owns this entity
  AttributeId parentAttrId_ = 0;
  mutable NotifieeList notifiees_;
};

class KIV_API Entity::NotifieeConst : public PtrInterface::NotifieeConst {
 public:
  ~NotifieeConst() override;

  Ptr<Entity const> notifier() const { return Ptr<Entity const>(entity_); }
  // The notifier without a count, for the typed notifier() below, which
  // makes the one counted reference it returns.
  Entity const* kivRawEntity() const noexcept { return entity_; }

  void isRegisteredNotifieeIs(bool registered) override;
  String8 name() const override;
  void notifierIs(Ptr<PtrInterface const> const& notifier) override;

  virtual void onParent();
  virtual void onVersion();

 protected:
  // Observes `entity` (null: none). Does nothing when it is the current
  // notifier; otherwise leaves the old entity's list, stores the new one
  // and joins its list.
  void kivEntityIs(Entity const* entity);

 private:
  friend class NotifieeList;
  friend class Entity;
  Entity const* entity_ = nullptr;
};

class KIV_API Entity::Notifiee : public Entity::NotifieeConst {};

// The notifiee base of entity type E: observes E objects only (anything
// else, and null, mean no notifier).
template <class E>
class Entity::NotifieeConstOf : public Entity::NotifieeConst {
 public:
  Ptr<E const> notifier() const { return Ptr<E const>(static_cast<E const*>(this->kivRawEntity())); }
  void notifierIs(Ptr<PtrInterface const> const& n) override { kivEntityIs(dynamic_cast<E const*>(n.ptr())); }
};

// The non-const notifiee of entity type E, built on its NotifieeConst:
// the same observer with mutable access to the notifier.
template <class E, class Base>
class Entity::NotifieeOf : public Base {
 public:
  Ptr<E> notifier() const { return Ptr<E>(const_cast<E*>(static_cast<E const*>(this->kivRawEntity()))); }
};

// Entity::KivNboAttrLogSa, the base of every attribute-log stream adapter
// of an entity, is in Kiv/StreamAdapter.h. The notifiee list links
// observers whose reactor is one of these at the front.

// Inlined into each mutator with its notification (see NotifieeList::notify).
template <class N, class... P, class... A>
__attribute__((always_inline)) inline void Entity::kivNotify(AttributeId id, void (N::*callback)(P...),
                                                             A&&... args) const {
  if (notifiees_.empty()) return;
  // A callback may drop what was the last counted reference to this entity;
  // it then ends as the notification is over (NotifieeList::notify).
  notifiees_.notify(id, this, [&](PtrInterface::NotifieeConst& n) {
    // Every notifiee in an entity's list is an Entity::NotifieeConst; only
    // the entity's own kinds need asking.
    N* typed;
    if constexpr (std::is_base_of<N, NotifieeConst>::value) typed = static_cast<NotifieeConst*>(&n);
    else typed = n.kivAs<N>();
    if (typed) (typed->*callback)(args...);
  });
}

}  // namespace Kiv
