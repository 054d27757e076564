// The agent model's generic adapters: construction, attribute operations
// and their errors, iteration, and the adapters' part in notification.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/KivType.h"
#include "Kiv/NboAttrLog.h"
#include "agent/GenericAdapters.h"
#include "agent/Registration.h"
#include "support/ExceptionMessage.h"
#include "support/GenericCalls.h"
#include "support/GenericIfError.h"
#include "tests/agent/AgentObservers.h"

namespace {

using namespace agent_test;
using namespace TestSupport;
using Bridging::Orva::Config;
using Bridging::Orva::Status;
using Kiv::GenericIf;
using TapDevice = Config::TapDevice;
using Heard = std::vector<std::string>;
namespace Id = Kiv::ExceptionId;

constexpr std::uint32_t opGet = GenericIf::opGet, opCount = GenericIf::opCount, opExists = GenericIf::opExists,
                        opSet = GenericIf::opSet, opDel = GenericIf::opDel;
constexpr Kiv::AttributeId extTap = Config::extTapDeviceAttrId, complete = Config::completeAttrId;

G tap(char const* name, std::uint16_t fileno) { return Kiv::genericValue(TapDevice(name, fileno), false); }

TEST(TapDeviceGenericIf, ValueOperationsFieldsAndTheirErrors) {
  auto const type = TapDevice::_fwkType();
  auto const g = type->genericIf(GenericIf::list({}), true);
  EXPECT_FALSE(g->isConst()) << "a new tap device is writable";
  EXPECT_TRUE(valueOf<bool>(op(g, 0, GenericIf::opIsDefault)));
  op(g, TapDevice::filenoAttrId, opSet, nullptr, integer(5));
  EXPECT_FALSE(valueOf<bool>(op(g, 0, GenericIf::opIsDefault)));
  EXPECT_TRUE(valueOf<bool>(op(g, 0, GenericIf::opEqual, tap("", 5))));
  EXPECT_TRUE(valueOf<bool>(op(g, 0, GenericIf::opNotEqual, nullptr, tap("a", 5)))) << "the argument as the value";
  auto const c = type->genericIfFromStrep(Bridging::Orva::valueToStrep(TapDevice("et'1", 3)), true);
  EXPECT_TRUE(failsWith([&] { type->genericIf(GenericIf::list({str("x")}), false); }, Id::unknownArg, "TapDevice"));
  EXPECT_TRUE(failsWith([&] { op(g, 0, GenericIf::opEqual, integer(5)); }, Id::type, "kivOpArg"));
  EXPECT_TRUE(failsWith([&] { op(g, TapDevice::filenoAttrId, opSet, nullptr, integer(70000)); }, Id::type, "fileno"));
  EXPECT_TRUE(failsWith([&] { op(g, TapDevice::nameAttrId, opGet, integer(0)); }, Id::badIndex, "name"));
  EXPECT_TRUE(failsWith([&] { op(g, TapDevice::nameAttrId, opCount); }, Id::opNotSupported, "name"));
  EXPECT_TRUE(failsWith([&] { op(c, TapDevice::nameAttrId, opSet); }, Id::constInstance, constMessage));
  EXPECT_TRUE(failsWith([&] { c->castTo(Kiv::Builtin<bool>::_fwkType()); }, Id::type, "TapDevice"));
  EXPECT_EQ(valueOf<TapDevice>(g), TapDevice("", 5)) << "refused writes change nothing";
  EXPECT_EQ(valueOf<Kiv::String8>(op(c, TapDevice::nameAttrId, opGet)), Kiv::String8("et'1"));
  EXPECT_TRUE(c->clone()->isConst());
}

TEST(EntityGenericConstruction, FromArgumentsTextAndOrphanRecords) {
  auto const type = Config::_fwkType();
  auto const two = GenericIf::list({str("a"), str("b")});
  EXPECT_TRUE(failsWith([&] { type->genericIf(GenericIf::list({}), false); }, Id::type, "name"))
      << "a list shorter than the arguments is not read past its end";
  EXPECT_TRUE(failsWith([&] { type->genericIf(two, false); }, Id::unknownArg, "Config"));
  EXPECT_TRUE(failsWith([&] { type->genericIf(str("a"), false); }, Id::type, "Kiv::GenericIf::List_"));
  auto const made = type->genericIf(GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("made")}), true);
  ASSERT_TRUE(Kiv::genericObject<Config>(made));
  EXPECT_EQ(Kiv::genericObject<Config>(made)->name(), Kiv::Name("made"));
  EXPECT_FALSE(made->isConst());
  EXPECT_EQ(made->object()->references(), 1u) << "the adapter holds the entity; its observer does not";

  auto const status = Bridging::Orva::statusFactory("statusText");
  Kiv::Dir::root()->entryIs(status);
  EXPECT_EQ(Kiv::genericObject<Status>(Status::_fwkType()->genericIfFromStrep(" '/statusText' ", false)), status.ptr());
  EXPECT_FALSE(type->genericIfFromStrep("None", false)->object());
  EXPECT_EQ(rangeMessage([&] { type->genericIfFromStrep("'/statusText'", false); }),
            "cannot convert '/statusText' at column 0 to Bridging::Orva::Config")
      << "a status is no configuration";
  Kiv::Dir::root()->entryDel("statusText");

  auto out = Kiv::make<Kiv::NboAttrLog::Out>();
  out << Kiv::String8("fromLog");
  auto const e = Status::_fwkType()->newEntity(Kiv::make<Kiv::NboAttrLog::In>(out->bytes()));
  ASSERT_TRUE(dynamic_cast<Status*>(e.ptr()));
  EXPECT_EQ(e->name(), Kiv::Name("fromLog"));
}

