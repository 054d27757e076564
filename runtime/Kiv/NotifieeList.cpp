#include "Kiv/NotifieeList.h"

#include <new>
#include <type_traits>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {

namespace {

bool isStreamAdapterReactor(PtrInterface::NotifieeConst const& n) {
  return dynamic_cast<Entity::KivNboAttrLogSa*>(n.kivReactor().ptr()) != nullptr;
}

// The notifiees of one notification, each under a runtime hold. Lives on
// the stack for short lists.
class Snapshot {
 public:
  using Notifiee = PtrInterface::NotifieeConst;
  using Hold = Notifiee::RuntimeHold;
  explicit Snapshot(std::uint32_t expected) {
    if (expected > NotifieeList::inlineSnapshot) heap_.reserve(expected);
  }
  ~Snapshot() {
    if (!usingHeap_)
      for (std::uint32_t i = 0; i < size_; ++i) at(i).~Hold();
  }
  void add(Notifiee* n) {
    if (size_ < NotifieeList::inlineSnapshot && heap_.empty()) {
      new (&inline_[size_++]) Hold(n);
      return;
    }
    if (heap_.empty()) {
      for (std::uint32_t i = 0; i < size_; ++i) {
        heap_.push_back(at(i));
        at(i).~Hold();
      }
      usingHeap_ = true;
    }
    heap_.emplace_back(n);
    ++size_;
  }
  // The next notifiee to call, skipping those that only runtime holds keep
  // any more (released by their owners during this notification, or
  // during an outer one). Its hold lasts until the snapshot ends, so that a
  // notification nested inside its call sees it held.
  Notifiee* next() {
    while (next_ < size_) {
      Hold& h = at(next_++);
      if (!h->kivReleasedByOwner()) return h.operator->();
    }
    return nullptr;
  }

 private:
  Hold& at(std::uint32_t i) {
    return usingHeap_ ? heap_[i] : *std::launder(reinterpret_cast<Hold*>(&inline_[i]));
  }
  std::aligned_storage_t<sizeof(Hold), alignof(Hold)> inline_[NotifieeList::inlineSnapshot];
  std::vector<Hold> heap_;
  std::uint32_t size_ = 0;
  std::uint32_t next_ = 0;
  bool usingHeap_ = false;
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
