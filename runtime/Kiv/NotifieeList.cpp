#include "Kiv/NotifieeList.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {

namespace {

bool isStreamAdapterReactor(PtrInterface::NotifieeConst const& n) {
  return dynamic_cast<Entity::KivNboAttrLogSa*>(n.kivReactor().ptr()) != nullptr;
}

}  // namespace

NotifieeList::~NotifieeList() { deleteAll(); }

void NotifieeList::link(Notifiee* n) noexcept {
  n->kivPrev_ = nullptr;
  n->kivNext_ = head_;
  if (head_) head_->kivPrev_ = n;
  head_ = n;
  n->linked_ = true;
}

void NotifieeList::unlink(Notifiee* n) noexcept {
  if (n->kivPrev_) n->kivPrev_->kivNext_ = n->kivNext_;
  else head_ = n->kivNext_;
  if (n->kivNext_) n->kivNext_->kivPrev_ = n->kivPrev_;
  n->kivPrev_ = n->kivNext_ = nullptr;
  n->linked_ = false;
}

void NotifieeList::reserveOne() {
  if (members_ < capacity_) return;
  std::uint32_t const capacity = capacity_ ? capacity_ * 2 : 2;
  std::unique_ptr<Notifiee*[]> grown(new Notifiee*[capacity]);
  std::unique_ptr<Notifiee*[]> spare(capacity > inlineSnapshot ? new Notifiee*[capacity] : nullptr);
  std::copy(registered_, registered_ + members_, grown.get());
  delete[] registered_;
  registered_ = grown.release();
  // A smaller spare lent to a notification in progress is freed when it
  // comes back.
  delete[] spare_;
  spare_ = spare.release();
  capacity_ = capacity;
}

NotifieeList::Notifiee** NotifieeList::takeSpare(std::uint32_t* lent) const {
  if (!spare_) return new Notifiee*[members_];
  *lent = capacity_;
  return std::exchange(spare_, nullptr);
}

void NotifieeList::giveBackSpare(Notifiee** at, std::uint32_t lent) const noexcept {
  if (lent && lent == capacity_ && !spare_) spare_ = at;
  else delete[] at;
}

void NotifieeList::enlist(Notifiee* n) {
  reserveOne();
  if (isStreamAdapterReactor(*n)) {
    std::copy_backward(registered_, registered_ + members_, registered_ + members_ + 1);
    registered_[0] = n;
  } else {
    registered_[members_] = n;
  }
  ++members_;
  ++version_;
}

void NotifieeList::delist(Notifiee* n) noexcept {
  Notifiee** end = registered_ + members_;
  Notifiee** at = std::find(registered_, end, n);
  if (at == end) return;
  std::copy(at + 1, end, at);
  --members_;
  ++version_;
}

void NotifieeList::attach(Notifiee* n) {
  KIV_ASSERT(!n->linked_, "Kiv/NotifieeList");
  if (n->isRegisteredNotifiee()) reserveOne();
  link(n);
  if (n->isRegisteredNotifiee()) enlist(n);
}

void NotifieeList::detach(Notifiee* n) noexcept {
  if (!n->linked_) return;
  delist(n);
  unlink(n);
  Snapshot::strike(n);
}

void NotifieeList::registeredIs(Notifiee* n, bool registered) {
  if (!n->linked_) return;
  if (registered) enlist(n);
  else delist(n);
}

void NotifieeList::deleteAll() {
  while (Notifiee* n = head_) {
    unlink(n);
    Snapshot::strike(n);
    if (auto* en = dynamic_cast<Entity::NotifieeConst*>(n)) en->entity_ = nullptr;
    n->notifier_ = nullptr;
  }
  if (members_) ++version_;
  members_ = capacity_ = 0;
  delete[] registered_;
  registered_ = nullptr;
  delete[] spare_;
  spare_ = nullptr;
}

NotifieeList::Snapshot* NotifieeList::Snapshot::innermost_ = nullptr;
NotifieeList::Notifiee const* NotifieeList::Snapshot::released_ = nullptr;

bool NotifieeList::endsLater(Notifiee const* n) noexcept {
  // Released again after a reference taken meanwhile: listed already.
  if (n->kivReleasedNext_) return true;
  // Ends when its last runtime hold goes.
  if (n->holds_) return true;
  if (!Snapshot::innermost_) return false;
  n->kivReleasedNext_ = Snapshot::released_ ? Snapshot::released_ : n;
  Snapshot::released_ = n;
  return true;
}

bool NotifieeList::endsWithItsNotification(PtrInterface const* p) noexcept {
  // The outermost notification of p's list ends it.
  Snapshot* outermost = nullptr;
  for (Snapshot* s = Snapshot::innermost_; s; s = s->outer_)
    if (s->owner_ == p) outermost = s;
  if (!outermost) return false;
  outermost->ownerReleased_ = true;
  return true;
}

void NotifieeList::Snapshot::reenter(Snapshot* outer) noexcept { innermost_ = outer; }

void NotifieeList::Snapshot::endOwner() const noexcept {
  // Taken again and still held: it ends when its holder lets go.
  if (owner_->references() == 0) owner_->endOfLife();
}

void NotifieeList::Snapshot::endReleased() noexcept {
  // Ending one may start a notification, which ends what it releases
  // itself; so each is unlisted before it ends.
  while (Notifiee const* n = released_) {
    released_ = n->kivReleasedNext_ == n ? nullptr : n->kivReleasedNext_;
    n->kivReleasedNext_ = nullptr;
    // Taken again and still held: it ends when its holder lets go.
    if (n->references() == 0) n->endOfLife();
  }
}

void NotifieeList::Snapshot::strike(Notifiee* n) noexcept {
  for (Snapshot* s = innermost_; s; s = s->outer_)
    for (std::uint32_t i = 0; i < s->size_; ++i)
      if (s->at_[i] == n) s->at_[i] = nullptr;
}

void NotifieeList::forEach(FunctionRef<void(Notifiee&)> visit) const {
  Snapshot snapshot(*this);
  for (std::uint32_t i = 0; i < snapshot.size(); ++i)
    if (Notifiee* n = snapshot[i]) visit(*n);
}

}  // namespace Kiv