class ConfigGenericIf : public ::testing::Test {
 protected:
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("cfg");
  G g = Kiv::KivType::genericIf(config.ptr(), false);
  G c = Kiv::KivType::genericIf(config.ptr(), true);
};

TEST_F(ConfigGenericIf, TapDevicesByStringKeyThroughTheEntity) {
  EXPECT_TRUE(failsWith([&] { op(g, extTap, opGet); }, Id::type, "kiv_index"));
  EXPECT_TRUE(failsWith([&] { op(g, extTap, opGet, integer(1)); }, Id::type, "kiv_index"));
  auto const exists = [&] { return valueOf<bool>(op(g, extTap, opExists, str("et1"))); };
  auto const version = [&] { return valueOf<unsigned int>(op(g, extTap, GenericIf::opVersion)); };
  unsigned int const before = version();
  EXPECT_FALSE(exists());
  EXPECT_FALSE(op(g, extTap, opSet, str("et1"), tap("tap1", 7)));
  EXPECT_TRUE(exists());
  EXPECT_EQ(valueOf<unsigned int>(op(g, extTap, opCount)), 1u);
  EXPECT_GT(version(), before);
  EXPECT_EQ(valueOf<TapDevice>(op(c, extTap, opGet, str("et1"))), TapDevice("tap1", 7));
  EXPECT_EQ(valueOf<TapDevice>(op(c, extTap, opGet, str("none"))), TapDevice());
  EXPECT_TRUE(failsWith([&] { op(g, extTap, 5, str("k")); }, Id::opNotSupported, "extTapDevice"));
  EXPECT_TRUE(failsWith([&] { op(g, extTap, opSet, str("et2"), integer(1)); }, Id::type, "extTapDevice"));
  EXPECT_EQ(valueOf<TapDevice>(op(g, extTap, opDel, str("et1"))), TapDevice("tap1", 7));
  EXPECT_EQ(config->extTapDevices(), 0u);
}

