#pragma once
// Observers ("notifiees") of counted objects.
//
// Notification is synchronous and runs on the one activity thread: a
// mutator stores its new value and then calls every registered notifiee of
// the object, in list order, before it returns. Observers may register,
// unregister and release observers (themselves included) from inside a
// callback; the notifier calls a snapshot of its list, skips observers
// released meanwhile and does not call observers registered meanwhile. An
// exception thrown by a callback is handed back to that observer as
// onNotificationException(attributeId) and the next observer is called.
//
//   struct Watcher : Bridging::Orva::Config::Notifiee {
//     void onComplete() override { ++seen; }
//     int seen = 0;
//   };
//   auto w = Kiv::make<Watcher>();
//   w->notifierIs(config);               // observe; registered by default
//   config->completeIs(true);            // w->seen == 1
//
// A notifiee holds a counted reference to its notifier unless it is made a
// weak reference (isWeakReferenceIs(true)); the notifier's list holds only
// raw links, so observing never keeps an observer alive.
#include <cstdint>
#include <vector>

#include "Kiv/BitSet.h"
#include "Kiv/Export.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class NotifieeList;

class KIV_API PtrInterface::NotifieeConst : public PtrInterface {
 public:
  // The notifiee's state word; its flags belong to the runtime and to the
  // stream adapters.
  using Kiv_BitSet = BitSet<27, unsigned int>;

  NotifieeConst() noexcept;
  ~NotifieeConst() override;

  Ptr<PtrInterface const> notifier() const { return Ptr<PtrInterface const>(notifier_); }
  PtrInterface const* rawNotifier() const noexcept { return notifier_; }
  bool isRegisteredNotifiee() const noexcept { return registered_; }
  bool isWeakReference() const noexcept { return weak_; }
  // A weak notifiee does not count its notifier; it learns of the
  // notifier's end through onZeroReferences() (entities) and is detached
  // when the notifier goes.
  void isWeakReferenceIs(bool weak);
  Kiv_BitSet kiv_bitSet() const noexcept { return bits_; }

  // The runtime's own hold on an observer while it works with it (a
  // delivery scheduled): it keeps the observer from ending but does not
  // count, so an observer whose owners have all let go reads as released
  // and is not called; it ends when the last hold goes. A notification
  // takes no hold at all: an observer released to zero during one is not
  // called again and ends when the notification does (NotifieeList).
  class KIV_API RuntimeHold {
   public:
    explicit RuntimeHold(NotifieeConst* n) noexcept : n_(n) { ++n_->holds_; }
    RuntimeHold(RuntimeHold const& o) noexcept : RuntimeHold(o.n_) {}
    RuntimeHold& operator=(RuntimeHold const&) = delete;
    ~RuntimeHold() {
      if (--n_->holds_ == 0 && n_->references() == 0) n_->kivUnheld();
    }
    NotifieeConst* operator->() const noexcept { return n_; }

   private:
    NotifieeConst* n_;
  };
  bool kivReleasedByOwner() const noexcept { return references() == 0; }
  // To be called: notification on and not released by its owner, tested
  // with one load.
  bool kivCallable() const noexcept {
    return (static_cast<std::uint32_t>(kivReferenceWord()) & (notificationActiveBit | countMask)) > notificationActiveBit;
  }

  // This notifiee as an N, or null when it is of another kind. The answer
  // for the last N asked is remembered, since a notifier asks the same
  // question on every change.
  template <class N>
  N* kivAs() {
    static constexpr char key = 0;
    if (__builtin_expect(castKey_ != &key, 0)) {
      castTo_ = dynamic_cast<N*>(this);
      castKey_ = &key;
    }
    return static_cast<N*>(castTo_);
  }

  // Virtual operations, in the runtime's slot order.
  // The object on whose behalf this notifiee observes: itself, unless a
  // reactor delegates to it.
  virtual Ptr<PtrInterface> kivReactor() const;
  virtual PtrInterface* kivRawReactor() const;
  virtual bool isStreamAdapter() const;
  virtual void isRegisteredNotifieeIs(bool registered);
  virtual void kiv_bitSetIs(Kiv_BitSet bits);
  virtual String8 name() const;
  virtual void notifierIs(Ptr<PtrInterface const> const& notifier);
  // A notification that the runtime deferred (see kivOnAttribute),
  // delivered at a later turn of the loop. The base does nothing.
  virtual void handleNotification(AttributeId id);
  virtual void onNotificationException();
  virtual void onNotificationException(AttributeId id);
  virtual void onZeroReferences();
  // Runs before a change is delivered to the observer's own handling; the
  // base does nothing.
  virtual void actsm();

  // --- Deferred delivery.
  // The count of changes that the runtime took for later delivery, kept by
  // the observer that offered them.
  struct PendingChanges {
    std::uint32_t count = 0;
  };
  // While deferring, the runtime takes every change offered with
  // kivOnAttribute and delivers it later through handleNotification, once
  // per attribute however many changes came meanwhile. During that delivery
  // the observer is not deferring, so a replay is taken at once.
  void kivDeferredDeliveryIs(bool defer) noexcept { deferring_ = defer; }
  bool kivDeferredDelivery() const noexcept { return deferring_; }
  // Offers a change of attribute `id`. Returns true when the runtime took
  // it (counted in `storage` when given, handleNotification(id) scheduled
  // for the loop's next turn unless it is pending already); false when the
  // caller is to handle the change at once: not deferring, or no memory to
  // schedule the delivery. A delivery dropped because the observer was
  // detached, unregistered or switched off meanwhile sets the count in its
  // `storage` back to zero.
  bool kivOnAttribute(AttributeId id, PendingChanges* storage = nullptr);
  // Lets the runtime deliver, now, what an observer's replay has just
  // deferred again.
  void redispatch();

 protected:
  // Stores the notifier, counting the new one and releasing the old one
  // unless the notifiee is weak. The old one is released last, since that
  // may end it.
  void kivNotifierIs(PtrInterface const* notifier);
  void kivRegisteredIs(bool r) noexcept { registered_ = r; }
  void kivDeliverPending(AttributeId id);
  Kiv_BitSet& kivBits() noexcept { return bits_; }

 private:
  // The last RuntimeHold went and nobody counts this notifiee: it ends now,
  // or when the notification in progress does.
  void kivUnheld() const;

  friend class NotifieeList;

  // The fields a notification reads first, next to the reference word; the
  // first fills the base's tail padding on 64 bits.
  std::uint32_t holds_ = 0;       // RuntimeHolds
  void const* castKey_ = nullptr;  // kivAs(): the type last asked for
  void* castTo_ = nullptr;         // and the answer
  PtrInterface const* notifier_ = nullptr;
  NotifieeConst* kivNext_ = nullptr;  // links of the notifier's list
  NotifieeConst* kivPrev_ = nullptr;
  // Link of the notifiees released during the notification in progress;
  // the last one links to itself, null means not released.
  mutable NotifieeConst const* kivReleasedNext_ = nullptr;
  Kiv_BitSet bits_;
  // A delivery scheduled for attribute `id`, with the count its changes raised.
  struct Pending {
    AttributeId id;
    PendingChanges* storage;
  };
  std::vector<Pending>* pending_ = nullptr;  // owned: deliveries scheduled
  bool deferring_ = false;
  bool registered_ = true;
  bool weak_ = false;
  bool linked_ = false;
};

class KIV_API PtrInterface::Notifiee : public PtrInterface::NotifieeConst {};

}  // namespace Kiv
