#include "Kiv/Notifiee.h"

namespace Kiv {

PtrInterface::NotifieeConst::NotifieeConst() noexcept { notificationActiveFlagIs(true); }

PtrInterface::NotifieeConst::~NotifieeConst() {
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
void PtrInterface::NotifieeConst::onNotificationException() {}
void PtrInterface::NotifieeConst::onNotificationException(AttributeId) { onNotificationException(); }
void PtrInterface::NotifieeConst::onZeroReferences() {}

}  // namespace Kiv
