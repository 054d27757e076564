// What the configuration and the status entity share: the notification
// procedure with hostile observers, the observer list order, the lifecycle
// hooks, the factories and the entity's side of the attribute log. Each
// case runs on both entities, changing one boolean attribute of each.
#include <gtest/gtest.h>

#include <string>

#include "Kiv/Exception.h"
#include "Kiv/NboAttrLog.h"
#include "agent/Config.h"
#include "agent/Status.h"
#include "support/ExceptionMessage.h"
#include "tests/agent/AgentObservers.h"

namespace {

using namespace agent_test;
using Bridging::Orva::Config;
using Bridging::Orva::Status;

template <class E>
struct Model;

template <>
struct Model<Config> {
  using Watcher = ConfigWatcher;
  static constexpr Kiv::AttributeId id = 259;
  static constexpr char const* names[] = {"isNondestructing", "extTapDevice", "complete"};  // 6, 258, 259
  static Kiv::Ptr<Config> make(char const* name) { return Bridging::Orva::configFactory(name); }
  static bool value(Config const& c) { return c.complete(); }
  static void set(Config& c, bool v) { c.completeIs(v); }
};

template <>
struct Model<Status> {
  using Watcher = StatusWatcher;
  static constexpr Kiv::AttributeId id = 258;
  static constexpr char const* names[] = {"isNondestructing", "initialized", "fabricDeviceName"};
  static Kiv::Ptr<Status> make(char const* name) { return Bridging::Orva::statusFactory(name); }
  static bool value(Status const& s) { return s.initialized(); }
  static void set(Status& s, bool v) { s.initializedIs(v); }
};

template <class E>
class AgentNotification : public ::testing::Test {
 protected:
  using M = Model<E>;
  using W = typename M::Watcher;

  Kiv::Ptr<W> watch(std::string tag) { return agent_test::watch<W>(entity, &log, std::move(tag)); }
  void set(bool v) { M::set(*entity, v); }
  // The log entry of `tag` hearing the attribute change to `v`.
  static std::string heard(std::string tag, bool v) {
    return tag + ":" + std::to_string(M::id) + "=" + (v ? "1" : "0");
  }
  static std::string threw(std::string tag) { return tag + "!" + std::to_string(M::id); }

