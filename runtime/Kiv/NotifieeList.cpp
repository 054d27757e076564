#include "Kiv/NotifieeList.h"

#include <algorithm>

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
  auto* grown = new Notifiee*[capacity];
  std::copy(registered_, registered_ + members_, grown);
  delete[] registered_;
  registered_ = grown;
  capacity_ = capacity;
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
}

NotifieeList::Snapshot* NotifieeList::Snapshot::innermost_ = nullptr;

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
