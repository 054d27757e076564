#pragma once
// Kiv::Clock is the entity through which reactors ask for call-backs at a
// time. The time is the event loop's (EventLoop.h); a clock adds one-shot
// minimum times per observer.
//
// Each Clock::NotifieeConst has its own minimum time. It starts at 0.0 and
// armed, so a new observer is called once at the loop's first turn after it
// is attached. The loop calls onTime() once when its time reaches the
// minimum time, and only while the observer is attached to a clock,
// registered and its notification is active. Just before the call the
// observer is disarmed; it stays so unless the call arms it again.
//
// - timeMinIs(t) arms the observer for t; a new time replaces a pending
//   one. A time that has passed is delivered at the loop's next turn, never
//   inside the call that armed it.
// - An observer that is due while its notification is off or it is
//   unregistered is called at the next turn after it is active and
//   registered again, if it is still armed.
// - Detaching an observer or pointing it at another clock disarms it: an
//   arming was made for the old clock. An observer armed while detached is
//   called once it is attached.
// - An observer that its owner releases while armed is never called; the
//   loop drops it at its time. An exception thrown by onTime() goes to the
//   observer's onNotificationException(Clock::timeAttributeId).
//
//   struct Tick : Kiv::Clock::Notifiee {
//     void onTime() override { ++ticks; timeMinIs(Kiv::now() + 1.0); }
//     int ticks = 0;
//   };
//   auto tick = Kiv::make<Tick>();
//   tick->notifierIs(Kiv::Clock::ClockIs("clock"));
//   Kiv::eventLoop().runUntil(2.5);      // ticks at 0.0, 1.0 and 2.0
//
// The loop holds each armed, eligible observer by a counted reference, so
// it never calls a destroyed one; subclasses that override notifierIs,
// isRegisteredNotifieeIs or hasNotificationActiveIs call these versions,
// which keep the loop's queue in step.
#include "Kiv/Entity.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Export.h"
#include "Kiv/KivType.h"

namespace Kiv {

class KIV_API Clock : public Entity {
 public:
  class NotifieeConst;
  using Notifiee = Entity::NotifieeOf<Clock, NotifieeConst>;

  // The clock's `time` attribute, under which an exception thrown by
  // onTime() is reported.
  static constexpr AttributeId timeAttributeId = 258;

  static Ptr<Clock> ClockIs(Name const& name);
  ~Clock() override;

  // The type "Kiv::Clock", derived from the entity type: the type of the
  // clock attributes of registered types.
  static Ptr<KivType> _fwkType();
  Ptr<KivType> fwkType() const override;

  // The event loop's current time.
  double time() const;
  String8 attributeString(AttributeId id) const override;

 protected:
  explicit Clock(Name const& name);

 private:
  // ClockIs makes clocks through Kiv::make.
  template <class T, class... A>
  friend Ptr<T> make(A&&... args);
};

class KIV_API Clock::NotifieeConst : public Entity::NotifieeConstOf<Clock> {
 public:
  NotifieeConst() noexcept;
  ~NotifieeConst() override;

  double timeMin() const noexcept { return timeMin_; }
  // Arms the observer for `t`, replacing a pending time. Arming again for
  // the pending time keeps the observer's place among observers due then.
  // Throws a range exception for a NaN time.
  void timeMinIs(double const& t);
  bool isArmed() const noexcept { return armed_; }

  virtual void onTime();

  void notifierIs(Ptr<PtrInterface const> const& notifier) override;
  void isRegisteredNotifieeIs(bool registered) override;
  void hasNotificationActiveIs(bool active) override;

 private:
  friend class Clock;

  // Queues the observer with the loop when it is armed and eligible, and
  // takes it off the queue when it is not.
  void schedule();
  void unqueue();
  bool queued() const;
  void timeDue();

  double timeMin_ = 0.0;
  bool armed_ = true;
  EventLoop::Timer pending_;
};

}  // namespace Kiv
