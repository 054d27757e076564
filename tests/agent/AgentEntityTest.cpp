// What the agent entities share (agent/AgentEntity.h), shown on the
// configuration, which changes its boolean `complete` (attribute 259): the
// notification procedure with hostile observers, the observer list order,
// the lifecycle hooks, the factory and the entity's side of the attribute
// log. The status entity's own attributes close the file.
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

class AgentNotification : public ::testing::Test {
 protected:
  Kiv::Ptr<ConfigWatcher> watch(std::string tag) {
    return agent_test::watch<ConfigWatcher>(config, &log, std::move(tag));
  }

  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agent");
  Log log;
};

// A stream adapter registered last hears first; an observer that throws
// is told so and the others still hear; what its exception handler throws
// reaches the caller, with the value stored.
TEST_F(AgentNotification, RealChangesGoToStreamAdapterFirstThenInRegistrationOrderAndThrowersAreTold) {
  auto a = watch("a"), b = watch("b");
  auto s = agent_test::watch<StreamAdapterWatcher<ConfigWatcher>>(config, &log, "s");
  config->completeIs(false);
  EXPECT_TRUE(log.empty()) << "the initial value stored again is no change";
  config->completeIs(true);
  config->completeIs(true);
  EXPECT_EQ(log, (Log{"s:259=1", "a:259=1", "b:259=1"}));

  log.clear();
  a->hook = [] { Kiv::throwRangeException("boom"); };
  b->hook = [] { throw 42; };
  config->completeIs(false);
  EXPECT_EQ(log, (Log{"s:259=0", "a:259=0", "a!259", "b:259=0", "b!259"}));
  log.clear();
  a->exceptionHook = [] { Kiv::throwInternalException("handler failed"); };
  EXPECT_THROW(config->completeIs(true), Kiv::InternalException);
  EXPECT_TRUE(config->complete());
  EXPECT_EQ(log, (Log{"s:259=1", "a:259=1", "a!259"}));
  EXPECT_EQ(a->references(), 1u) << "the snapshot let go of its references";
}

// During one notification, observer a releases b (skipped), unlinks c while
// the test still holds it (called) and registers `late` (called only for
// later changes).
TEST_F(AgentNotification, ObserversChangedDuringANotificationFollowItsSnapshot) {
  auto a = watch("a"), b = watch("b"), c = watch("c"), d = watch("d");
  decltype(a) late;
  a->hook = [&] {
    if (late) return;
    b = nullptr;
    c->isRegisteredNotifieeIs(false);
    late = watch("late");
  };
  config->completeIs(true);
  config->completeIs(false);
  EXPECT_EQ(log, (Log{"a:259=1", "c:259=1", "d:259=1", "a:259=0", "d:259=0", "late:259=0"}));
  EXPECT_EQ(config->kivNotifieeList().members(), 3u);
}

TEST_F(AgentNotification, ReenteringMutatorNotifiesTheNewerStateInsideTheOuterNotification) {
  auto a = watch("a"), b = watch("b");
  a->hook = [&] {
    a->hook = nullptr;
    config->completeIs(false);
  };
  config->completeIs(true);
  // b hears of both changes, each time with the state stored last.
  EXPECT_EQ(log, (Log{"a:259=1", "a:259=0", "b:259=0", "b:259=0"}));
  EXPECT_FALSE(config->complete());
}

// The lifecycle hooks notify under their own ids: a nondestructing change
// once (plain observers, which lack its callback, are passed over), and a
// direct zeroReferencesIs call whatever its argument. The entity's real end
// is shown by the collection's delete-all (ConfigTest.cpp).
TEST_F(AgentNotification, LifecycleHooksNotifyUnderTheirIdsAndPassOverPlainObservers) {
  auto plain = Kiv::make<Kiv::Entity::Notifiee>();
  plain->notifierIs(config);
  auto a = watch("a");
  config->isNondestructingIs(false);
  config->isNondestructingIs(true);
  config->isNondestructingIs(true);
  config->zeroReferencesIs(true);
  a->hook = [] { Kiv::throwRangeException("boom"); };
  config->zeroReferencesIs(false);
  config->isNondestructingIs(false);
  EXPECT_EQ(log, (Log{"a:6=1", "a:5", "a:5", "a!5", "a:6=0", "a!6"}));
}

TEST_F(AgentNotification, FactoryEntityAttributeNamesAndNotifierBinding) {
  auto e = Bridging::Orva::configFactory("made");
  EXPECT_EQ(e->name(), Kiv::Name("made"));
  EXPECT_EQ(e->attributeString(258).stdString() + " " + e->attributeString(259).stdString() + " " +
                e->attributeString(6).stdString(),
            "extTapDevice complete isNondestructing")
      << "ids other than the entity's own are the base entity's";

  auto a = watch("a");
  EXPECT_EQ(a->name(), Kiv::String8("agent"));
  a->notifierIs(Kiv::make<Kiv::Entity::Notifiee>());
  EXPECT_FALSE(a->notifier()) << "a notifiee observes only its own entity type";
  EXPECT_EQ(a->name(), Kiv::String8());
  EXPECT_EQ(config->kivNotifieeList().members(), 0u);
}

// The status shares all of the above; its own mutators notify only real
// changes (the name by its bytes) under their own ids.
TEST(StatusNotification, OwnAttributesNotifyOnlyRealChangesUnderTheirIds) {
  Log log;
  auto status = Bridging::Orva::statusFactory("status");
  auto a = watch<StatusWatcher>(status, &log, "a");
  status->initializedIs(false);
  status->fabricDeviceNameIs("");
  status->fabricDeviceNameIs("fab0");
  status->fabricDeviceNameIs(Kiv::String8(std::string("fab") + "0"));
  a->hook = [] { Kiv::throwRangeException("boom"); };
  status->initializedIs(true);
  status->initializedIs(true);
  status->fabricDeviceNameIs("fab1");
  EXPECT_EQ(log, (Log{"a:259=fab0", "a:258=1", "a!258", "a:259=fab1", "a!259"}));
  EXPECT_EQ(status->fabricDeviceName(), Kiv::String8("fab1"));
  EXPECT_EQ(status->attributeString(258).stdString() + " " + status->attributeString(259).stdString(),
            "initialized fabricDeviceName");
}

}  // namespace