// A const adapter refuses every modifying code, even an unknown one with no
// value, before it looks at anything. The refusals of the scalar helper are
// shown once, on the tap device's fields.
TEST_F(ConfigGenericIf, ConstRefusalScalarAndBaseAttributesAndTypedAccess) {
  auto const status = Bridging::Orva::statusFactory("st");
  auto const s = Kiv::KivType::genericIf(status.ptr(), false);
  EXPECT_TRUE(failsWith([&] { op(c, complete, opSet); }, Id::constInstance, constMessage));
  EXPECT_TRUE(failsWith([&] { op(c, extTap, 255); }, Id::constInstance, constMessage));
  EXPECT_TRUE(failsWith([&] { g->castTo(Status::_fwkType()); }, Id::type, "Config"));
  EXPECT_FALSE(valueOf<bool>(op(c, complete, opGet)));
  op(g, complete, opSet, nullptr, boolean(true));
  EXPECT_TRUE(config->complete());
  op(s, Status::initializedAttrId, opSet, nullptr, boolean(true));
  op(s, Status::fabricDeviceNameAttrId, opSet, nullptr, str("fab0"));
  EXPECT_TRUE(status->initialized());
  EXPECT_EQ(status->fabricDeviceName(), Kiv::String8("fab0"));
  EXPECT_EQ(valueOf<Kiv::Name>(op(g, Kiv::Attr::name, opGet)), Kiv::Name("cfg")) << "ids of the base";
  EXPECT_EQ(g->castTo(Config::_fwkType()), static_cast<void*>(config.ptr()));
  EXPECT_EQ(g->castTo(Kiv::KivType::entityType()), static_cast<void*>(static_cast<Kiv::Entity*>(config.ptr())));
  EXPECT_EQ(Bridging::Orva::statusAttributes().fabricDeviceName, Status::_fwkType()->attr("fabricDeviceName"))
      << "the descriptors kept at load";
}

TEST_F(ConfigGenericIf, IteratorsWalkInCollectionOrderAndSurviveDeletion) {
  for (int i = 0; i < 5; ++i) config->extTapDeviceIs("et" + std::to_string(i), TapDevice("tap", std::uint16_t(i)));
  std::vector<std::string> order, walked;
  for (auto it = config->extTapDeviceIteratorConst(); it; ++it) order.push_back(it->key().stdString());
  for (Kiv::GenericIterator it(c->attributeIteratorConst(extTap)); it.nonNull(); ++it) {
    walked.push_back(valueOf<Kiv::String8>(it.key()).stdString());
    EXPECT_EQ(valueOf<TapDevice>(it.obj()), config->extTapDevice(walked.back()));
  }
  EXPECT_EQ(walked, order);

  EXPECT_FALSE(Kiv::GenericIterator(g->attributeIteratorKeyConst(extTap, str("et9"))).nonNull()) << "absent: the end";
  Kiv::GenericIterator at(g->attributeIteratorKeyConst(extTap, str(order[2])));
  Kiv::GenericIterator const copy(at);
  op(g, extTap, opDel, str(order[2]));
  EXPECT_EQ(valueOf<Kiv::String8>(at.key()).stdString(), order[2]) << "still on its deleted member";
  ++at;
  EXPECT_EQ(valueOf<Kiv::String8>(at.key()).stdString(), order[3]);
  EXPECT_EQ(valueOf<Kiv::String8>(copy.key()).stdString(), order[2]) << "a clone keeps its own place";
  EXPECT_EQ(config->extTapDevices(), 4u) << "freeing iterators deletes no member";
  Kiv::GenericIterator const foreign(c->attributeIteratorConst(extTap));
  EXPECT_TRUE(failsWith([&] { g->attributeIteratorKeyConst(extTap, integer(1)); }, Id::type, "kiv_index"));
  EXPECT_TRUE(failsWith([&] { g->attributeIterator_nonNull(foreign.handle()); }, Id::type, "extTapDevice"))
      << "a handle of another adapter";
  EXPECT_TRUE(failsWith([&] { g->attributeIteratorConst(complete); }, Id::opNotSupported, "complete"));
}

