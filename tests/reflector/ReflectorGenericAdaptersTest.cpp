// The reflector types' generic adapters as the linked process sees them:
// the descriptors kept at load, instantiation and text, every refusal with
// the name it reports, the child collections and their iterators, and a
// whole reflector tree driven through generic access alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Kiv/GenericAccess.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "ReflectorFixture.h"
#include "reflector/GenericAdapters.h"
#include "reflector/Registration.h"
#include "support/ExceptionMessage.h"
#include "support/GenericCalls.h"
#include "support/GenericIfError.h"

namespace ReflectorTesting {
namespace {

using namespace TestSupport;
using Bridging::StateReflector;
using Bridging::TopoPortStateReflector;
using Bridging::TopoStateReflector;
using Kiv::GenericIf;
namespace Id = Kiv::ExceptionId;

constexpr auto topologies = StateReflector::topoStateReflectorAttrId;
constexpr auto ports = TopoStateReflector::topoPortStateReflectorAttrId;
constexpr std::uint32_t opGet = GenericIf::opGet, opSet = GenericIf::opSet, opDel = GenericIf::opDel;

G intfArg(char const* name) { return Kiv::genericValue(intf(name), false); }
template <class E>
G ref(Kiv::Ptr<E> const& e) {
  return Kiv::KivType::genericIf(e.ptr(), false);
}
template <class R>
R* objectOf(GC const& g) {
  return Kiv::genericObject<R>(g);
}

class ReflectorGenericIf : public ReflectorTest {
 protected:
  // A system reflector made by its type from the fixture's entities.
  G root(bool isConst = false) {
    return StateReflector::_fwkType()->genericIf(
        GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock)}), isConst);
  }
};

TEST(ReflectorRegistration, LoadKeptTheDescriptorOfEveryRegisteredAttribute) {
  for (auto const& t :
       {TopoPortStateReflector::_fwkType(), TopoStateReflector::_fwkType(), StateReflector::_fwkType()}) {
    Kiv::String8 const qualified = "Bridging::" + t->name();
    EXPECT_EQ(Kiv::KivType::typeNode(qualified), t);
    ASSERT_FALSE(t->attrTable()->members().empty());
    for (auto const& a : t->attrTable()->members())
      EXPECT_EQ(Bridging::reflectorAttribute(qualified, a->name()), a) << qualified << "." << a->name();
  }
  EXPECT_FALSE(Bridging::reflectorAttribute("Bridging::StateReflector", "fwkKey"));
  EXPECT_FALSE(Bridging::reflectorAttribute("Bridging::Orva::Config", "complete")) << "not a reflector type";
}

TEST_F(ReflectorGenericIf, InstantiationTakesFiveReferencesOrNoneAndNamesTheArgumentAtFault) {
  auto const type = StateReflector::_fwkType();
  struct Case {
    GC arguments;
    std::uint32_t id;
    char const* subject;
  } const cases[] = {
      {str("x"), Id::type, "Kiv::GenericIf::List_"},
      // A list that ends early is never read past its end.
      {GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus)}), Id::type, "clock"},
      {GenericIf::list({str("topo"), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock)}), Id::type, "config"},
      {GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock), ref(clock)}),
       Id::unknownArg, "StateReflector"},
  };
  traces();
  for (auto const& c : cases) EXPECT_TRUE(failsWith([&] { type->genericIf(c.arguments, false); }, c.id, c.subject));
  EXPECT_EQ(traces(), Log{}) << "no reflector was made";

  // An element that holds no value is a null reference.
  G const bare = type->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), true);
  StateReflector* const r = objectOf<StateReflector>(bare);
  ASSERT_TRUE(r);
  EXPECT_TRUE(bare->isConst());
  EXPECT_FALSE(r->config());
  EXPECT_TRUE(r->initialized());
  EXPECT_FALSE(op(bare, StateReflector::clockAttrId, opGet)) << "no clock: no adapter";
}