  Kiv::Ptr<E> entity = M::make("agent");
  Log log;
};

using Entities = ::testing::Types<Config, Status>;
TYPED_TEST_SUITE(AgentNotification, Entities);

TYPED_TEST(AgentNotification, RealChangeNotifiesStreamAdapterFirstThenObserversInRegistrationOrder) {
  auto a = this->watch("a"), b = this->watch("b");
  auto s = watch<StreamAdapterWatcher<typename TestFixture::W>>(this->entity, &this->log, "s");
  this->set(false);
  EXPECT_TRUE(this->log.empty()) << "the initial value stored again is no change";
  this->set(true);
  this->set(true);
  EXPECT_EQ(this->log, (Log{this->heard("s", true), this->heard("a", true), this->heard("b", true)}));
}

TYPED_TEST(AgentNotification, ThrowingObserversGetTheExceptionAndAThrowingHandlerPropagatesWithTheValueStored) {
  auto a = this->watch("a"), b = this->watch("b");
  a->hook = [] { Kiv::throwRangeException("boom"); };
  b->hook = [] { throw 42; };
  this->set(true);
  EXPECT_EQ(this->log, (Log{this->heard("a", true), this->threw("a"), this->heard("b", true), this->threw("b")}));
  this->log.clear();
  a->exceptionHook = [] { Kiv::throwInternalException("handler failed"); };
  EXPECT_THROW(this->set(false), Kiv::InternalException);
  EXPECT_FALSE(TestFixture::M::value(*this->entity));
  EXPECT_EQ(this->log, (Log{this->heard("a", false), this->threw("a")}));
  EXPECT_EQ(a->references(), 1u) << "the snapshot let go of its references";
}

// During one notification, observer a releases b (skipped), unlinks c while
// the test still holds it (called) and registers `late` (called only for
// later changes).
TYPED_TEST(AgentNotification, ObserversChangedDuringANotificationFollowItsSnapshot) {
  auto a = this->watch("a"), b = this->watch("b"), c = this->watch("c"), d = this->watch("d");
  decltype(a) late;
  a->hook = [&] {
    if (late) return;
    b = nullptr;
    c->isRegisteredNotifieeIs(false);
    late = this->watch("late");
  };
  this->set(true);
  this->set(false);
  EXPECT_EQ(this->log, (Log{this->heard("a", true), this->heard("c", true), this->heard("d", true),
                            this->heard("a", false), this->heard("d", false), this->heard("late", false)}));
  EXPECT_EQ(this->entity->kivNotifieeList().members(), 3u);
}

TYPED_TEST(AgentNotification, ReenteringMutatorNotifiesTheNewerStateInsideTheOuterNotification) {
  auto a = this->watch("a"), b = this->watch("b");
  a->hook = [&] {
    a->hook = nullptr;
    this->set(false);
  };
  this->set(true);
  // b hears of both changes, each time with the state stored last.
  EXPECT_EQ(this->log, (Log{this->heard("a", true), this->heard("a", false), this->heard("b", false),
                            this->heard("b", false)}));
  EXPECT_FALSE(TestFixture::M::value(*this->entity));
}

// A direct zeroReferencesIs call notifies whatever its argument. Then a
// weak observer drops the last reference during a notification: the entity
// stays until the notification ends, then tells its weak observers (one of
// which throws) and detaches them.
TYPED_TEST(AgentNotification, WeakObserversHearZeroReferencesAlsoWhenOneDropsTheEntityMidNotification) {
  auto a = this->watch("a"), b = this->watch("b");
  a->isWeakReferenceIs(true);
  b->isWeakReferenceIs(true);
  this->entity->zeroReferencesIs(false);
  TypeParam* raw = this->entity.ptr();
  a->hook = [&] {
    if (!this->entity) Kiv::throwRangeException("boom");
    this->entity = nullptr;
  };
  TestFixture::M::set(*raw, true);
  EXPECT_EQ(this->log, (Log{"a:5", "b:5", this->heard("a", true), this->heard("b", true), "a:5", "a!5", "b:5"}));
  EXPECT_FALSE(a->notifier());
  EXPECT_FALSE(b->notifier());
  EXPECT_EQ(b->name(), Kiv::String8());
}

TYPED_TEST(AgentNotification, NondestructingChangeNotifiesOnceWithItsIdAndPlainObserversArePassedOver) {
  auto plain = Kiv::make<Kiv::Entity::Notifiee>();
  plain->notifierIs(this->entity);
  auto a = this->watch("a");
  this->set(true);
  this->entity->isNondestructingIs(false);
  this->entity->isNondestructingIs(true);
  this->entity->isNondestructingIs(true);
  a->hook = [] { Kiv::throwRangeException("boom"); };
  this->entity->isNondestructingIs(false);
  EXPECT_EQ(this->log, (Log{this->heard("a", true), "a:6=1", "a:6=0", "a!6"}));
}

TYPED_TEST(AgentNotification, FactoryEntityAttributeNamesAndNotifierBinding) {
  auto e = TestFixture::M::make("made");
  EXPECT_EQ(e->name(), Kiv::Name("made"));
  EXPECT_EQ(e->references(), 1u);
  EXPECT_FALSE(TestFixture::M::value(*e));
  auto const& names = TestFixture::M::names;
  EXPECT_EQ((Log{e->attributeString(6).stdString(), e->attributeString(258).stdString(),
                 e->attributeString(259).stdString()}),
            (Log{names[0], names[1], names[2]}))
      << "ids other than the entity's own are the base entity's";

  auto a = this->watch("a");
  EXPECT_EQ(a->name(), Kiv::String8("agent"));
  EXPECT_EQ(this->entity->references(), 2u) << "a strong observer counts its notifier";
  a->notifierIs(Kiv::make<Kiv::Entity::Notifiee>());
  EXPECT_FALSE(a->notifier()) << "a notifiee observes only its own entity type";
  EXPECT_EQ(a->name(), Kiv::String8());
  EXPECT_EQ(this->entity->kivNotifieeList().members(), 0u);
  EXPECT_EQ(this->entity->references(), 1u);
}

TYPED_TEST(AgentNotification, AttributeLogSideFindsNoAdapterAndRefusesToAttach) {
  auto& e = *this->entity;
  auto out = Kiv::make<Kiv::NboAttrLog::Out>();
  EXPECT_TRUE(e.kivHasAttrLogInterface());
  EXPECT_FALSE(e.kivNboAttrLogSa(out));
  EXPECT_FALSE(static_cast<TypeParam const&>(e).kivNboAttrLogSa(out));
  EXPECT_FALSE(e.kivNboAttrLogSaDel(out));
  EXPECT_FALSE(e.kivNboAttrLogSaForMsgChannel(nullptr));
  EXPECT_EQ(TestSupport::rangeMessage([&] { e.kivNboAttrLogSaIs({}, 0, nullptr, nullptr); }), "null ValidPtr");
  EXPECT_EQ(TestSupport::rangeMessage([&] { e.kivNboAttrLogSaIs({}, 0, out, nullptr); }),
            "attribute log not supported");
}

TEST(StatusNotification, FabricDeviceNameNotifiesOnlyWhenItsBytesChange) {
  Log log;
  auto status = Bridging::Orva::statusFactory("status");
  auto a = watch<StatusWatcher>(status, &log, "a");
  status->fabricDeviceNameIs("");
  status->fabricDeviceNameIs("fab0");
  status->fabricDeviceNameIs(Kiv::String8(std::string("fab") + "0"));
  a->hook = [] { Kiv::throwRangeException("boom"); };
  status->fabricDeviceNameIs("fab1");
  EXPECT_EQ(log, (Log{"a:259=fab0", "a:259=fab1", "a!259"}));
  EXPECT_EQ(status->fabricDeviceName(), Kiv::String8("fab1"));
}

}  // namespace