TEST(GenericWrites, NotifyObserversExactlyAsTheMutatorsDo) {
  Log byMutator, byGeneric;
  auto const a = Bridging::Orva::configFactory("a"), b = Bridging::Orva::configFactory("b");
  auto const wa = watch<ConfigWatcher>(a, &byMutator, "w"), wb = watch<ConfigWatcher>(b, &byGeneric, "w");
  auto const g = Kiv::KivType::genericIf(b.ptr(), false);
  for (int round = 0; round < 2; ++round) {
    a->completeIs(true);
    a->extTapDeviceIs("et1", TapDevice("tap1", 7 + round));
    a->extTapDeviceDel("et0");
    op(g, complete, opSet, nullptr, boolean(true));
    op(g, extTap, opSet, str("et1"), tap("tap1", std::uint16_t(7 + round)));
    op(g, extTap, opDel, str("et0"));
  }
  a->extTapDeviceDel("et1");
  op(g, extTap, opDel, str("et1"));
  EXPECT_EQ(byGeneric, byMutator);
  EXPECT_EQ(byGeneric, (Log{"w:259=1", "w:258=et1/tap1/7", "w:258=et1/tap1/8", "w:258=et1//0"}));
}

// An entity with an adapter whose attribute sink records "id" or "id:key".
template <class E>
class Forwarding : public ::testing::Test {
 protected:
  Forwarding() {
    Kiv::eventLoop().reset();
    g->attributeSinkIs([this](Kiv::AttributeId id, Kiv::Ptr<GenericIf const> const& key) {
      heard.push_back(std::to_string(id) + (key ? ":" + key->strRep().stdString() : std::string()));
    });
  }
  ~Forwarding() override { Kiv::eventLoop().reset(); }
  Bridging::Orva::AgentGenericIfObserver<E>& observer() const {
    return *static_cast<typename E::GenericIf_&>(*g).kivGenericIfAdapter();
  }
  Heard take() { return std::exchange(heard, {}); }

  Kiv::Ptr<E> entity = Kiv::make<E>(Kiv::Name("forwarding"));
  G g = Kiv::KivType::genericIf(entity.ptr(), false);
  Heard heard;
};
using ConfigForwarding = Forwarding<Config>;
using StatusForwarding = Forwarding<Status>;

TEST_F(ConfigForwarding, ChangesReachTheAdapterAtOnceAfterEarlierObservers) {
  Log log;
  auto const first = watch<ConfigWatcher>(entity, &log, "first");
  auto const late = Kiv::KivType::genericIf(entity.ptr(), false);
  late->attributeSinkIs(
      [&](Kiv::AttributeId id, Kiv::Ptr<GenericIf const> const&) { log.push_back("adapter:" + std::to_string(id)); });
  entity->extTapDeviceIs("k", TapDevice("tap", 1));
  entity->completeIs(true);
  entity->isNondestructingIs(true);  // actsm() only
  entity->isNondestructingIs(false);
  EXPECT_EQ(take(), (Heard{"258:'k'", "259"}));
  EXPECT_EQ(log, (Log{"first:258=k/tap/1", "adapter:258", "first:259=1", "adapter:259", "first:6=1", "first:6=0"}))
      << "an adapter's observer joins the back of the list";
  observer().onExtTapDevice();
  EXPECT_EQ(take(), (Heard{"258"})) << "the keyless callback is told at once";
}