TEST_F(ReflectorGenericIf, TopologyAndPortReflectorsAreMadeOnTheirOwnFromTheirListedArguments) {
  port("t", "Ethernet1").first->stateIs(PortState::forwarding);
  auto const status1 = topoStatus->topoStatus("t")->topoPortStatus(intf("Ethernet1"));
  G const topo = TopoStateReflector::_fwkType()->genericIf(
      GenericIf::list({str("t"), ref(topoConfig->topoConfig("t")), ref(topoStatus->topoStatus("t")), ref(brConfig),
                       ref(brStatus), ref(topoConfig), ref(clock)}),
      false);
  TopoStateReflector* const t = objectOf<TopoStateReflector>(topo);
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->initialized());
  EXPECT_TRUE(t->hasNotificationActive());
  EXPECT_EQ(t->topoPortStateReflectors(), 1u);
  port("t", "Ethernet2");
  EXPECT_EQ(t->topoPortStateReflectors(), 2u) << "its notification is on: a new port gets a reflector";
  runUntil(1.0);
  EXPECT_EQ(status1->state(), PortState::forwarding);

  auto const portType = TopoPortStateReflector::_fwkType();
  G const bare = portType->genericIf(
      GenericIf::list({intfArg("Ethernet9"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}),
      true);
  ASSERT_TRUE(objectOf<TopoPortStateReflector>(bare));
  EXPECT_TRUE(bare->isConst());
  EXPECT_EQ(objectOf<TopoPortStateReflector>(bare)->intfId(), intf("Ethernet9"));
  EXPECT_TRUE(failsWith([&] { portType->genericIf(GenericIf::list({str("Ethernet9")}), false); }, Id::type, "intfId"));
  EXPECT_TRUE(failsWith(
      [&] {
        TopoStateReflector::_fwkType()->genericIf(
            GenericIf::list({str("t"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}), false);
      },
      Id::unknownArg, "TopoStateReflector"));
}

TEST_F(ReflectorGenericIf, AdapterIsTypedClonesReplacesItsReflectorAndReadsOnlyNoneFromText) {
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  EXPECT_EQ(g->castTo(StateReflector::_fwkType()), r);
  EXPECT_EQ(g->castTo(Kiv::KivType::ptrInterfaceType()), static_cast<Kiv::PtrInterface*>(r));
  EXPECT_TRUE(failsWith([&] { g->castTo(TopoStateReflector::_fwkType()); }, Id::type, "StateReflector"));
  EXPECT_TRUE(root(true)->clone()->isConst());
  EXPECT_EQ(g->clone()->object(), r);
  EXPECT_EQ(g->strRep(), Kiv::String8("'<StateReflector>'"));

  // The adapter keeps its reflector; replacing it hands the former back.
  Kiv::Ptr<StateReflector> const other = Bridging::stateReflectorFactory(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(g->objectIs(other), Kiv::Ptr<Kiv::PtrInterface>(r));
  EXPECT_EQ(g->object(), other.ptr());
  EXPECT_TRUE(failsWith([&] { g->objectIs(clock); }, Id::type, "StateReflector"));
  EXPECT_EQ(g->object(), other.ptr());

  // An adapter of no reflector is typed, but only the base serves it.
  G const empty = StateReflector::_fwkType()->genericIf_(clock.ptr(), false);
  EXPECT_FALSE(empty->object());
  EXPECT_EQ(empty->objectType(), StateReflector::_fwkType());
  EXPECT_TRUE(failsWith([&] { empty->castTo(StateReflector::_fwkType()); }, Id::type, "StateReflector"));
  EXPECT_TRUE(failsWith([&] { op(empty, StateReflector::configAttrId, opGet); }, Id::opNotSupported, "config"));

  // Text: only None reads, and a name always names an entity, never a
  // reflector.
  auto const type = StateReflector::_fwkType();
  G const none = type->genericIfFromStrep(" None ", true);
  EXPECT_FALSE(none->object());
  EXPECT_EQ(none->objectType(), type);
  EXPECT_TRUE(none->isConst());
  EXPECT_EQ(rangeMessage([&] { type->genericIfFromStrep("'/'", false); }),
            "cannot convert '/' at column 0 to Bridging::StateReflector");
  EXPECT_FALSE(Kiv::strepToValue<Kiv::Ptr<TopoStateReflector>>("None"));
  EXPECT_FALSE(Kiv::strepToValue<Kiv::Ptr<TopoPortStateReflector>>("None"));
}

// One refusal per error branch of the adapters and of each helper they
// use, with the name it reports; none of them changes anything, and a
// const adapter still calls handlers.
TEST_F(ReflectorGenericIf, EveryRefusalNamesItsSubjectAndChangesNothingButConstAdaptersCallHandlers) {
  port("red", "Ethernet1");
  G const g = root(), cg = root(true);
  auto const sync = StateReflector::doSyncTopoAttrId;
  auto const redArg = GenericIf::list({str("red")});
  struct Case {
    G adapter;
    Kiv::AttributeId id;
    std::uint32_t code;
    GC index;
    G value;
    std::uint32_t error;
    char const* subject;
  } const cases[] = {
      // References (the scalar helper's refusals are shown on the agent
      // model's adapters).
      {g, StateReflector::configAttrId, opSet, nullptr, ref(topoConfig), Id::opNotSupported, "config"},
      {g, StateReflector::clockAttrId, opGet, str("x"), nullptr, Id::badIndex, "clock"},
      // Handler calls check their argument list before calling.
      {g, sync, opGet, str("red"), nullptr, Id::type, "Kiv::GenericIf::List_"},
      {g, sync, opGet, GenericIf::list({nullptr}), nullptr, Id::type, "name"},
      {g, sync, opGet, GenericIf::list({str("red"), str("blue")}), nullptr, Id::unknownArg, "doSyncTopo"},
      {g, sync, opSet, redArg, nullptr, Id::opNotSupported, "doSyncTopo"},
      // A const adapter refuses modifying codes before it looks at the
      // index or the value.
      {cg, StateReflector::initializedAttrId, opSet, nullptr, str("no bool"), Id::constInstance, constMessage},
      {cg, topologies, opDel, integer(1), nullptr, Id::constInstance, constMessage},
      // Child collections.
      {g, topologies, opGet, integer(1), nullptr, Id::type, "name"},
      {g, topologies, 4, nullptr, nullptr, Id::opNotSupported, "topoStateReflector"},
      {g, topologies, opSet, str("blue"), redArg, Id::badIndex, "topoStateReflector"},
  };
  traces();
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "attribute " << c.id << " code " << c.code << " " << c.subject);
    EXPECT_TRUE(failsWith([&] { op(c.adapter, c.id, c.code, c.index, c.value); }, c.error, c.subject));
  }
  EXPECT_TRUE(failsWith([&] { cg->attributeIterator(topologies); }, Id::constInstance, constMessage));
  EXPECT_TRUE(
      failsWith([&] { g->attributeIteratorConst(StateReflector::configAttrId); }, Id::opNotSupported, "config"));

  EXPECT_EQ(traces(), Log{}) << "no handler ran";
  for (G const& a : {g, cg}) {
    EXPECT_TRUE(objectOf<StateReflector>(a)->initialized());
    EXPECT_EQ(objectOf<StateReflector>(a)->topoStateReflectors(), 1u);
  }

  // A const adapter hands out const adapters and may call handlers; the
  // generic call reaches the overload that takes the argument.
  G const topo = op(cg, topologies, opGet, str("red"));
  EXPECT_TRUE(topo->isConst());
  EXPECT_TRUE(op(cg, StateReflector::configAttrId, opGet)->isConst());
  EXPECT_TRUE(Kiv::GenericIterator(cg->attributeIteratorConst(topologies)).obj()->isConst());
  op(cg, StateReflector::handleTopoConfigAttrId, opGet, redArg);
  op(topo, TopoStateReflector::handleTopoPortStatusAttrId, opGet, GenericIf::list({intfArg("Ethernet1")}));
  op(cg, StateReflector::handleCollectionChangeAttrId, opGet, GenericIf::list({}));
  EXPECT_EQ(traces(8), (Log{entryTrace("StateReflector", "handleTopoConfig", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("TopoStateReflector", "handleTopoPortStatus", "Pyrel::IntfId"),
                            entryTrace("TopoStateReflector", "doSyncPort", "Pyrel::IntfId"),
                            entryTrace("StateReflector", "handleCollectionChange"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String")}));
}

TEST_F(ReflectorGenericIf, IteratorsWalkInMapOrderStartAtAKeyAndStepPastARemovedMember) {
  for (char const* name : {"a", "b", "c"}) port(name, "Ethernet1");
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  std::vector<std::string> walked, compiled;
  for (Kiv::GenericIterator it(g->attributeIteratorConst(topologies)); it.nonNull(); ++it) {
    walked.push_back(valueOf<Kiv::String8>(it.key()).stdString());
    EXPECT_EQ(objectOf<TopoStateReflector>(it.obj())->name(), valueOf<Kiv::String8>(it.key()));
  }
  for (auto it = r->topoStateReflectorIteratorConst(); it; ++it) compiled.push_back(it->name().stdString());
  EXPECT_EQ(walked, compiled);
  EXPECT_EQ(walked.size(), 3u);

  Kiv::GenericIterator at(g->attributeIteratorKeyConst(topologies, str("b")));
  ASSERT_TRUE(at.nonNull());
  Kiv::GenericIterator copy(at);
  ++copy;
  EXPECT_EQ(valueOf<Kiv::String8>(at.key()), Kiv::String8("b")) << "a copy moves on its own";
  EXPECT_FALSE(Kiv::GenericIterator(g->attributeIteratorKeyConst(topologies, str("zz"))).nonNull());

  Kiv::GenericIterator on(g->attributeIteratorConst(topologies));
  r->topoStateReflectorDel(valueOf<Kiv::String8>(on.key()));
  ++on;
  ASSERT_TRUE(on.nonNull());
  EXPECT_EQ(valueOf<Kiv::String8>(on.key()).stdString(), walked[1]);
  // A handle belongs to the adapter and attribute that made it.
  EXPECT_TRUE(failsWith([&] { root()->attributeIterator_nonNull(on.handle()); }, Id::type, "topoStateReflector"));
}

// Made by its type, walked, counted, searched, grown, called and cut
// back, all through generic access.
TEST_F(ReflectorGenericIf, AWholeTreeIsBuiltAndDrivenThroughGenericAccessAlone) {
  port("t", "Ethernet1").first->stateIs(PortState::forwarding);
  port("t", "Ethernet2");
  auto const status1 = topoStatus->topoStatus("t")->topoPortStatus(intf("Ethernet1"));
  G g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->hasNotificationActive());
  EXPECT_EQ(objectOf<Bridging::Topology::Config>(op(g, StateReflector::configAttrId, opGet)), topoConfig.ptr());
  auto const count = [](G const& a, Kiv::AttributeId id) {
    return valueOf<unsigned int>(op(a, id, GenericIf::opCount));
  };
  auto const exists = [](G const& a, Kiv::AttributeId id, G const& key) {
    return valueOf<bool>(op(a, id, GenericIf::opExists, key));
  };

  // Walk the tree: one topology, two ports.
  std::vector<G> walked;
  for (Kiv::GenericIterator it(g->attributeIteratorConst(topologies)); it.nonNull(); ++it)
    walked.push_back(it.obj()->clone());
  ASSERT_EQ(walked.size(), 1u);
  G topo = walked[0];
  EXPECT_EQ(valueOf<Kiv::String8>(op(topo, TopoStateReflector::nameAttrId, opGet)), Kiv::String8("t"));
  std::vector<Pyrel::IntfId> keys;
  for (Kiv::GenericIterator it(topo->attributeIteratorConst(ports)); it.nonNull(); ++it)
    keys.push_back(valueOf<Pyrel::IntfId>(it.key()));
  EXPECT_EQ(keys.size(), 2u);
  runUntil(1.0);
  EXPECT_EQ(status1->state(), PortState::forwarding) << "reflected by the port reflector made at construction";

  // A port added while the topology reflector is uninitialized waits for
  // the full pass that the generic call runs.
  auto const empty = GenericIf::list({});
  op(topo, TopoStateReflector::initializedAttrId, opSet, nullptr, boolean(false));
  port("t", "Ethernet3");
  EXPECT_EQ(count(topo, ports), 2u);
  op(topo, TopoStateReflector::initializedAttrId, opSet, nullptr, boolean(true));
  op(topo, TopoStateReflector::handleCollectionChangeAttrId, opGet, empty);
  EXPECT_EQ(count(topo, ports), 3u);

  // A port reflector's attributes (its handlers are called generically in
  // GenericWritesHaveExactlyTheEffectsOfTheCompiledCalls).
  G port1 = op(topo, ports, opGet, intfArg("Ethernet1"));
  EXPECT_EQ(valueOf<Pyrel::IntfId>(op(port1, TopoPortStateReflector::intfIdAttrId, opGet)), intf("Ethernet1"));
  EXPECT_EQ(objectOf<Kiv::Clock>(op(port1, TopoPortStateReflector::fdbClockAttrId, opGet)), clock.ptr());
  op(port1, TopoPortStateReflector::initializedAttrId, opSet, nullptr, boolean(false));
  EXPECT_FALSE(objectOf<TopoPortStateReflector>(port1)->initialized());

  // A topology reflector made from its argument list, found and deleted
  // (the root is uninitialized meanwhile, so that it does not make the
  // member itself).
  op(g, StateReflector::initializedAttrId, opSet, nullptr, boolean(false));
  auto const blue = topoConfig->topoConfigIs("blue");
  auto const blueStatus = topoStatus->topoStatusIs("blue");
  unsigned int const version = valueOf<unsigned int>(op(g, topologies, GenericIf::opVersion));
  EXPECT_FALSE(exists(g, topologies, str("blue")));
  EXPECT_FALSE(op(g, topologies, opGet, str("blue")));
  TopoStateReflector* const m =
      objectOf<TopoStateReflector>(op(g, topologies, opSet, nullptr,
                                      GenericIf::list({str("blue"), ref(blue), ref(blueStatus), ref(brConfig),
                                                       ref(brStatus), ref(topoConfig), ref(clock)})));
  ASSERT_TRUE(m);
  EXPECT_EQ(r->topoStateReflector("blue").ptr(), m);
  EXPECT_EQ(m->topoStatus(), blueStatus);
  EXPECT_TRUE(exists(g, topologies, str("blue")));
  EXPECT_NE(valueOf<unsigned int>(op(g, topologies, GenericIf::opVersion)), version);
  EXPECT_EQ(objectOf<TopoStateReflector>(op(g, topologies, opDel, str("blue"))), m);
  EXPECT_FALSE(op(g, topologies, opDel, str("blue")));
  op(g, StateReflector::initializedAttrId, opSet, nullptr, boolean(true));

  // The model's changes reach the generically made tree, and a generic
  // deletion takes a topology away until a generic sync brings it back.
  topoStatus->topoStatus("t")->topoPortStatusDel(intf("Ethernet2"));
  EXPECT_FALSE(exists(topo, ports, intfArg("Ethernet2")));
  op(g, topologies, opDel, str("t"));
  EXPECT_EQ(count(g, topologies), 0u);
  op(g, StateReflector::doSyncTopoAttrId, opGet, GenericIf::list({str("t")}));
  EXPECT_EQ(count(g, topologies), 1u);

  // Dropping the adapters drops the tree: nothing observes the model.
  g = topo = port1 = nullptr;
  walked.clear();
  EXPECT_TRUE(topoConfig->kivNotifieeList().empty());
  EXPECT_EQ(Kiv::eventLoop().pending(), 0u);
}

// Counts the changes of one port status.
struct StatusWatcher : Bridging::Topology::TopoPortStatus::Notifiee {
  void onState() override { ++states; }
  void onFdbFlushReport() override { ++reports; }
  int states = 0;
  int reports = 0;
};

TEST_F(ReflectorGenericIf, GenericWritesHaveExactlyTheEffectsOfTheCompiledCalls) {
  port("t", "Ethernet1");
  G const g = root();
  G const topo = op(g, topologies, opGet, str("t"));
  TopoStateReflector* const t = objectOf<TopoStateReflector>(topo);
  runUntil(1.0);

  // One port added generically, one by the compiled call: each status is
  // written once, 2^-20 s later.
  t->initializedIs(false);
  auto const generic = port("t", "Ethernet2"), compiled = port("t", "Ethernet3");
  for (auto const& p : {generic, compiled}) p.first->stateIs(PortState::forwarding);
  auto const w2 = Kiv::make<StatusWatcher>(), w3 = Kiv::make<StatusWatcher>();
  w2->notifierIs(generic.second);
  w3->notifierIs(compiled.second);
  G const made =
      op(topo, ports, opSet, nullptr,
         GenericIf::list({intfArg("Ethernet2"), ref(generic.first), ref(generic.second), ref(brConfig), ref(brStatus),
                          ref(topoConfig), ref(topoConfig->topoConfig("t")), ref(clock), ref(clock)}));
  t->topoPortStateReflectorIs(intf("Ethernet3"), compiled.first, compiled.second, brConfig, brStatus, topoConfig,
                              topoConfig->topoConfig("t"), clock, clock);
  EXPECT_EQ(w2->states + w3->states, 0);
  runUntil(1.0 + delay);
  EXPECT_EQ(w2->states, 1);
  EXPECT_EQ(w3->states, 1);

  // A generic state write notifies nobody, as the setter does; the report
  // follows the handler call only.
  op(made, TopoPortStateReflector::lastFdbFlushAttrId, opSet, nullptr, integer(4));
  EXPECT_EQ(w2->reports, 0);
  op(made, TopoPortStateReflector::handleFdbClockAttrId, opGet, GenericIf::list({}));
  EXPECT_EQ(w2->reports, 1);
  EXPECT_EQ(generic.second->fdbFlushReport(), 4u);
}

}  // namespace
}  // namespace ReflectorTesting
