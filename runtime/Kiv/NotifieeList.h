#pragma once
// The notifiee list of an entity: raw, intrusive links to every notifiee
// whose notifier is the entity. Registered notifiees are the ones that are
// called; attached but unregistered ones stay linked only so that the
// entity can detach them when it ends.
//
// Order: registered notifiees are also kept in an array in the order in
// which they are called, a notifiee that registers going to the front when
// its reactor is an attribute-log stream adapter and to the back
// otherwise, so stream adapters hear of every change first and other
// observers in the order in which they registered. A notification copies
// that array; it never walks the links. Registering and unregistering
// change the member count and raise the change counter.
#include <cstdint>

#include "Kiv/Exception.h"
#include "Kiv/Export.h"
#include "Kiv/FunctionRef.h"
#include "Kiv/Notifiee.h"

namespace Kiv {

class KIV_API NotifieeList {
 public:
  using Notifiee = PtrInterface::NotifieeConst;

  NotifieeList() = default;
  NotifieeList(NotifieeList const&) = delete;
  NotifieeList& operator=(NotifieeList const&) = delete;
  ~NotifieeList();

  std::uint32_t members() const noexcept { return members_; }
  std::uint32_t version() const noexcept { return version_; }
  bool empty() const noexcept { return members_ == 0; }

  // Makes room for one more registered notifiee: the one step of attaching
  // or registering that may fail (no memory), taken by callers before they
  // change anything. Past inlineSnapshot registered notifiees it also
  // makes room for a notification's snapshot of them, so that a change
  // that has been stored is always told: only a notification of this list
  // nested in another one of it allocates its own snapshot.
  void reserveOne();
  // Links `n` (not yet linked); registers it if its flag says so.
  void attach(Notifiee* n);
  // Unlinks `n` (linked), unregistering it first.
  void detach(Notifiee* n) noexcept;
  // Moves `n` (linked) into or out of the registered notifiees. The caller
  // has stored the new flag already.
  void registeredIs(Notifiee* n, bool registered);
  // Unlinks every notifiee and clears its notifier: the list's entity is
  // ending. Calls nobody.
  void deleteAll();

  // Calls `call` on a snapshot of the registered notifiees, by the rules in
  // Notifiee.h: a notifiee detached, released by its owner or switched off
  // before its turn is passed over; an exception from a call goes to that
  // notifiee's onNotificationException(id). Inline, so that the call is
  // made directly; no heap allocation for up to inlineSnapshot notifiees.
  //
  // No notifiee is held around its call. Instead a notifiee whose count
  // reaches zero while any notification is in progress (its own call
  // released it, or another's did) is not ended then: it reads as released,
  // so no notification calls it again, and it ends when the outermost
  // notification is over. So no notifiee is freed under a call still on
  // the stack, and a notifiee being destroyed is never called (its count
  // is zero, and detaching strikes it from every snapshot).
  //
  // `owner` is the counted object whose list this is (the notifying
  // entity), or null. Nor is the owner held: when a call releases the last
  // reference to it, it ends as the outermost notification of its own list
  // is over, as a hold taken around that notification would have ended it.
  static constexpr unsigned inlineSnapshot = 8;
  template <class Call>
  void notify(AttributeId id, PtrInterface const* owner, Call&& call) const;

  // Registered notifiees in list order, for look-ups by the runtime.
  void forEach(FunctionRef<void(Notifiee&)> visit) const;

  // Called when the count of `n` reaches zero: true when something else
  // ends `n` later (a runtime hold on it, or the notification in progress
  // when it is over); false when `n` is to end now.
  static bool endsLater(Notifiee const* n) noexcept;
  // Called when the count of `p`, which is not a notifiee, reaches zero:
  // true when a notification of a list that `p` owns is in progress, which
  // then ends `p` when it is over.
  static bool endsWithItsNotification(PtrInterface const* p) noexcept;

