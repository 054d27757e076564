#pragma once
// Kiv::PtrInterface is the base of every counted object of the runtime:
// entities, reactors, notifiees, members of collections and type objects.
//
// It holds one 32-bit reference word: the reference count in the low bits,
// the notification-active, nondestructing and release-after-notification
// flags above it and the marked-for-deletion flag in the sign bit (a marked object reads as
// negative in kivReferenceWord()). Everything runs on one activity thread,
// so the count is a plain integer.
//
// An object is born with a count of 1, owned by whoever made it: make it
// with Kiv::make<T>(...), which adopts that count into the returned Ptr. So
// a Ptr made from `this` inside a constructor never deletes the object.
// Kiv::make is the only way onto the heap: a counted object's operator new
// is private, so `Kiv::Ptr<T>(new T)`, which would count the birth reference
// a second time and leak the object, does not compile. Objects that live
// for the whole process are made by Kiv::makeForProcess.
// When the count drops to zero the object is told through
// zeroReferencesIs(true); a nondestructing object then stays, any other is
// deleted unless the hook took a new reference.
#include <cstddef>
#include <cstdint>
#include <new>

#include "Kiv/Export.h"
#include "Kiv/Ptr.h"

namespace Kiv {

class KivType;

template <class T, class... A>
Ptr<T> make(A&&... args);

class KIV_API PtrInterface {
 public:
  class NotifieeConst;
  class Notifiee;

  PtrInterface() noexcept = default;
  PtrInterface(PtrInterface const&) = delete;
  PtrInterface& operator=(PtrInterface const&) = delete;

  static void operator delete(void* p) noexcept { ::operator delete(p); }

  void newRef() const noexcept { ++word_; }
  void deleteRef() const {
    if (((--word_) & countMask) == 0) lastReferenceGone();
  }
  std::uint32_t references() const noexcept { return word_ & countMask; }
  std::int32_t kivReferenceWord() const noexcept { return static_cast<std::int32_t>(word_); }

  bool hasNotificationActive() const noexcept { return word_ & notificationActiveBit; }
  bool isNondestructing() const noexcept { return word_ & nondestructingBit; }
  bool kivMarkedForDeletion() const noexcept { return word_ & markedForDeletionBit; }
  void kivMarkedForDeletionIs(bool m) noexcept { setBit(markedForDeletionBit, m); }

  // Virtual operations, in the runtime's slot order.
  virtual void hasNotificationActiveIs(bool active);
  virtual std::uint32_t kivAuditErrors(std::uint32_t level) const;
  virtual std::uint32_t auditErrors(std::uint32_t level) const;
  virtual void isNondestructingIs(bool nondestructing);
  virtual void zeroReferencesIs(bool zero);
  virtual Ptr<KivType> fwkType() const;
  virtual ~PtrInterface();

 protected:
  static constexpr std::uint32_t countMask = 0x0FFFFFFFu;
  static constexpr std::uint32_t notificationActiveBit = 0x10000000u;
  static constexpr std::uint32_t nondestructingBit = 0x20000000u;
  // Set on notifiees: released to zero while a notification is in
  // progress, the object ends when the notification does (NotifieeList).
  static constexpr std::uint32_t releaseAfterNotificationBit = 0x40000000u;
  static constexpr std::uint32_t markedForDeletionBit = 0x80000000u;

  // The flag alone, for classes whose hasNotificationActiveIs override does
  // more than store it.
  void notificationActiveFlagIs(bool a) noexcept { setBit(notificationActiveBit, a); }
  void releaseAfterNotificationIs() noexcept { setBit(releaseAfterNotificationBit, true); }

 private:
  template <class T, class... A>
  friend Ptr<T> make(A&&... args);
  static void* operator new(std::size_t size) { return ::operator new(size); }

  void setBit(std::uint32_t bit, bool on) const noexcept { word_ = on ? (word_ | bit) : (word_ & ~bit); }
  void lastReferenceGone() const;
  friend class NotifieeList;
  // Tells the object that its count reached zero and deletes it unless the
  // hook took a reference or the object is nondestructing.
  void endOfLife() const;

  mutable std::uint32_t word_ = 1;
};

// Makes a counted object and adopts its birth reference.
template <class T, class... A>
Ptr<T> make(A&&... args) {
  return Ptr<T>::adopt(new T(std::forward<A>(args)...));
}

// Makes a counted object that lives for the rest of the process (a type
// object, the root directory): the returned pointer keeps the birth
// reference, which nothing gives back.
template <class T, class... A>
T* makeForProcess(A&&... args) {
  return make<T>(std::forward<A>(args)...).release();
}

}  // namespace Kiv
