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
#include "support/GenericIfError.h"

namespace ReflectorTesting {
namespace {

using Bridging::StateReflector;
using Bridging::TopoPortStateReflector;
using Bridging::TopoStateReflector;
using Kiv::GenericIf;
using TestSupport::failsWith;
using G = Kiv::Ptr<GenericIf>;
using GC = Kiv::Ptr<GenericIf const>;
namespace Id = Kiv::ExceptionId;

constexpr auto topologies = StateReflector::topoStateReflectorAttrId;
constexpr auto ports = TopoStateReflector::topoPortStateReflectorAttrId;

G str(char const* s) { return Kiv::Builtin<Kiv::String8>::genericIf(s); }
G integer(int v) { return Kiv::Builtin<int>::genericIf(v); }
G boolean(bool v) { return Kiv::Builtin<bool>::genericIf(v); }
G intfArg(char const* name) { return Kiv::genericValue(intf(name), false); }
template <class E>
G ref(Kiv::Ptr<E> const& e) {
  return Kiv::KivType::genericIf(e.ptr(), false);
}
G op(G const& adapter, Kiv::AttributeId id, std::uint32_t code, GC const& index = nullptr, G const& value = nullptr) {
  return adapter->attributeOp({id, code}, index, value);
}
template <class T>
T valueOf(GC const& g) {
  auto const v = Kiv::genericValueOf<T>(g);
  if (!v) ADD_FAILURE() << "not a value of the expected type";
  return v ? *v : T();
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
  EXPECT_TRUE(Kiv::Clock::ClockIs("c")->fwkType()->isA(Kiv::KivType::entityType().ptr()));
}

TEST_F(ReflectorGenericIf, InstantiationTakesFiveReferencesOrNoneAndNamesTheArgumentAtFault) {
  auto const type = StateReflector::_fwkType();
  struct Case {
    GC arguments;
    std::uint32_t id;
    char const* subject;
  } const cases[] = {
      {nullptr, Id::type, "Kiv::GenericIf::List_"},
      {str("x"), Id::type, "Kiv::GenericIf::List_"},
      // A list that ends early is never read past its end.
      {GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus)}), Id::type, "clock"},
      {GenericIf::list({str("topo"), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock)}), Id::type, "config"},
      {GenericIf::list({ref(topoConfig), ref(clock), ref(brConfig), ref(brStatus), ref(clock)}), Id::type, "status"},
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
  EXPECT_FALSE(op(bare, StateReflector::clockAttrId, GenericIf::opGet)) << "no clock: no adapter";
}

TEST_F(ReflectorGenericIf, AdapterIsTypedClonesReplacesItsReflectorAndReadsOnlyNoneFromText) {
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  EXPECT_EQ(g->castTo(StateReflector::_fwkType()), r);
  EXPECT_EQ(g->castTo(Kiv::KivType::ptrInterfaceType()), static_cast<Kiv::PtrInterface*>(r));
  EXPECT_TRUE(failsWith([&] { g->castTo(TopoStateReflector::_fwkType()); }, Id::type, "StateReflector"));
  EXPECT_EQ(g->attributeId("doSyncTopo"), StateReflector::doSyncTopoAttrId);
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
  EXPECT_TRUE(
      failsWith([&] { op(empty, StateReflector::configAttrId, GenericIf::opGet); }, Id::opNotSupported, "config"));

  // Text: only None reads, and a name always names an entity.
  for (auto const& t :
       {TopoPortStateReflector::_fwkType(), TopoStateReflector::_fwkType(), StateReflector::_fwkType()}) {
    G const none = t->genericIfFromStrep(" None ", true);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->object());
    EXPECT_EQ(none->objectType(), t);
    EXPECT_TRUE(none->isConst());
  }
  auto const type = StateReflector::_fwkType();
  EXPECT_EQ(TestSupport::rangeMessage([&] { type->genericIfFromStrep("'/'", false); }),
            "cannot convert '/' at column 0 to Bridging::StateReflector");
  EXPECT_EQ(TestSupport::rangeMessage([&] { type->genericIfFromStrep("'<StateReflector>'", false); }),
            "no entity named '<StateReflector>'");
  EXPECT_FALSE(Kiv::strepToValue<Kiv::Ptr<TopoStateReflector>>("None"));
}

