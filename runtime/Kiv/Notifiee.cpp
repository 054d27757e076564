#include "Kiv/Notifiee.h"

#include <algorithm>

#include "Kiv/EventLoop.h"

namespace Kiv {

PtrInterface::NotifieeConst::NotifieeConst() noexcept { notificationActiveFlagIs(true); }

PtrInterface::NotifieeConst::~NotifieeConst() {
  delete pending_;
  if (notifier_ && !weak_) notifier_->deleteRef();
}

void PtrInterface::NotifieeConst::isWeakReferenceIs(bool weak) {
  if (weak == weak_) return;
  weak_ = weak;
  if (!notifier_) return;
  if (weak) notifier_->deleteRef();
  else notifier_->newRef();
}

void PtrInterface::NotifieeConst::kivNotifierIs(PtrInterface const* notifier) {
  PtrInterface const* old = notifier_;
  if (old == notifier) return;
  notifier_ = notifier;
  if (weak_) return;
  if (notifier) notifier->newRef();
  if (old) old->deleteRef();
}

Ptr<PtrInterface> PtrInterface::NotifieeConst::kivReactor() const { return Ptr<PtrInterface>(kivRawReactor()); }
PtrInterface* PtrInterface::NotifieeConst::kivRawReactor() const {
  return const_cast<PtrInterface::NotifieeConst*>(this);
}
bool PtrInterface::NotifieeConst::isStreamAdapter() const { return false; }
void PtrInterface::NotifieeConst::isRegisteredNotifieeIs(bool registered) { registered_ = registered; }
void PtrInterface::NotifieeConst::kiv_bitSetIs(Kiv_BitSet bits) { bits_ = bits; }
String8 PtrInterface::NotifieeConst::name() const { return String8(); }
void PtrInterface::NotifieeConst::notifierIs(Ptr<PtrInterface const> const& notifier) {
  kivNotifierIs(notifier.ptr());
}
void PtrInterface::NotifieeConst::handleNotification(AttributeId) {}
void PtrInterface::NotifieeConst::actsm() {}

bool PtrInterface::NotifieeConst::kivOnAttribute(AttributeId id, PendingChanges* storage) {
  if (!deferring_) return false;
  if (storage) ++storage->count;
  if (!pending_) pending_ = new std::vector<AttributeId>;
  if (std::find(pending_->begin(), pending_->end(), id) != pending_->end()) return true;
  pending_->push_back(id);
  // The scheduled call holds the observer; one released meanwhile by its
  // owner is not called.
  eventLoop().defer([hold = RuntimeHold(this), id] {
    if (!hold->kivReleasedByOwner()) hold->kivDeliverPending(id);
  });
  return true;
}

void PtrInterface::NotifieeConst::kivDeliverPending(AttributeId id) {
  if (!pending_) return;
  auto it = std::find(pending_->begin(), pending_->end(), id);
  if (it == pending_->end()) return;
  pending_->erase(it);
  if (!notifier_ || !registered_ || !hasNotificationActive()) return;
  // While its deferred changes are delivered the observer takes what it is
  // offered at once, so that a replay through kivOnAttribute is handled.
  bool deferring = deferring_;
  deferring_ = false;
  try {
    handleNotification(id);
  } catch (...) {
    deferring_ = deferring;
    onNotificationException(id);
    return;
  }
  deferring_ = deferring;
}

void PtrInterface::NotifieeConst::redispatch() {
  if (!pending_) return;
  std::vector<AttributeId> ids = *pending_;
  for (AttributeId id : ids) kivDeliverPending(id);
}

void PtrInterface::NotifieeConst::onNotificationException() {}
void PtrInterface::NotifieeConst::onNotificationException(AttributeId) { onNotificationException(); }
void PtrInterface::NotifieeConst::onZeroReferences() {}

}  // namespace Kiv
