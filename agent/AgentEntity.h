#pragma once
// What the agent model's entities (Bridging::Orva::Config and
// Bridging::Orva::Status) have in common, written once:
//
// - AgentNotifieeConst<E>: the base of E::NotifieeConst. It observes E
//   objects only (anything else, and null, mean no notifier) and adds the
//   first callback that every agent entity has, onIsNondestructing().
// - AgentEntity<E>: the base of E. It carries the runtime's lifecycle
//   hooks with their notifications and the type query. It notifies through
//   the runtime's kivNotify.
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

  // The entity's side of the attribute log: every agent entity has one.
  // Its stream adapters are E::KivNboAttrLogSa; these operations are
  // defined with them (attrlog/AgentStreamAdapter.h).
  bool kivHasAttrLogInterface() const override { return true; }
  // The adapter bound to `out` (null `out`: the first one of a live
  // connection), or null.
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) const override;
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSa(Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) override;
  // The sibling adapter that serves the same message channel as `other`.
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaForMsgChannel(Kiv::Ptr<KivNboAttrLogSa> const& other) const override;
  // Finds or makes the adapter for `out`; a null writer throws the range
  // exception "null ValidPtr".
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaIs(Kiv_BitSet bits, unsigned int arg,
                                              Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                              Kiv::PtrInterface* parent) override;
  // Detaches the adapter bound to `out` from its connection; returns it.
  Kiv::Ptr<KivNboAttrLogSa> kivNboAttrLogSaDel(Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) override;

 protected:
  explicit AgentEntity(Kiv::Name const& name) : Kiv::Entity(name) {}
};

}  // namespace Bridging::Orva