TEST_F(ConfigForwarding, DeferredChangesAreCountedAndReplayedByTheirDelivery) {
  observer().kivDeferredDeliveryIs(true);
  entity->extTapDeviceIs("a", TapDevice("tap", 1));
  entity->extTapDeviceIs("b", TapDevice("tap", 2));
  entity->completeIs(true);
  EXPECT_TRUE(take().empty());
  Kiv::eventLoop().runOnce();
  EXPECT_EQ(take(), (Heard{"258", "259"})) << "several member changes arrive as one without a key";
  entity->extTapDeviceIs("c", TapDevice("tap", 3));
  Kiv::eventLoop().runOnce();
  EXPECT_EQ(take(), (Heard{"258:'c'"})) << "a single change keeps its key";

  observer().kivDeferredDeliveryIs(false);
  observer().handleNotification(Kiv::Attr::allAttributes);
  EXPECT_EQ(take(), (Heard{"259"})) << "nothing pending for 258";
  observer().handleNotification(Kiv::Attr::allAttributesReset);
  EXPECT_EQ(take(), (Heard{"258", "259"})) << "a reset forwards 258 whatever the count";
  // A change still waiting for its turn is delivered by the redispatch
  // after attribute 6, and so counted once.
  observer().kivDeferredDeliveryIs(true);
  entity->extTapDeviceIs("d", TapDevice("tap", 4));
  observer().kivDeferredDeliveryIs(false);
  observer().handleNotification(Kiv::Attr::allAttributes);
  EXPECT_EQ(take(), (Heard{"258:'d'", "259"}));
  Kiv::eventLoop().runOnce();
  observer().handleNotification(Kiv::Attr::zeroReferences);
  EXPECT_TRUE(take().empty()) << "delivered already; other ids go to the base";
}

TEST_F(ConfigForwarding, ADeliveryDroppedWhileSwitchedOffLeavesNoCountForTheNextChange) {
  observer().kivDeferredDeliveryIs(true);
  entity->extTapDeviceIs("a", TapDevice("tap", 1));
  g->hasNotificationActiveIs(false);
  Kiv::eventLoop().runOnce();  // dropped: the adapter was not listening
  g->hasNotificationActiveIs(true);
  EXPECT_TRUE(take().empty());
  entity->extTapDeviceIs("b", TapDevice("tap", 2));
  Kiv::eventLoop().runOnce();
  EXPECT_EQ(take(), (Heard{"258:'b'"})) << "a single change keeps its key";
}

TEST_F(StatusForwarding, ChangesAndDeliveriesReplayBothAttributes) {
  entity->initializedIs(true);
  observer().kivDeferredDeliveryIs(true);
  entity->fabricDeviceNameIs("x");
  entity->initializedIs(false);
  entity->fabricDeviceNameIs("y");
  Kiv::eventLoop().runOnce();
  observer().kivDeferredDeliveryIs(false);
  observer().handleNotification(Kiv::Attr::allAttributes);
  EXPECT_EQ(take(), (Heard{"258", "259", "258", "258", "259"})) << "once per attribute, in the order first deferred";
}

TEST_F(ConfigForwarding, NotificationSwitchesPassBetweenTheHalvesAndAGoneAdapterIsNeverCalled) {
  std::uint32_t const members = entity->kivNotifieeList().members();
  g->hasNotificationActiveIs(false);
  EXPECT_EQ(entity->kivNotifieeList().members(), members - 1) << "switched off: unregistered";
  entity->completeIs(true);
  observer().hasNotificationActiveIs(true);
  EXPECT_TRUE(g->hasNotificationActive()) << "the adapter follows its observer";
  entity->completeIs(false);
  EXPECT_EQ(take(), (Heard{"259"}));
  observer().kivMarkedForDeletionIs(true);
  observer().hasNotificationActiveIs(false);
  EXPECT_TRUE(g->hasNotificationActive()) << "an observer marked for deletion does not pass it on";
  observer().kivMarkedForDeletionIs(false);
  observer().hasNotificationActiveIs(true);

  Kiv::Ptr<Bridging::Orva::AgentGenericIfObserver<Config>> const held(&observer());
  held->kivDeferredDeliveryIs(true);
  entity->completeIs(true);
  g->attributeSinkIs([this](Kiv::AttributeId, Kiv::Ptr<GenericIf const> const&) { g = nullptr; });
  held->kivDeferredDeliveryIs(false);
  entity->extTapDeviceIs("k", TapDevice());  // the sink drops the last reference to the adapter
  EXPECT_FALSE(held->owner());
  EXPECT_FALSE(held->notifier()) << "detached when its adapter went";
  EXPECT_EQ(entity->references(), 1u);
  Kiv::eventLoop().runOnce();  // the deferred 259 finds no adapter (ASan)
  held->handleNotification(Kiv::Attr::allAttributesReset);
}

}  // namespace
