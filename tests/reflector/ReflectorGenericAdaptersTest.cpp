// The reflector types' registration as the linked process sees it, and
// their generic adapters: instantiation and text, every kind of attribute
// with its errors, const adapters, the child collections and their
// iterators, and a whole reflector tree driven through generic access
// alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Kiv/Activity.h"
#include "Kiv/Dir.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "ReflectorFixture.h"
#include "reflector/GenericAdapters.h"
#include "reflector/Registration.h"

namespace ReflectorTesting {
namespace {

using Bridging::StateReflector;
using Bridging::TopoPortStateReflector;
using Bridging::TopoStateReflector;
using Kiv::GenericIf;
using G = Kiv::Ptr<GenericIf>;
namespace Id = Kiv::ExceptionId;

G str(char const* s) { return Kiv::Builtin<Kiv::String8>::genericIf(s); }
G integer(int v) { return Kiv::Builtin<int>::genericIf(v); }
G intfArg(char const* name) { return Kiv::genericValue(intf(name), false); }
template <class E>
G ref(Kiv::Ptr<E> const& e) {
  return Kiv::KivType::genericIf(e.ptr(), false);
}
G op(G const& adapter, Kiv::AttributeId id, std::uint32_t code, Kiv::Ptr<GenericIf const> const& index = nullptr,
     G const& value = nullptr) {
  return adapter->attributeOp({id, code}, index, value);
}
template <class T>
T valueOf(Kiv::Ptr<GenericIf const> const& g) {
  auto const v = Kiv::genericValueOf<T>(g);
  if (!v) ADD_FAILURE() << "not a value of the expected type";
  return v ? *v : T();
}
template <class R>
R* objectOf(Kiv::Ptr<GenericIf const> const& g) {
  return Kiv::genericObject<R>(g);
}

// Whether `f` throws the GenericIf error of exception id `id` naming
// `subject` (the const error: its message).
::testing::AssertionResult failsWith(std::function<void()> const& f, std::uint32_t id, char const* subject) {
  try {
    f();
  } catch (GenericIf::Error const& e) {
    Kiv::String8 const named = id == Id::constInstance ? e.message() : e.subject();
    if (e.hasId(id) && named == Kiv::String8(subject)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threw \"" << e.message() << "\" (subject \"" << e.subject() << "\")";
  }
  return ::testing::AssertionFailure() << "threw nothing";
}
char const* const constMessage = "attempting to modify a const instance";

// The message of the range exception that `f` throws.
std::string rangeError(std::function<void()> const& f) {
  try {
    f();
  } catch (Kiv::RangeException const& e) {
    return e.message().stdString();
  }
  return "no exception";
}

class ReflectorGenericIf : public ReflectorTest {
 protected:
  G fiveReferences() {
    return GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock)});
  }
  // A system reflector made by its type from the fixture's entities.
  G root(bool isConst = false) { return StateReflector::_fwkType()->genericIf(fiveReferences(), isConst); }
  // The arguments of a new member of topology `name`'s reflector for port
  // `p`, with `c` as both clocks.
  G portArguments(char const* name, char const* p, Kiv::Ptr<Kiv::Clock> const& c) {
    auto const topo = topoConfig->topoConfigIs(name);
    auto const entries = port(name, p);
    return GenericIf::list({intfArg(p), ref(entries.first), ref(entries.second), ref(brConfig), ref(brStatus),
                            ref(topoConfig), ref(topo), ref(c), ref(c)});
  }
};

// --- Registration as the process sees it

