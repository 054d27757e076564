#pragma once
// What the agent model's entities (Bridging::Orva::Config and
// Bridging::Orva::Status) have in common, written once:
//
// - AgentNotifieeConst<E>: the base of E::NotifieeConst. It observes E
//   objects only (anything else, and null, mean no notifier) and adds the
//   first callback that every agent entity has, onIsNondestructing().
// - AgentEntity<E>: the base of E. It carries the runtime's lifecycle
//   hooks with their notifications, the type query and the entity's side of
//   the attribute log. It notifies through the runtime's kivNotify.
//
// Both are templates on the entity type (E derives from AgentEntity<E>):
//
//   class Status : public AgentEntity<Status> {
//    public:
//     class NotifieeConst : public AgentNotifieeConst<Status> { ... };
//     static Kiv::Ptr<Kiv::KivType> _fwkType();
//   };
//
// Everything runs on the one activity thread; see Kiv/Notifiee.h for the
// order and the rules of a notification.
#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/Types.h"

namespace Bridging::Orva {

template <class E>
class BRIDGING_API AgentNotifieeConst : public Kiv::Entity::NotifieeConstOf<E> {
 public:
  // The entity's nondestructing state changed (attribute 6).
  virtual void onIsNondestructing() {}
};

template <class E>
class BRIDGING_API AgentEntity : public Kiv::Entity {
 public:
  // Switches the runtime's nondestructing state and tells the observers;
  // nothing happens when the state is already `nondestructing`.
  void isNondestructingIs(bool nondestructing) override {
    if (isNondestructing() == nondestructing) return;
    Kiv::PtrInterface::isNondestructingIs(nondestructing);
    kivNotify(Kiv::Attr::isNondestructing, &E::NotifieeConst::onIsNondestructing);
  }

  // The runtime's report that the last counted reference has gone (also
  // any direct call, whatever the argument): tells the observers, which
  // can only be weak ones then, through onZeroReferences(). The entity is
  // deleted afterwards unless an observer took a new reference.
  void zeroReferencesIs(bool) override {
    kivNotify(Kiv::Attr::zeroReferences, &Kiv::PtrInterface::NotifieeConst::onZeroReferences);
  }

  Kiv::Ptr<Kiv::KivType> fwkType() const override { return E::_fwkType(); }

  // The entity's side of the attribute log. Stream adapters do not exist
  // for the agent entities yet: no adapter is ever found, and attaching one
  // is refused.
  bool kivHasAttrLogInterface() const override { return true; }
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) const override {
    return const_cast<AgentEntity*>(this)->kivNboAttrLogSa(out);
  }
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Kiv::Ptr<Kiv::NboAttrLog::Out const> const&) override { return nullptr; }
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaForMsgChannel(Kiv::Ptr<KivNboAttrLogSa> const&) const override {
    return nullptr;
  }
  // Throws the range exception "null ValidPtr" for a null writer, and
  // "attribute log not supported" for any other.
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaIs(Kiv_BitSet, unsigned int, Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                              Kiv::PtrInterface*) override {
    if (!out) Kiv::throwNullValidPtr();
    Kiv::throwRangeException("attribute log not supported");
  }
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaDel(Kiv::Ptr<Kiv::NboAttrLog::Out const> const&) override {
    return nullptr;
  }

 protected:
  explicit AgentEntity(Kiv::Name const& name) : Kiv::Entity(name) {}
};

}  // namespace Bridging::Orva
