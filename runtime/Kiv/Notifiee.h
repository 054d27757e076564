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
  virtual void onNotificationException();
  virtual void onNotificationException(AttributeId id);
  virtual void onZeroReferences();

 protected:
  // Stores the notifier, counting the new one and releasing the old one
  // unless the notifiee is weak. The old one is released last, since that
  // may end it.
  void kivNotifierIs(PtrInterface const* notifier);
  void kivRegisteredIs(bool r) noexcept { registered_ = r; }
  Kiv_BitSet& kivBits() noexcept { return bits_; }

 private:
  friend class NotifieeList;

  PtrInterface const* notifier_ = nullptr;
  NotifieeConst* kivNext_ = nullptr;  // links of the notifier's list
  NotifieeConst* kivPrev_ = nullptr;
  Kiv_BitSet bits_;
  bool registered_ = true;
  bool weak_ = false;
  bool linked_ = false;
};

class KIV_API PtrInterface::Notifiee : public PtrInterface::NotifieeConst {};

}  // namespace Kiv