TEST(ReflectorRegistration, TypesAreRegisteredAtLoadAndDescriptorsKept) {
  for (auto const& t :
       {TopoPortStateReflector::_fwkType(), TopoStateReflector::_fwkType(), StateReflector::_fwkType()}) {
    Kiv::String8 const qualified = "Bridging::" + t->name();
    EXPECT_EQ(Kiv::KivType::typeNode(qualified), t);
    EXPECT_TRUE(t->isTypeNode());
    ASSERT_FALSE(t->attrTable()->members().empty());
    for (auto const& a : t->attrTable()->members())
      EXPECT_EQ(Bridging::reflectorAttribute(qualified, a->name()), a) << qualified << "." << a->name();
  }
  EXPECT_FALSE(Bridging::reflectorAttribute("Bridging::StateReflector", "fwkKey"));
  EXPECT_FALSE(Bridging::reflectorAttribute("Bridging::Orva::Config", "complete")) << "not a reflector type";
  EXPECT_EQ(Kiv::Clock::_fwkType()->qualifiedName(), Kiv::String8("Kiv::Clock"));
  EXPECT_TRUE(Kiv::Clock::ClockIs("c")->fwkType()->isA(Kiv::KivType::entityType().ptr()));
  EXPECT_EQ(Kiv::ActivityConfig::_fwkType()->qualifiedName(), Kiv::String8("Kiv::ActivityConfig"));
}

// --- Making reflectors

TEST_F(ReflectorGenericIf, StateReflectorTypeBuildsTheTreeFromFiveReferences) {
  port("red", "Ethernet1");
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->config(), topoConfig);
  EXPECT_EQ(r->clock(), clock);
  EXPECT_TRUE(r->hasNotificationActive());
  ASSERT_TRUE(r->topoStateReflector("red"));
  EXPECT_TRUE(r->topoStateReflector("red")->topoPortStateReflector(intf("Ethernet1")));
  EXPECT_FALSE(g->isConst());
  EXPECT_TRUE(root(true)->isConst());

  // An element that holds no value is a null reference.
  G const bare =
      StateReflector::_fwkType()->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), false);
  ASSERT_TRUE(objectOf<StateReflector>(bare));
  EXPECT_FALSE(objectOf<StateReflector>(bare)->config());
  EXPECT_TRUE(objectOf<StateReflector>(bare)->initialized());
}

TEST_F(ReflectorGenericIf, InstantiationErrorsNameTheArgumentAtFaultAndBuildNothing) {
  auto const type = StateReflector::_fwkType();
  auto make = [&](Kiv::Ptr<GenericIf const> const& args) { return [type, args] { type->genericIf(args, false); }; };
  traces();
  EXPECT_TRUE(failsWith(make(nullptr), Id::type, "Kiv::GenericIf::List_"));
  EXPECT_TRUE(failsWith(make(str("x")), Id::type, "Kiv::GenericIf::List_"));
  // A list that ends early is never read past its end.
  EXPECT_TRUE(failsWith(make(GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus)})),
                        Id::type, "clock"));
  EXPECT_TRUE(failsWith(make(GenericIf::list({str("topo"), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock)})),
                        Id::type, "config"));
  EXPECT_TRUE(failsWith(make(GenericIf::list({ref(topoConfig), ref(clock), ref(brConfig), ref(brStatus), ref(clock)})),
                        Id::type, "status"));
  EXPECT_TRUE(failsWith(
      make(GenericIf::list({ref(topoConfig), ref(topoStatus), ref(brConfig), ref(brStatus), ref(clock), ref(clock)})),
      Id::unknownArg, "StateReflector"));
  EXPECT_EQ(traces(), Log{}) << "no reflector was made";
}

TEST_F(ReflectorGenericIf, TextReadsOnlyNoneAsAReflector) {
  for (auto const& t :
       {TopoPortStateReflector::_fwkType(), TopoStateReflector::_fwkType(), StateReflector::_fwkType()}) {
    G const none = t->genericIfFromStrep(" None ", true);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->object());
    EXPECT_EQ(none->objectType(), t);
    EXPECT_TRUE(none->isConst());
  }
  auto const type = StateReflector::_fwkType();
  EXPECT_EQ(rangeError([&] { type->genericIfFromStrep("'/'", false); }),
            "cannot convert '/' at column 0 to Bridging::StateReflector")
      << "a name always names an entity";
  EXPECT_EQ(root()->strRep(), Kiv::String8("'<StateReflector>'"));
  EXPECT_EQ(rangeError([&] { type->genericIfFromStrep("'<StateReflector>'", false); }),
            "no entity named '<StateReflector>'");
  EXPECT_FALSE(Kiv::strepToValue<Kiv::Ptr<TopoStateReflector>>("None"));
}

// --- The adapter itself