TEST_F(ReflectorGenericIf, EveryRefusalNamesItsSubjectAndChangesNothing) {
  port("red", "Ethernet1");
  G const g = root(), cg = root(true);
  G const topo = op(g, topologies, GenericIf::opGet, str("red"));
  G const portAdapter = op(topo, ports, GenericIf::opGet, intfArg("Ethernet1"));
  auto const red = topoConfig->topoConfig("red");
  auto const redStatus = topoStatus->topoStatus("red");
  // A new member "blue" in the system reflector: its arguments.
  G const blue = GenericIf::list(
      {str("blue"), ref(red), ref(redStatus), ref(brConfig), ref(brStatus), ref(topoConfig), ref(clock)});
  G const eight = GenericIf::list(
      {str("blue"), ref(red), ref(redStatus), ref(brConfig), ref(brStatus), ref(topoConfig), ref(clock), ref(clock)});
  char const* const constMessage = "attempting to modify a const instance";
  auto const sync = StateReflector::doSyncTopoAttrId;
  auto const change = StateReflector::handleCollectionChangeAttrId;
  auto const list = GenericIf::list({}), redArg = GenericIf::list({str("red")});
  auto const get = GenericIf::opGet, set = GenericIf::opSet;
  struct Case {
    G adapter;
    Kiv::AttributeId id;
    std::uint32_t code;
    GC index;
    G value;
    std::uint32_t error;
    char const* subject;
  } const cases[] = {
      // References, keys and state.
      {g, StateReflector::configAttrId, set, nullptr, ref(topoConfig), Id::opNotSupported, "config"},
      {g, StateReflector::clockAttrId, get, str("x"), nullptr, Id::badIndex, "clock"},
      {topo, TopoStateReflector::nameAttrId, GenericIf::opCount, nullptr, nullptr, Id::opNotSupported, "name"},
      {portAdapter, TopoPortStateReflector::lastFdbFlushAttrId, set, nullptr, str("7"), Id::type, "lastFdbFlush"},
      {portAdapter, TopoPortStateReflector::initializedAttrId, set, nullptr, nullptr, Id::type, "initialized"},
      // Handler calls check their argument list before calling.
      {g, sync, get, nullptr, nullptr, Id::type, "Kiv::GenericIf::List_"},
      {g, sync, get, str("red"), nullptr, Id::type, "Kiv::GenericIf::List_"},
      {g, sync, get, GenericIf::list({nullptr}), nullptr, Id::type, "name"},
      {g, sync, get, list, nullptr, Id::type, "name"},  // never read past the list
      {g, sync, get, GenericIf::list({integer(1)}), nullptr, Id::type, "name"},
      {g, sync, get, GenericIf::list({str("red"), str("blue")}), nullptr, Id::unknownArg, "doSyncTopo"},
      {g, sync, set, redArg, nullptr, Id::opNotSupported, "doSyncTopo"},
      {g, change, get, redArg, nullptr, Id::unknownArg, "handleCollectionChange"},
      {topo, TopoStateReflector::doSyncPortAttrId, get, GenericIf::list({str("Ethernet1")}), nullptr, Id::type,
       "intfId"},
      // A const adapter refuses modifying codes before it looks at the id,
      // the index or the value.
      {cg, StateReflector::initializedAttrId, set, nullptr, str("no bool"), Id::constInstance, constMessage},
      {cg, 137, set, nullptr, nullptr, Id::constInstance, constMessage},
      {cg, topologies, GenericIf::opDel, integer(1), nullptr, Id::constInstance, constMessage},
      // Child collections.
      {g, topologies, get, integer(1), nullptr, Id::type, "name"},
      {g, topologies, get, nullptr, nullptr, Id::type, "name"},
      {g, topologies, 4, nullptr, nullptr, Id::opNotSupported, "topoStateReflector"},
      {g, topologies, set, str("blue"), blue, Id::badIndex, "topoStateReflector"},
      {g, topologies, set, nullptr, str("blue"), Id::type, "Kiv::GenericIf::List_"},
      {g, topologies, set, nullptr, GenericIf::list({str("blue"), ref(red)}), Id::type, "topoStatus"},
      {g, topologies, set, nullptr, eight, Id::unknownArg, "topoStateReflector"},
      {g, topologies, GenericIf::opDel, intfArg("blue"), nullptr, Id::type, "name"},
  };
  traces();
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "attribute " << c.id << " code " << c.code << " " << c.subject);
    EXPECT_TRUE(failsWith([&] { op(c.adapter, c.id, c.code, c.index, c.value); }, c.error, c.subject));
  }
  EXPECT_TRUE(failsWith([&] { cg->attributeIterator(topologies); }, Id::constInstance, constMessage));
  EXPECT_TRUE(
      failsWith([&] { g->attributeIteratorConst(StateReflector::configAttrId); }, Id::opNotSupported, "config"));
  EXPECT_TRUE(failsWith([&] { g->attributeIteratorKeyConst(topologies, integer(1)); }, Id::type, "name"));
  EXPECT_TRUE(failsWith([&] { topo->attributeIteratorKeyConst(ports, str("Ethernet1")); }, Id::type, "intfId"));
  EXPECT_TRUE(failsWith([&] { portAdapter->attributeIteratorConst(TopoPortStateReflector::clockAttrId); },
                        Id::opNotSupported, "clock"))
      << "the port reflector has no collection";

  EXPECT_EQ(traces(), Log{}) << "no handler ran";
  for (G const& a : {g, cg}) {
    EXPECT_TRUE(objectOf<StateReflector>(a)->initialized());
    EXPECT_EQ(objectOf<StateReflector>(a)->topoStateReflectors(), 1u);
  }
  EXPECT_EQ(objectOf<TopoPortStateReflector>(portAdapter)->lastFdbFlush(), 0.0);
}

