#include "Kiv/NotifieeList.h"

#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"

namespace Kiv {

namespace {

bool isStreamAdapterReactor(PtrInterface::NotifieeConst const& n) {
  // The raw reactor: a counted one could be the only reference to a
  // reactor that is still being built.
  return dynamic_cast<Entity::KivNboAttrLogSa*>(n.kivRawReactor()) != nullptr;
}

// The notifiees of one notification, each held by a counted reference.
// Lives on the stack for short lists.
class Snapshot {
 public:
  using Notifiee = PtrInterface::NotifieeConst;
  explicit Snapshot(std::uint32_t expected) {
    if (expected > NotifieeList::inlineSnapshot) heap_.reserve(expected);
  }
  ~Snapshot() {
    for (std::uint32_t i = next_; i < size_; ++i) at(i)->deleteRef();
  }
  void add(Notifiee* n) {
    n->newRef();
    if (size_ < NotifieeList::inlineSnapshot && heap_.empty()) {
      inline_[size_++] = n;
      return;
    }
    if (heap_.empty()) heap_.assign(inline_, inline_ + size_);
    heap_.push_back(n);
    ++size_;
  }
  // The next notifiee to call, skipping those that only the snapshot still
  // holds (released by their owners during this notification). The caller
  // takes over the snapshot's reference.
  Notifiee* next() {
    while (next_ < size_) {
      Notifiee* n = at(next_++);
      if (n->references() > 1) return n;
      n->deleteRef();
    }
    return nullptr;
  }

 private:
  Notifiee* at(std::uint32_t i) const { return heap_.empty() ? inline_[i] : heap_[i]; }
  Notifiee* inline_[NotifieeList::inlineSnapshot];
  std::vector<Notifiee*> heap_;
  std::uint32_t size_ = 0;
  std::uint32_t next_ = 0;
};

}  // namespace

NotifieeList::~NotifieeList() { deleteAll(); }

void NotifieeList::link(Notifiee* n, bool front) {
  n->kivPrev_ = nullptr;
  n->kivNext_ = nullptr;
  if (!head_) {
    head_ = tail_ = n;
  } else if (front) {
    n->kivNext_ = head_;
    head_->kivPrev_ = n;
    head_ = n;
  } else {
    n->kivPrev_ = tail_;
    tail_->kivNext_ = n;
    tail_ = n;
  }
  n->linked_ = true;
}

void NotifieeList::unlink(Notifiee* n) {
  if (n->kivPrev_) n->kivPrev_->kivNext_ = n->kivNext_;
  else head_ = n->kivNext_;
  if (n->kivNext_) n->kivNext_->kivPrev_ = n->kivPrev_;
  else tail_ = n->kivPrev_;
  n->kivPrev_ = n->kivNext_ = nullptr;
  n->linked_ = false;
}

void NotifieeList::attach(Notifiee* n) {
  KIV_ASSERT(!n->linked_, "Kiv/NotifieeList");
  if (n->isRegisteredNotifiee()) {
    link(n, isStreamAdapterReactor(*n));
    ++members_;
    ++version_;
  } else {
    link(n, false);
  }
}

void NotifieeList::detach(Notifiee* n) {
  if (!n->linked_) return;
  if (n->isRegisteredNotifiee()) {
    --members_;
    ++version_;
  }
  unlink(n);
}

void NotifieeList::registeredIs(Notifiee* n, bool registered) {
  // The caller has stored the new flag already.
  if (!n->linked_) return;
  unlink(n);
  link(n, registered && isStreamAdapterReactor(*n));
  if (registered) ++members_;
  else --members_;
  ++version_;
}

void NotifieeList::deleteAll() {
  while (head_) {
    Notifiee* n = head_;
    unlink(n);
    if (auto* en = dynamic_cast<Entity::NotifieeConst*>(n)) en->entity_ = nullptr;
    n->notifier_ = nullptr;
  }
  if (members_) ++version_;
  members_ = 0;
}

void NotifieeList::notify(AttributeId id, FunctionRef<void(Notifiee&)> call) const {
  Snapshot snapshot(members_);
  for (Notifiee* n = head_; n; n = n->kivNext_)
    if (n->isRegisteredNotifiee()) snapshot.add(n);
  while (Notifiee* n = snapshot.next()) {
    Ptr<Notifiee> held = Ptr<Notifiee>::adopt(n);
    if (!n->hasNotificationActive()) continue;
    try {
      Expect scope(ExceptionId::none);
      call(*n);
    } catch (...) {
      n->onNotificationException(id);
    }
  }
}

void NotifieeList::forEach(FunctionRef<void(Notifiee&)> visit) const {
  for (Notifiee* n = head_; n;) {
    Notifiee* next = n->kivNext_;
    if (n->isRegisteredNotifiee()) visit(*n);
    n = next;
  }
}

}  // namespace Kiv