TEST_F(ReflectorGenericIf, AdapterGivesTypedAccessClonesAndReplacesItsReflector) {
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  EXPECT_EQ(g->castTo(StateReflector::_fwkType()), r);
  EXPECT_EQ(g->castTo(Kiv::KivType::ptrInterfaceType()), static_cast<Kiv::PtrInterface*>(r));
  EXPECT_TRUE(failsWith([&] { g->castTo(TopoStateReflector::_fwkType()); }, Id::type, "StateReflector"));
  EXPECT_EQ(g->attributeId("doSyncTopo"), StateReflector::doSyncTopoAttrId);
  EXPECT_THROW(g->attributeId("nothing"), GenericIf::Error);

  G const copy = root(true)->clone();
  EXPECT_TRUE(copy->isConst());
  EXPECT_EQ(g->clone()->object(), r);

  // The adapter keeps its reflector; replacing it hands the former back.
  Kiv::Ptr<StateReflector> const other = Bridging::stateReflectorFactory(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(g->objectIs(other), Kiv::Ptr<Kiv::PtrInterface>(r));
  EXPECT_EQ(g->object(), other.ptr());
  EXPECT_TRUE(failsWith([&] { g->objectIs(clock); }, Id::type, "StateReflector"));
  EXPECT_EQ(g->object(), other.ptr());

  // An adapter of no reflector: typed, but only the base serves it.
  G const empty = StateReflector::_fwkType()->genericIf_(clock.ptr(), false);
  EXPECT_FALSE(empty->object());
  EXPECT_EQ(empty->objectType(), StateReflector::_fwkType());
  EXPECT_TRUE(failsWith([&] { empty->castTo(StateReflector::_fwkType()); }, Id::type, "StateReflector"));
  EXPECT_TRUE(
      failsWith([&] { op(empty, StateReflector::configAttrId, GenericIf::opGet); }, Id::opNotSupported, "config"));
}

TEST_F(ReflectorGenericIf, ReferencesKeysAndStateFollowTheRulesOfTheirKind) {
  port("red", "Ethernet1");
  G const g = root();
  EXPECT_EQ(objectOf<Bridging::Topology::Config>(op(g, StateReflector::configAttrId, GenericIf::opGet)),
            topoConfig.ptr());
  EXPECT_TRUE(failsWith([&] { op(g, StateReflector::configAttrId, GenericIf::opSet, nullptr, ref(topoConfig)); },
                        Id::opNotSupported, "config"));
  EXPECT_TRUE(
      failsWith([&] { op(g, StateReflector::clockAttrId, GenericIf::opGet, str("x")); }, Id::badIndex, "clock"));
  G const bare =
      StateReflector::_fwkType()->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), false);
  EXPECT_FALSE(op(bare, StateReflector::clockAttrId, GenericIf::opGet)) << "no clock: no adapter";

  G const topo = op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opGet, str("red"));
  EXPECT_EQ(valueOf<Kiv::String8>(op(topo, TopoStateReflector::nameAttrId, GenericIf::opGet)), Kiv::String8("red"));
  EXPECT_TRUE(
      failsWith([&] { op(topo, TopoStateReflector::nameAttrId, GenericIf::opCount); }, Id::opNotSupported, "name"));

  G const portAdapter =
      op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opGet, intfArg("Ethernet1"));
  TopoPortStateReflector* const p = objectOf<TopoPortStateReflector>(portAdapter);
  ASSERT_TRUE(p);
  EXPECT_EQ(valueOf<Pyrel::IntfId>(op(portAdapter, TopoPortStateReflector::intfIdAttrId, GenericIf::opGet)),
            intf("Ethernet1"));
  EXPECT_EQ(objectOf<Kiv::Clock>(op(portAdapter, TopoPortStateReflector::fdbClockAttrId, GenericIf::opGet)),
            clock.ptr());
  op(portAdapter, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opSet, nullptr, integer(7));
  EXPECT_EQ(p->lastFdbFlush(), 7.0);
  EXPECT_EQ(valueOf<double>(op(portAdapter, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opGet)), 7.0);
  EXPECT_TRUE(failsWith(
      [&] { op(portAdapter, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opSet, nullptr, str("7")); },
      Id::type, "lastFdbFlush"));
  EXPECT_TRUE(failsWith([&] { op(portAdapter, TopoPortStateReflector::initializedAttrId, GenericIf::opSet); }, Id::type,
                        "initialized"));
  op(portAdapter, TopoPortStateReflector::initializedAttrId, GenericIf::opSet, nullptr,
     Kiv::Builtin<bool>::genericIf(false));
  EXPECT_FALSE(p->initialized());
  EXPECT_TRUE(failsWith([&] { portAdapter->attributeIteratorConst(TopoPortStateReflector::clockAttrId); },
                        Id::opNotSupported, "clock"))
      << "the port reflector has no collection";
}

