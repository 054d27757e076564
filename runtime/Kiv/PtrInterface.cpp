#include "Kiv/PtrInterface.h"

#include "Kiv/KivType.h"
#include "Kiv/NotifieeList.h"

namespace Kiv {

PtrInterface::~PtrInterface() = default;

void PtrInterface::hasNotificationActiveIs(bool active) { notificationActiveFlagIs(active); }

std::uint32_t PtrInterface::kivAuditErrors(std::uint32_t) const { return 0; }
std::uint32_t PtrInterface::auditErrors(std::uint32_t level) const { return kivAuditErrors(level); }

void PtrInterface::isNondestructingIs(bool nondestructing) { setBit(nondestructingBit, nondestructing); }

void PtrInterface::zeroReferencesIs(bool) {}

Ptr<KivType> PtrInterface::fwkType() const { return KivType::ptrInterfaceType(); }

void PtrInterface::lastReferenceGone() const {
  bool const later = (word_ & releaseAfterNotificationBit)
                         ? NotifieeList::endsLater(static_cast<NotifieeConst const*>(this))
                         : NotifieeList::endsWithItsNotification(this);
  if (!later) endOfLife();
}

void PtrInterface::endOfLife() const {
  // The hook runs with a guard reference, so that a Ptr made inside it does
  // not find the count at zero and delete the object a second time.
  auto* self = const_cast<PtrInterface*>(this);
  ++word_;
  self->zeroReferencesIs(true);
  if (((--word_) & countMask) != 0 || isNondestructing()) return;
  delete self;
}

}  // namespace Kiv
