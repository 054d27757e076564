#include "Kiv/Clock.h"

#include <cmath>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/Strep.h"
#include "Kiv/TypeRegistration.h"

namespace Kiv {

Ptr<Clock> Clock::ClockIs(Name const& name) { return make<Clock>(name); }

Clock::Clock(Name const& name) : Entity(name) {}

Clock::~Clock() {
  // Weak observers outlive their clock: their armings end with it. The
  // queue entries go in a second pass, since releasing them may destroy
  // observers that this pass would otherwise still visit.
  std::vector<EventLoop::Timer> entries;
  kivNotifieeList().forEach([&](PtrInterface::NotifieeConst& n) {
    auto* observer = dynamic_cast<NotifieeConst*>(&n);
    if (!observer) return;
    observer->armed_ = false;
    if (observer->pending_) entries.push_back(observer->pending_);
    observer->pending_ = EventLoop::Timer();
  });
  for (auto const& entry : entries) eventLoop().timerDel(entry);
}

namespace {

// The clock's type: a generic tool makes a clock from its name, as a host
// does with ClockIs, and reads a reference to one from its full name.
class ClockType : public KivType {
 public:
  using KivType::genericIf;
  using KivType::KivType;

  Ptr<GenericIf> genericIf(Ptr<GenericIf const> const& arguments, bool isConst) const override {
    GenericIf::List_ const& list = argumentList(arguments);
    Name const name = argument<Name>(list, 0, "name");
    requireArgumentsAtMost(list, 1, "Clock");
    return KivType::genericIf(Clock::ClockIs(name).ptr(), isConst);
  }
  Ptr<GenericIf> genericIfFromStrep(String8 const& text, bool isConst) const override {
    return KivType::genericIf(strepToEntity<Clock>(text).ptr(), isConst);
  }
};

}  // namespace

Ptr<KivType> Clock::_fwkType() {
  static KivType* const type = [] {
    auto* t = makeForProcess<ClockType>("Kiv::Clock", KivType::entityType());
    t->isEntityIs(true);
    t->hasGenericIfSupportIs(true);
    declareConstructorArguments(*t, {{"name", "Kiv::Name"}});
    KivType::entityType()->derivedTypeQEnq(Ptr<KivType>(t));
    return t;
  }();
  return Ptr<KivType>(type);
}
Ptr<KivType> Clock::fwkType() const { return _fwkType(); }

double Clock::time() const { return now(); }

String8 Clock::attributeString(AttributeId id) const {
  return id == timeAttributeId ? String8("time") : Entity::attributeString(id);
}

Clock::NotifieeConst::NotifieeConst() noexcept = default;

// Only reached when the loop no longer holds the observer (or a derived
// constructor threw after queueing it); either way its entry must go.
Clock::NotifieeConst::~NotifieeConst() { unqueue(); }

void Clock::NotifieeConst::timeMinIs(double const& t) {
  if (std::isnan(t)) throwRangeException("a clock's minimum time must be a number");
  if (armed_ && t == timeMin_ && queued()) return;
  // The new entry is queued before the pending one goes, so that a failure
  // to queue it leaves the former arming as it was.
  double const formerTime = timeMin_;
  bool const formerArmed = armed_;
  EventLoop::Timer const former = pending_;
  pending_ = EventLoop::Timer();
  timeMin_ = t;
  armed_ = true;
  try {
    schedule();
  } catch (...) {
    timeMin_ = formerTime;
    armed_ = formerArmed;
    pending_ = former;
    throw;
  }
  if (former) eventLoop().timerDel(former);
}

void Clock::NotifieeConst::onTime() {}

void Clock::NotifieeConst::notifierIs(Ptr<PtrInterface const> const& notifier) {
  PtrInterface const* const before = rawNotifier();
  bool const changes = dynamic_cast<Clock const*>(notifier.ptr()) != before;
  NotifieeConstOf<Clock>::notifierIs(notifier);
  if (!changes) return;
  if (before) {
    armed_ = false;
    unqueue();
  }
  schedule();
}

void Clock::NotifieeConst::isRegisteredNotifieeIs(bool registered) {
  NotifieeConstOf<Clock>::isRegisteredNotifieeIs(registered);
  schedule();
}

void Clock::NotifieeConst::hasNotificationActiveIs(bool active) {
  NotifieeConstOf<Clock>::hasNotificationActiveIs(active);
  schedule();
}

void Clock::NotifieeConst::schedule() {
  if (!armed_ || !rawNotifier() || !isRegisteredNotifiee() || !hasNotificationActive()) {
    unqueue();
    return;
  }
  if (queued()) return;
  // The entry's reference keeps the observer alive for as long as it is
  // queued; timeDue() finds out whether anyone else still wants it.
  Ptr<NotifieeConst> self(this);
  pending_ = eventLoop().timerIs(timeMin_, [self] { self->timeDue(); });
}

void Clock::NotifieeConst::unqueue() {
  EventLoop::Timer const entry = pending_;
  pending_ = EventLoop::Timer();
  if (entry) eventLoop().timerDel(entry);
}

bool Clock::NotifieeConst::queued() const { return eventLoop().timerPending(pending_); }

void Clock::NotifieeConst::timeDue() {
  pending_ = EventLoop::Timer();
  // The loop's entry is the last reference: the owner let the observer go.
  if (references() <= 1) return;
  // Eligibility is kept in step by the overrides above; a weak observer
  // whose clock ended is caught here too.
  if (!armed_ || !rawNotifier() || !isRegisteredNotifiee() || !hasNotificationActive()) return;
  armed_ = false;
  try {
    Expect scope(ExceptionId::none);
    onTime();
  } catch (...) {
    onNotificationException(Clock::timeAttributeId);
  }
}

}  // namespace Kiv