TEST_F(ReflectorGenericIf, HandlerCallsCheckTheirArgumentListBeforeCalling) {
  port("red", "Ethernet1");
  G const g = root();
  G const topo = op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opGet, str("red"));
  auto call = [](G const& a, Kiv::AttributeId id, Kiv::Ptr<GenericIf const> const& args) {
    return [a, id, args] { op(a, id, GenericIf::opGet, args); };
  };
  auto const sync = StateReflector::doSyncTopoAttrId;
  traces();
  EXPECT_TRUE(failsWith(call(g, sync, nullptr), Id::type, "Kiv::GenericIf::List_"));
  EXPECT_TRUE(failsWith(call(g, sync, str("red")), Id::type, "Kiv::GenericIf::List_"));
  EXPECT_TRUE(failsWith(call(g, sync, GenericIf::list({nullptr})), Id::type, "name"));
  EXPECT_TRUE(failsWith(call(g, sync, GenericIf::list({})), Id::type, "name")) << "never read past the list";
  EXPECT_TRUE(failsWith(call(g, sync, GenericIf::list({integer(1)})), Id::type, "name"));
  EXPECT_TRUE(failsWith(call(g, sync, GenericIf::list({str("red"), str("blue")})), Id::unknownArg, "doSyncTopo"));
  EXPECT_TRUE(failsWith([&] { op(g, sync, GenericIf::opSet, GenericIf::list({str("red")})); }, Id::opNotSupported,
                        "doSyncTopo"));
  EXPECT_TRUE(failsWith(call(g, StateReflector::handleCollectionChangeAttrId, GenericIf::list({str("red")})),
                        Id::unknownArg, "handleCollectionChange"));
  EXPECT_TRUE(failsWith(call(topo, TopoStateReflector::doSyncPortAttrId, GenericIf::list({str("Ethernet1")})), Id::type,
                        "intfId"));
  EXPECT_EQ(traces(), Log{}) << "no handler ran";

  // The generic call reaches the overload that takes the argument.
  call(g, StateReflector::handleTopoConfigAttrId, GenericIf::list({str("red")}))();
  call(topo, TopoStateReflector::handleTopoPortStatusAttrId, GenericIf::list({intfArg("Ethernet1")}))();
  call(g, StateReflector::handleCollectionChangeAttrId, GenericIf::list({}))();
  EXPECT_EQ(traces(8), (Log{entryTrace("StateReflector", "handleTopoConfig", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("TopoStateReflector", "handleTopoPortStatus", "Pyrel::IntfId"),
                            entryTrace("TopoStateReflector", "doSyncPort", "Pyrel::IntfId"),
                            entryTrace("StateReflector", "handleCollectionChange"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String"),
                            entryTrace("StateReflector", "doSyncTopo", "Kiv::String")}));
}

TEST_F(ReflectorGenericIf, ConstAdapterRefusesModifyingCodesBeforeLookingAtAnything) {
  port("red", "Ethernet1");
  G const g = root(true);
  StateReflector* const r = objectOf<StateReflector>(g);
  EXPECT_TRUE(failsWith([&] { op(g, StateReflector::initializedAttrId, GenericIf::opSet, nullptr, str("no bool")); },
                        Id::constInstance, constMessage));
  EXPECT_TRUE(failsWith([&] { op(g, 137, GenericIf::opSet); }, Id::constInstance, constMessage))
      << "before the id is looked at";
  EXPECT_TRUE(failsWith([&] { op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opDel, integer(1)); },
                        Id::constInstance, constMessage));
  EXPECT_TRUE(failsWith([&] { g->attributeIterator(StateReflector::topoStateReflectorAttrId); }, Id::constInstance,
                        constMessage));
  EXPECT_TRUE(r->initialized());
  EXPECT_EQ(r->topoStateReflectors(), 1u);

  // Reading and calling are allowed, and what is read is const too.
  traces();
  op(g, StateReflector::handleCollectionChangeAttrId, GenericIf::opGet, GenericIf::list({}));
  EXPECT_FALSE(traces().empty());
  EXPECT_TRUE(op(g, StateReflector::configAttrId, GenericIf::opGet)->isConst());
  G const topo = op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opGet, str("red"));
  EXPECT_TRUE(topo->isConst());
  Kiv::GenericIterator it(g->attributeIteratorConst(StateReflector::topoStateReflectorAttrId));
  EXPECT_TRUE(it.obj()->isConst());
}

