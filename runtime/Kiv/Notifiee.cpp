#include "Kiv/Notifiee.h"

#include <algorithm>
#include <new>

#include "Kiv/EventLoop.h"
#include "Kiv/NotifieeList.h"

namespace Kiv {

PtrInterface::NotifieeConst::NotifieeConst() noexcept {
  notificationActiveFlagIs(true);
  releaseAfterNotificationIs();
}

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

void PtrInterface::NotifieeConst::kivUnheld() const {
  if (!NotifieeList::endsLater(this)) endOfLife();
}
void PtrInterface::NotifieeConst::actsm() {}

bool PtrInterface::NotifieeConst::kivOnAttribute(AttributeId id, PendingChanges* storage) {
  if (!deferring_) return false;
  // Nothing is recorded before the delivery is scheduled: a change that
  // cannot be scheduled (no memory) is handed back, to be handled at once,
  // and leaves no attribute pending that no delivery would clear.
  try {
    if (!pending_) pending_ = new std::vector<Pending>;
    if (std::none_of(pending_->begin(), pending_->end(), [id](Pending const& p) { return p.id == id; })) {
      pending_->reserve(pending_->size() + 1);
      // The scheduled call holds the observer; one released meanwhile by
      // its owner is not called.
      eventLoop().defer([hold = RuntimeHold(this), id] {
        if (!hold->kivReleasedByOwner()) hold->kivDeliverPending(id);
      });
      pending_->push_back({id, storage});
    }
  } catch (std::bad_alloc const&) {
    return false;
  }
  if (storage) ++storage->count;
  return true;
}

void PtrInterface::NotifieeConst::kivDeliverPending(AttributeId id) {
  if (!pending_) return;
  auto it = std::find_if(pending_->begin(), pending_->end(), [id](Pending const& p) { return p.id == id; });
  if (it == pending_->end()) return;
  PendingChanges* const storage = it->storage;
  pending_->erase(it);
  if (!notifier_ || !registered_ || !hasNotificationActive()) {
    // Dropped: the changes it stood for are forgotten with it, so that the
    // next one is counted from zero.
    if (storage) storage->count = 0;
    return;
  }
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
  std::vector<Pending> const due = *pending_;
  for (Pending const& p : due) kivDeliverPending(p.id);
}

void PtrInterface::NotifieeConst::onNotificationException() {}
void PtrInterface::NotifieeConst::onNotificationException(AttributeId) { onNotificationException(); }
void PtrInterface::NotifieeConst::onZeroReferences() {}

}  // namespace Kiv