  // The registered notifiees of a list when a notification began, in list
  // order. The snapshots in progress form a stack; detaching a notifiee
  // strikes it out of every one of them (operator[] reads null), so a
  // notification never reaches a notifiee that left meanwhile, nor one
  // that is being destroyed. It holds nobody.
  class KIV_API Snapshot {
   public:
    explicit Snapshot(NotifieeList const& list, PtrInterface const* owner = nullptr)
        : list_(list), owner_(owner), size_(list.members_), outer_(innermost_) {
      Notifiee* const* from = list.registered_;
      switch (size_) {  // unrolled up to the inline size, which most lists keep within
        case 8: at_[7] = from[7]; [[fallthrough]];
        case 7: at_[6] = from[6]; [[fallthrough]];
        case 6: at_[5] = from[5]; [[fallthrough]];
        case 5: at_[4] = from[4]; [[fallthrough]];
        case 4: at_[3] = from[3]; [[fallthrough]];
        case 3: at_[2] = from[2]; [[fallthrough]];
        case 2: at_[1] = from[1]; [[fallthrough]];
        case 1: at_[0] = from[0]; break;
        default:
          at_ = list.takeSpare(&lent_);
          for (std::uint32_t i = 0; i < size_; ++i) at_[i] = from[i];
      }
      innermost_ = this;
    }
    Snapshot(Snapshot const&) = delete;
    Snapshot& operator=(Snapshot const&) = delete;
    ~Snapshot() {
      // The outermost notification stores a constant rather than the value
      // it read when it began, so that one notification does not wait for
      // the previous one's stores to reach it.
      if (__builtin_expect(outer_ != nullptr, 0)) reenter(outer_);
      else innermost_ = nullptr;
      if (at_ != inline_) list_.giveBackSpare(at_, lent_);
      if (__builtin_expect(ownerReleased_, 0)) endOwner();
      if (!outer_ && released_) endReleased();
    }
    std::uint32_t size() const noexcept { return size_; }
    Notifiee* operator[](std::uint32_t i) const noexcept { return at_[i]; }
    Notifiee* const* data() const noexcept { return at_; }

   private:
    friend class NotifieeList;
    static void strike(Notifiee* n) noexcept;
    static void endReleased() noexcept;
    // Out of line, so that the compiler cannot merge it with the constant
    // store of the outermost notification.
    static void reenter(Snapshot* outer) noexcept;
    void endOwner() const noexcept;
    static Snapshot* innermost_;
    static Notifiee const* released_;  // released during the notifications in progress

    NotifieeList const& list_;
    PtrInterface const* owner_;  // non-owning: the list's owner, or null
    Notifiee* inline_[inlineSnapshot];
    Notifiee** at_ = inline_;
    std::uint32_t size_ = 0;
    std::uint32_t lent_ = 0;  // slots of at_ when it is the list's spare, else 0
    bool ownerReleased_ = false;  // the owner's count reached zero meanwhile
    Snapshot* outer_;
  };

 private:
  void link(Notifiee* n) noexcept;
  void unlink(Notifiee* n) noexcept;
  void enlist(Notifiee* n);
  void delist(Notifiee* n) noexcept;
  // The spare snapshot array (capacity_ slots) for a notification, or a
  // new one when a notification in progress has it; *lent is its size.
  Notifiee** takeSpare(std::uint32_t* lent) const;
  void giveBackSpare(Notifiee** at, std::uint32_t lent) const noexcept;

  Notifiee* head_ = nullptr;           // every attached notifiee, in no particular order
  Notifiee** registered_ = nullptr;    // owned: members_ registered notifiees in call order
  mutable Notifiee** spare_ = nullptr; // owned: capacity_ slots past inlineSnapshot, unless lent
  std::uint32_t members_ = 0;
  std::uint32_t capacity_ = 0;         // slots of registered_
  std::uint32_t version_ = 0;
};

// Inlined into each notifying mutator, so that the callback is a known
// member function there and is called directly.
template <class Call>
__attribute__((always_inline)) inline void NotifieeList::notify(AttributeId id, PtrInterface const* owner,
                                                                Call&& call) const {
  if (empty()) return;
  Snapshot snapshot(*this, owner);
  // The callbacks run in one scope that expects no exception: each one's
  // exception is handed back to its notifiee.
  Expect scope(ExceptionId::none);
  // Entries may be struck during a call; where they are and how many do not change.
  Notifiee* const* const at = snapshot.data();
  std::uint32_t const size = snapshot.size();
  for (std::uint32_t i = 0; i < size; ++i) {
    Notifiee* n = at[i];
    if (!n || !n->kivCallable()) continue;
    try {
      call(*n);
    } catch (...) {
      n->onNotificationException(id);
    }
  }
}

}  // namespace Kiv