// --- Child collections

TEST_F(ReflectorGenericIf, CollectionOperationsFindCountMakeAndDeleteMembers) {
  port("red", "Ethernet1");
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  auto const members = StateReflector::topoStateReflectorAttrId;
  EXPECT_EQ(valueOf<unsigned int>(op(g, members, GenericIf::opCount)), 1u);
  unsigned int const version = valueOf<unsigned int>(op(g, members, GenericIf::opVersion));
  EXPECT_TRUE(valueOf<bool>(op(g, members, GenericIf::opExists, str("red"))));
  EXPECT_FALSE(valueOf<bool>(op(g, members, GenericIf::opExists, str("blue"))));
  EXPECT_FALSE(op(g, members, GenericIf::opGet, str("blue")));
  EXPECT_TRUE(failsWith([&] { op(g, members, GenericIf::opGet, integer(1)); }, Id::type, "name"));
  EXPECT_TRUE(failsWith([&] { op(g, members, GenericIf::opGet); }, Id::type, "name"));
  EXPECT_TRUE(failsWith([&] { op(g, members, 4); }, Id::opNotSupported, "topoStateReflector"));

  r->initializedIs(false);  // so that the model's change is not reflected by itself
  auto const blue = topoConfig->topoConfigIs("blue");
  auto const blueStatus = topoStatus->topoStatusIs("blue");
  auto args = [&](Kiv::Ptr<Kiv::Clock> const& c) {
    return GenericIf::list(
        {str("blue"), ref(blue), ref(blueStatus), ref(brConfig), ref(brStatus), ref(topoConfig), ref(c)});
  };
  auto add = [&](Kiv::Ptr<GenericIf const> const& index, G const& value) {
    return [&g, index, value] { op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opSet, index, value); };
  };
  EXPECT_TRUE(failsWith(add(str("blue"), args(clock)), Id::badIndex, "topoStateReflector"));
  EXPECT_TRUE(failsWith(add(nullptr, str("blue")), Id::type, "Kiv::GenericIf::List_"));
  EXPECT_TRUE(failsWith(add(nullptr, GenericIf::list({str("blue"), ref(blue)})), Id::type, "topoStatus"));
  G const eight = args(clock);
  static_cast<GenericIf::List_&>(*eight).push(ref(clock));
  EXPECT_TRUE(failsWith(add(nullptr, eight), Id::unknownArg, "topoStateReflector"));
  EXPECT_EQ(r->topoStateReflectors(), 1u);

  G const made = op(g, members, GenericIf::opSet, nullptr, args(clock));
  TopoStateReflector* const m = objectOf<TopoStateReflector>(made);
  ASSERT_TRUE(m);
  EXPECT_EQ(r->topoStateReflector("blue").ptr(), m);
  EXPECT_EQ(m->topoStatus(), blueStatus);
  EXPECT_EQ(valueOf<unsigned int>(op(g, members, GenericIf::opCount)), 2u);
  EXPECT_NE(valueOf<unsigned int>(op(g, members, GenericIf::opVersion)), version);
  EXPECT_EQ(objectOf<TopoStateReflector>(op(g, members, GenericIf::opSet, nullptr, args(clock))), m)
      << "the same parameters find the member";
  try {
    op(g, members, GenericIf::opSet, nullptr, args(Kiv::Clock::ClockIs("c2")));
    ADD_FAILURE() << "reinstantiated";
  } catch (Kiv::NameInUseException const& e) {
    EXPECT_EQ(e.message().stdString(),
              "Reinstantiating the pointer interface where constructor parameter attribute _clock has a different "
              "value of 'c2' than the current value of 'clock' not allowed");
  }
  EXPECT_EQ(m->clock(), clock);

  EXPECT_EQ(objectOf<TopoStateReflector>(op(g, members, GenericIf::opDel, str("blue"))), m);
  EXPECT_FALSE(op(g, members, GenericIf::opDel, str("blue")));
  EXPECT_FALSE(r->topoStateReflector("blue"));
  EXPECT_TRUE(failsWith([&] { op(g, members, GenericIf::opDel, intfArg("blue")); }, Id::type, "name"));
}