TEST_F(ReflectorGenericIf, ConstAdapterCallsHandlersWithTheirArgumentAndReadsConstAdapters) {
  port("red", "Ethernet1");
  G const g = root(true);
  G const topo = op(g, topologies, GenericIf::opGet, str("red"));
  EXPECT_TRUE(topo->isConst());
  EXPECT_TRUE(op(g, StateReflector::configAttrId, GenericIf::opGet)->isConst());
  EXPECT_TRUE(Kiv::GenericIterator(g->attributeIteratorConst(topologies)).obj()->isConst());

  // The generic call reaches the overload that takes the argument.
  traces();
  op(g, StateReflector::handleTopoConfigAttrId, GenericIf::opGet, GenericIf::list({str("red")}));
  op(topo, TopoStateReflector::handleTopoPortStatusAttrId, GenericIf::opGet, GenericIf::list({intfArg("Ethernet1")}));
  op(g, StateReflector::handleCollectionChangeAttrId, GenericIf::opGet, GenericIf::list({}));
  EXPECT_EQ(traces(8), (Log{entryTrace("StateReflector", "handleTopoConfig", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("TopoStateReflector", "handleTopoPortStatus", "Pyrel::IntfId"),
                            entryTrace("TopoStateReflector", "doSyncPort", "Pyrel::IntfId"),
                            entryTrace("StateReflector", "handleCollectionChange"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String")}));
}

TEST_F(ReflectorGenericIf, CollectionOperationsCountFindMakeAndDeleteMembers) {
  port("red", "Ethernet1");
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  auto count = [&] { return valueOf<unsigned int>(op(g, topologies, GenericIf::opCount)); };
  EXPECT_EQ(count(), 1u);
  unsigned int const version = valueOf<unsigned int>(op(g, topologies, GenericIf::opVersion));
  EXPECT_TRUE(valueOf<bool>(op(g, topologies, GenericIf::opExists, str("red"))));
  EXPECT_FALSE(valueOf<bool>(op(g, topologies, GenericIf::opExists, str("blue"))));
  EXPECT_FALSE(op(g, topologies, GenericIf::opGet, str("blue")));

  r->initializedIs(false);  // so that the model's change is not reflected by itself
  auto const blue = topoConfig->topoConfigIs("blue");
  auto const blueStatus = topoStatus->topoStatusIs("blue");
  auto make = [&](Kiv::Ptr<Kiv::Clock> const& c) {
    return op(g, topologies, GenericIf::opSet, nullptr,
              GenericIf::list({str("blue"), ref(blue), ref(blueStatus), ref(brConfig), ref(brStatus),
                               ref(topoConfig), ref(c)}));
  };
  TopoStateReflector* const m = objectOf<TopoStateReflector>(make(clock));
  ASSERT_TRUE(m);
  EXPECT_EQ(r->topoStateReflector("blue").ptr(), m);
  EXPECT_EQ(m->topoStatus(), blueStatus);
  EXPECT_EQ(count(), 2u);
  EXPECT_NE(valueOf<unsigned int>(op(g, topologies, GenericIf::opVersion)), version);
  EXPECT_EQ(objectOf<TopoStateReflector>(make(clock)), m) << "the same parameters find the member";
  EXPECT_EQ(TestSupport::nameInUseMessage([&] { make(Kiv::Clock::ClockIs("c2")); }),
            "Reinstantiating the pointer interface where constructor parameter attribute _clock has a different "
            "value of 'c2' than the current value of 'clock' not allowed");
  EXPECT_EQ(m->clock(), clock);

  EXPECT_EQ(objectOf<TopoStateReflector>(op(g, topologies, GenericIf::opDel, str("blue"))), m);
  EXPECT_FALSE(op(g, topologies, GenericIf::opDel, str("blue")));
  EXPECT_FALSE(r->topoStateReflector("blue"));
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

  Kiv::GenericIterator portWalk(op(g, topologies, GenericIf::opGet, str("c"))->attributeIteratorConst(ports));
  ASSERT_TRUE(portWalk.nonNull());
  EXPECT_EQ(valueOf<Pyrel::IntfId>(portWalk.key()), intf("Ethernet1"));
}

TEST_F(ReflectorGenericIf, AWholeTreeIsBuiltAndDrivenThroughGenericAccessAlone) {
  port("t", "Ethernet1").first->stateIs(PortState::forwarding);
  port("t", "Ethernet2");
  auto const status1 = topoStatus->topoStatus("t")->topoPortStatus(intf("Ethernet1"));
  G g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  ASSERT_TRUE(r);
  EXPECT_FALSE(g->isConst());
  EXPECT_TRUE(r->hasNotificationActive());
  EXPECT_EQ(r->clock(), clock);
  EXPECT_EQ(objectOf<Bridging::Topology::Config>(op(g, StateReflector::configAttrId, GenericIf::opGet)),
            topoConfig.ptr());

  // Walk the tree: one topology, two ports.
  std::vector<G> walked;
  for (Kiv::GenericIterator it(g->attributeIteratorConst(topologies)); it.nonNull(); ++it)
    walked.push_back(it.obj()->clone());
  ASSERT_EQ(walked.size(), 1u);
  G topo = walked[0];
  EXPECT_EQ(valueOf<Kiv::String8>(op(topo, TopoStateReflector::nameAttrId, GenericIf::opGet)), Kiv::String8("t"));
  std::vector<Pyrel::IntfId> keys;
  for (Kiv::GenericIterator it(topo->attributeIteratorConst(ports)); it.nonNull(); ++it)
    keys.push_back(valueOf<Pyrel::IntfId>(it.key()));
  EXPECT_EQ(keys.size(), 2u);
  runUntil(1.0);
  EXPECT_EQ(status1->state(), PortState::forwarding) << "reflected by the port reflector made at construction";

  // A port added while the topology reflector is uninitialized waits for
  // the full pass that the generic call runs.
  auto const empty = GenericIf::list({});
  op(topo, TopoStateReflector::initializedAttrId, GenericIf::opSet, nullptr, boolean(false));
  port("t", "Ethernet3");
  EXPECT_EQ(valueOf<unsigned int>(op(topo, ports, GenericIf::opCount)), 2u);
  op(topo, TopoStateReflector::initializedAttrId, GenericIf::opSet, nullptr, boolean(true));
  op(topo, TopoStateReflector::handleCollectionChangeAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(valueOf<unsigned int>(op(topo, ports, GenericIf::opCount)), 3u);

  // A port reflector's attributes and handlers: a flush request is carried
  // out, and the report follows its own call.
  G port1 = op(topo, ports, GenericIf::opGet, intfArg("Ethernet1"));
  EXPECT_EQ(valueOf<Pyrel::IntfId>(op(port1, TopoPortStateReflector::intfIdAttrId, GenericIf::opGet)),
            intf("Ethernet1"));
  EXPECT_EQ(objectOf<Kiv::Clock>(op(port1, TopoPortStateReflector::fdbClockAttrId, GenericIf::opGet)), clock.ptr());
  vlan(10, "t");
  learn({{10, 1, "Ethernet1"}, {10, 2, "Ethernet2"}});
  op(port1, TopoPortStateReflector::doAddressTableFlushAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(hosts(10), Log{"10:2"});
  op(port1, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opSet, nullptr, integer(3));
  EXPECT_EQ(valueOf<double>(op(port1, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opGet)), 3.0);
  op(port1, TopoPortStateReflector::handleFdbClockAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(status1->fdbFlushReport(), 3u);
  op(port1, TopoPortStateReflector::initializedAttrId, GenericIf::opSet, nullptr, boolean(false));
  EXPECT_FALSE(objectOf<TopoPortStateReflector>(port1)->initialized());

  // The model's changes reach the generically made tree, and a generic
  // deletion takes a topology away.
  topoStatus->topoStatus("t")->topoPortStatusDel(intf("Ethernet2"));
  EXPECT_FALSE(valueOf<bool>(op(topo, ports, GenericIf::opExists, intfArg("Ethernet2"))));
  op(g, topologies, GenericIf::opDel, str("t"));
  EXPECT_EQ(valueOf<unsigned int>(op(g, topologies, GenericIf::opCount)), 0u);
  op(g, StateReflector::doSyncTopoAttrId, GenericIf::opGet, GenericIf::list({str("t")}));
  EXPECT_EQ(valueOf<unsigned int>(op(g, topologies, GenericIf::opCount)), 1u);

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
  G const topo = op(g, topologies, GenericIf::opGet, str("t"));
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
  G const made = op(topo, ports, GenericIf::opSet, nullptr,
                    GenericIf::list({intfArg("Ethernet2"), ref(generic.first), ref(generic.second), ref(brConfig),
                                     ref(brStatus), ref(topoConfig), ref(topoConfig->topoConfig("t")), ref(clock),
                                     ref(clock)}));
  t->topoPortStateReflectorIs(intf("Ethernet3"), compiled.first, compiled.second, brConfig, brStatus, topoConfig,
                              topoConfig->topoConfig("t"), clock, clock);
  EXPECT_EQ(w2->states + w3->states, 0);
  runUntil(1.0 + delay);
  EXPECT_EQ(w2->states, 1);
  EXPECT_EQ(w3->states, 1);

  // A generic state write notifies nobody, as the setter does; the report
  // follows the handler call only.
  op(made, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opSet, nullptr, integer(4));
  EXPECT_EQ(w2->reports, 0);
  op(made, TopoPortStateReflector::handleFdbClockAttrId, GenericIf::opGet, GenericIf::list({}));
  EXPECT_EQ(w2->reports, 1);
  EXPECT_EQ(generic.second->fdbFlushReport(), 4u);
}

}  // namespace
}  // namespace ReflectorTesting
