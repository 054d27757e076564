// The one notification mechanism of the runtime, exercised through a small
// entity with a value attribute and hostile observers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/StreamAdapter.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"

namespace {

class Gauge : public Kiv::Entity {
 public:
  class NotifieeConst : public Kiv::Entity::NotifieeConstOf<Gauge> {
   public:
    virtual void onLevel() {}
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Gauge, NotifieeConst>;

  explicit Gauge(Kiv::Name const& n) : Kiv::Entity(n) {}
  int level() const { return level_; }
  void levelIs(int v) {
    if (v == level_) return;
    level_ = v;
    kivNotify(300, &NotifieeConst::onLevel);
  }

 private:
  int level_ = 0;
};

using Log = std::vector<std::string>;

struct Watcher : Gauge::Notifiee {
  Watcher(Log* log, std::string tag) : log(log), tag(std::move(tag)) {}
  void onLevel() override {
    log->push_back(tag + ":" + std::to_string(notifier()->level()));
    if (hook) hook();
  }
  void onNotificationException(Kiv::AttributeId id) override { log->push_back(tag + "!" + std::to_string(id)); }
  Log* log;
  std::string tag;
  std::function<void()> hook;
};

struct FrontAdapter : Kiv::Entity::KivNboAttrLogSa {
  FrontAdapter() : Kiv::Entity::KivNboAttrLogSa(defaultBits(), 0, nullptr, nullptr) {}
};

// An observer acting for a stream adapter, as the attribute log's observers
// do: its reactor is the adapter.
struct AdapterWatcher : Watcher {
  using Watcher::Watcher;
  Kiv::Ptr<Kiv::PtrInterface> kivReactor() const override { return adapter; }
  Kiv::Ptr<FrontAdapter> adapter = Kiv::make<FrontAdapter>();
};

class Notification : public ::testing::Test {
 protected:
  Kiv::Ptr<Watcher> watch(std::string tag) {
    auto w = Kiv::make<Watcher>(&log, tag);
    w->notifierIs(gauge);
    return w;
  }
  Kiv::Ptr<Gauge> gauge = Kiv::make<Gauge>("g");
  Log log;
};

TEST_F(Notification, StreamAdaptersFirstThenRegistrationOrderAfterTheStore) {
  auto a = watch("a"), b = watch("b");
  gauge->levelIs(3);
  EXPECT_EQ(log, (Log{"a:3", "b:3"}));
  gauge->levelIs(3);
  EXPECT_EQ(log.size(), 2u) << "an equal value notifies nobody";

  a->isRegisteredNotifieeIs(false);
  a->isRegisteredNotifieeIs(true);  // back to the back of the list
  auto s = Kiv::make<AdapterWatcher>(&log, "s");
  s->notifierIs(gauge);
  log.clear();
  gauge->levelIs(1);
  EXPECT_EQ(log, (Log{"s:1", "b:1", "a:1"}));
}

TEST_F(Notification, ThrowingObserverGetsExceptionAndOthersStillCalled) {
  auto a = watch("a"), b = watch("b");
  a->hook = [] { Kiv::throwRangeException("boom"); };
  gauge->levelIs(2);
  EXPECT_EQ(log, (Log{"a:2", "a!300", "b:2"}));
}

TEST_F(Notification, ObserverReleasedByEarlierObserverIsSkippedAlsoByNestedNotifications) {
  auto a = watch("a");
  auto b = watch("b");
  auto c = watch("c");
  a->hook = [&] { b = nullptr; };
  gauge->levelIs(5);
  EXPECT_EQ(log, (Log{"a:5", "c:5"}));
  EXPECT_EQ(gauge->kivNotifieeList().members(), 2u);

  // Released, then a mutator re-entered from the same callback: the nested
  // notification's own hold does not make the released observer live.
  auto d = watch("d");
  log.clear();
  a->hook = [&] {
    if (!d) return;
    d = nullptr;
    gauge->levelIs(7);
  };
  gauge->levelIs(6);
  EXPECT_EQ(log, (Log{"a:6", "a:7", "c:7", "c:7"}));
}

TEST_F(Notification, ObserverReleasedInANestedNotificationEndsWhenTheOutermostOneIsOver) {
  struct Counted : Watcher {
    Counted(Log* log, std::string tag, int* ended) : Watcher(log, std::move(tag)), ended(ended) {}
    ~Counted() override { ++*ended; }
    int* ended;
  };
  int ended = 0;
  auto other = Kiv::make<Gauge>("other");
  auto a = watch("a");
  auto self = Kiv::make<Counted>(&log, "self", &ended);
  self->notifierIs(other);
  // a's call changes the other entity, whose observer releases itself in
  // its own call and then still reads its fields.
  a->hook = [&] {
    other->levelIs(gauge->level());
    log.push_back("ended " + std::to_string(ended));
  };
  self->hook = [&] {
    self = nullptr;
    other->levelIs(-1);  // nested once more: the released observer is not called again
  };
  gauge->levelIs(4);
  EXPECT_EQ(log, (Log{"a:4", "self:4", "ended 0"})) << "alive through every call still on the stack";
  EXPECT_EQ(ended, 1) << "and freed once the outermost notification was over";
}

TEST_F(Notification, ObserverDetachedOrEndingIsNeitherCalledNorHeld) {
  // Moved to another entity by an earlier observer: it observes that one now.
  auto a = watch("a"), b = watch("b");
  auto other = Kiv::make<Gauge>("other");
  a->hook = [&] { b->notifierIs(other); };
  gauge->levelIs(1);
  EXPECT_EQ(log, (Log{"a:1"}));

  // An observer whose destructor changes the entity it still observes: the
  // change is told to the others only, and the ending observer is never
  // held (holding it at a count of zero freed it twice).
  struct Leaving : Watcher {
    using Watcher::Watcher;
    ~Leaving() override { notifier()->levelIs(9); }
  };
  a->hook = nullptr;
  auto leaving = Kiv::make<Leaving>(&log, "l");
  leaving->notifierIs(gauge);
  log.clear();
  leaving = nullptr;
  EXPECT_EQ(log, (Log{"a:9"}));
  EXPECT_EQ(gauge->kivNotifieeList().members(), 1u);
}

TEST_F(Notification, ObserverRegisteredDuringNotificationIsNotCalledForIt) {
  Kiv::Ptr<Watcher> late;
  auto a = watch("a");
  a->hook = [&] {
    if (!late) late = watch("late");
  };
  gauge->levelIs(1);
  EXPECT_EQ(log, (Log{"a:1"}));
  gauge->levelIs(2);
  EXPECT_EQ(log, (Log{"a:1", "a:2", "late:2"}));
}

TEST_F(Notification, UnregisteredButHeldObserverStillCalledForCurrentChange) {
  auto a = watch("a"), b = watch("b");
  a->hook = [&] { b->isRegisteredNotifieeIs(false); };
  gauge->levelIs(1);
  EXPECT_EQ(log, (Log{"a:1", "b:1"}));
  gauge->levelIs(2);
  EXPECT_EQ(log, (Log{"a:1", "b:1", "a:2"}));
}

TEST_F(Notification, ObserverKeepsItsEntityUnlessWeakAndAWeakOneMayDropTheLastReference) {
  auto a = watch("a"), b = watch("b");
  EXPECT_EQ(gauge->references(), 3u);
  a->isWeakReferenceIs(true);
  b->notifierIs(nullptr);
  EXPECT_EQ(gauge->references(), 1u);
  EXPECT_EQ(gauge->kivNotifieeList().members(), 1u);

  Gauge* raw = gauge.ptr();
  a->hook = [&] { gauge = nullptr; };
  raw->levelIs(4);
  EXPECT_EQ(log, (Log{"a:4"}));
  EXPECT_FALSE(a->notifier()) << "a weak observer is detached when its entity ends";
}

// A gauge that says when it ends.
struct EndingGauge : Gauge {
  EndingGauge(Kiv::Name const& n, Log* log) : Gauge(n), log(log) {}
  ~EndingGauge() override { log->push_back(name().string().stdString() + " ends"); }
  Log* log;
};

// Nothing holds an entity while it notifies: when its last reference goes
// during its notification, every observer still hears the change, also
// through a notification of another entity nested in it, and the entity
// ends as its own notification is over; one taken again meanwhile ends
// when its holder lets go.
TEST_F(Notification, AnEntityReleasedDuringItsNotificationEndsWhenThatNotificationIsOver) {
  Kiv::Ptr<Gauge> g = Kiv::make<EndingGauge>("g", &log);
  auto weakWatch = [&](std::string tag, Kiv::Ptr<Gauge> const& on) {
    auto w = Kiv::make<Watcher>(&log, tag);
    w->notifierIs(on);
    w->isWeakReferenceIs(true);
    return w;
  };
  auto a = weakWatch("a", g), b = weakWatch("b", g), o = weakWatch("o", gauge);
  a->hook = [&] { gauge->levelIs(gauge->level() + 1); };
  o->hook = [&] { g = nullptr; };
  Gauge* raw = g.ptr();
  raw->levelIs(1);
  EXPECT_EQ(log, (Log{"a:1", "o:1", "b:1", "g ends"})) << "released inside a nested notification";
  EXPECT_FALSE(a->notifier());

  log.clear();
  g = Kiv::make<EndingGauge>("h", &log);
  a = weakWatch("a", g);
  b = weakWatch("b", g);
  Kiv::Ptr<Gauge> kept;
  a->hook = [&] { g = nullptr; };
  b->hook = [&] { kept = b->notifier(); };
  raw = g.ptr();
  raw->levelIs(2);
  EXPECT_EQ(log, (Log{"a:2", "b:2"})) << "taken again before the notification was over";
  kept = nullptr;
  EXPECT_EQ(log, (Log{"a:2", "b:2", "h ends"}));
}

}  // namespace

namespace {

// An observer that offers its changes to the runtime first, as generic
// adapters do, and counts what reaches it now and later.
struct Deferring : Gauge::Notifiee {
  void onLevel() override {
    if (kivOnAttribute(300, &pending)) return;
    ++now;
  }
  void handleNotification(Kiv::AttributeId id) override {
    delivered.push_back(id);
    onLevel();  // a replay through the same offer is handled at once
  }
  PendingChanges pending;
  int now = 0;
  std::vector<Kiv::AttributeId> delivered;
};

TEST(DeferredDelivery, ChangesAreCoalescedAndDeliveredAtTheNextTurnToObserversStillThere) {
  Kiv::eventLoop().reset();
  auto g = Kiv::make<Gauge>("g");
  auto d = Kiv::make<Deferring>();
  d->notifierIs(g);
  d->kivDeferredDeliveryIs(true);
  g->levelIs(1);
  g->levelIs(2);
  EXPECT_EQ(d->now, 0);
  EXPECT_EQ(d->pending.count, 2u);
  Kiv::eventLoop().runOnce();
  EXPECT_EQ(d->delivered, (std::vector<Kiv::AttributeId>{300}));
  EXPECT_EQ(d->now, 1);
  d->kivDeferredDeliveryIs(false);
  g->levelIs(3);
  EXPECT_EQ(d->now, 2);

  d->kivDeferredDeliveryIs(true);
  g->levelIs(4);
  d = nullptr;
  Kiv::eventLoop().runOnce();  // no call into the released observer (ASan)
}

}  // namespace