TEST_F(ReflectorGenericIf, IteratorsWalkMembersAndYieldAdaptersAndKeys) {
  for (char const* name : {"a", "b", "c"}) port(name, "Ethernet1");
  G const g = root();
  StateReflector* const r = objectOf<StateReflector>(g);
  auto const members = StateReflector::topoStateReflectorAttrId;
  std::vector<std::string> walked, compiled;
  for (Kiv::GenericIterator it(g->attributeIteratorConst(members)); it.nonNull(); ++it) {
    walked.push_back(valueOf<Kiv::String8>(it.key()).stdString());
    EXPECT_EQ(objectOf<TopoStateReflector>(it.obj())->name(), valueOf<Kiv::String8>(it.key()));
  }
  for (auto it = r->topoStateReflectorIteratorConst(); it; ++it) compiled.push_back(it->name().stdString());
  EXPECT_EQ(walked, compiled);
  EXPECT_EQ(walked.size(), 3u);

  Kiv::GenericIterator at(g->attributeIteratorKeyConst(members, str("b")));
  ASSERT_TRUE(at.nonNull());
  EXPECT_EQ(valueOf<Kiv::String8>(at.key()), Kiv::String8("b"));
  Kiv::GenericIterator copy(at);
  ++copy;
  EXPECT_EQ(valueOf<Kiv::String8>(at.key()), Kiv::String8("b")) << "a copy moves on its own";
  EXPECT_FALSE(Kiv::GenericIterator(g->attributeIteratorKeyConst(members, str("zz"))).nonNull());
  EXPECT_TRUE(failsWith([&] { g->attributeIteratorKeyConst(members, integer(1)); }, Id::type, "name"));

  // A member removed while an iterator stands on it is stepped past.
  Kiv::GenericIterator on(g->attributeIteratorConst(members));
  std::string const first = valueOf<Kiv::String8>(on.key()).stdString();
  r->topoStateReflectorDel(Kiv::String8(first));
  ++on;
  ASSERT_TRUE(on.nonNull());
  EXPECT_EQ(valueOf<Kiv::String8>(on.key()).stdString(), walked[1]);

  // Handles belong to the adapter and attribute that made them.
  G const other = root();
  EXPECT_TRUE(failsWith([&] { other->attributeIterator_nonNull(on.handle()); }, Id::type, "topoStateReflector"));
  EXPECT_TRUE(
      failsWith([&] { g->attributeIteratorConst(StateReflector::configAttrId); }, Id::opNotSupported, "config"));

  G const topo = op(g, members, GenericIf::opGet, str("c"));
  Kiv::GenericIterator ports(topo->attributeIteratorConst(TopoStateReflector::topoPortStateReflectorAttrId));
  ASSERT_TRUE(ports.nonNull());
  EXPECT_EQ(valueOf<Pyrel::IntfId>(ports.key()), intf("Ethernet1"));
  EXPECT_TRUE(failsWith(
      [&] { topo->attributeIteratorKeyConst(TopoStateReflector::topoPortStateReflectorAttrId, str("Ethernet1")); },
      Id::type, "intfId"));
}

// --- Whole trees

TEST_F(ReflectorGenericIf, AWholeTreeIsBuiltAndDrivenThroughGenericAccessAlone) {
  port("t", "Ethernet1").first->stateIs(PortState::forwarding);
  port("t", "Ethernet2");
  auto const status1 = topoStatus->topoStatus("t")->topoPortStatus(intf("Ethernet1"));
  G g = root();

  // Walk the tree: one topology, two ports.
  std::vector<G> topologies;
  for (Kiv::GenericIterator it(g->attributeIteratorConst(StateReflector::topoStateReflectorAttrId)); it.nonNull(); ++it)
    topologies.push_back(it.obj()->clone());
  ASSERT_EQ(topologies.size(), 1u);
  G topo = topologies[0];
  std::vector<Pyrel::IntfId> ports;
  for (Kiv::GenericIterator it(topo->attributeIteratorConst(TopoStateReflector::topoPortStateReflectorAttrId));
       it.nonNull(); ++it)
    ports.push_back(valueOf<Pyrel::IntfId>(it.key()));
  EXPECT_EQ(ports.size(), 2u);
  runUntil(1.0);
  EXPECT_EQ(status1->state(), PortState::forwarding) << "reflected by the port reflector made at construction";

  // A port added while the topology reflector is uninitialized waits for
  // the full pass that the generic call runs.
  auto const empty = GenericIf::list({});
  auto const yes = Kiv::Builtin<bool>::genericIf(true);
  op(topo, TopoStateReflector::initializedAttrId, GenericIf::opSet, nullptr, Kiv::Builtin<bool>::genericIf(false));
  port("t", "Ethernet3");
  EXPECT_EQ(valueOf<unsigned int>(op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opCount)), 2u);
  op(topo, TopoStateReflector::initializedAttrId, GenericIf::opSet, nullptr, yes);
  op(topo, TopoStateReflector::handleCollectionChangeAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(valueOf<unsigned int>(op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opCount)), 3u);

  // A port reflector's handlers called generically: a flush request is
  // carried out, and the report follows its own call.
  G port1 = op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opGet, intfArg("Ethernet1"));
  vlan(10, "t");
  learn(10, 1, "Ethernet1");
  learn(10, 2, "Ethernet2");
  op(port1, TopoPortStateReflector::doAddressTableFlushAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(hosts(10), Log{"10:2"});
  op(port1, TopoPortStateReflector::lastFdbFlushAttrId, GenericIf::opSet, nullptr, integer(3));
  op(port1, TopoPortStateReflector::handleFdbClockAttrId, GenericIf::opGet, empty);
  EXPECT_EQ(status1->fdbFlushReport(), 3u);

  // The model's changes reach the generically made tree, and a generic
  // deletion takes a topology away.
  topoStatus->topoStatus("t")->topoPortStatusDel(intf("Ethernet2"));
  EXPECT_FALSE(valueOf<bool>(
      op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opExists, intfArg("Ethernet2"))));
  op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opDel, str("t"));
  EXPECT_EQ(valueOf<unsigned int>(op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opCount)), 0u);
  op(g, StateReflector::doSyncTopoAttrId, GenericIf::opGet, GenericIf::list({str("t")}));
  EXPECT_EQ(valueOf<unsigned int>(op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opCount)), 1u);

  // Dropping the adapters drops the tree: nothing observes the model.
  g = nullptr;
  topologies.clear();
  topo = nullptr;
  port1 = nullptr;
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
  G const topo = op(g, StateReflector::topoStateReflectorAttrId, GenericIf::opGet, str("t"));
  TopoStateReflector* const t = objectOf<TopoStateReflector>(topo);
  runUntil(1.0);

  // One port added generically, one by the compiled call: each status is
  // written once, 2^-20 s later.
  t->initializedIs(false);
  G const genericArgs = portArguments("t", "Ethernet2", clock);
  auto const compiled = port("t", "Ethernet3");
  compiled.first->stateIs(PortState::forwarding);
  port("t", "Ethernet2").first->stateIs(PortState::forwarding);
  auto const w2 = Kiv::make<StatusWatcher>();
  w2->notifierIs(port("t", "Ethernet2").second);
  auto const w3 = Kiv::make<StatusWatcher>();
  w3->notifierIs(compiled.second);
  G const made = op(topo, TopoStateReflector::topoPortStateReflectorAttrId, GenericIf::opSet, nullptr, genericArgs);
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
  EXPECT_EQ(port("t", "Ethernet2").second->fdbFlushReport(), 4u);
}

}  // namespace
}  // namespace ReflectorTesting
