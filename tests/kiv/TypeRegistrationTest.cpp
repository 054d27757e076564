// The pieces of a library's registration: the once-only module routine and
// its retry while the registry refuses, type slots, attributes declared
// from rows, built and inherited, and the argument lists of generic calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Kiv/GenericAccess.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/TypeRegistration.h"
#include "support/GenericIfError.h"

namespace {

using Kiv::GenericIf;
using TestSupport::failsWith;
namespace Id = Kiv::ExceptionId;
using Introspection = Kiv::KivAttrIntrospectionFlags;

// A module of one entity type, "TypeRegTest::Probe".
namespace probe {
int bodyRuns = 0;
void registerProbe(Kiv::IntrospectionReactor& r);
Kiv::ModuleRegistration registration(&registerProbe);
Kiv::TypeSlot<Kiv::KivType> probeType(registration, "Probe", &Kiv::KivType::entityType);
Kiv::AttributeRow const rows[] = {
    {"byName", &Kiv::Builtin<bool>::_fwkType, &Kiv::Builtin<Kiv::String8>::_fwkType, 258, {1, 2},
     Introspection::isIndependentDomainAttr_()},
};
void registerProbe(Kiv::IntrospectionReactor& r) {
  ++bodyRuns;
  Kiv::Ptr<Kiv::KivType> const t = probeType.get();  // asked again from inside the registration
  r.handleNameSpace("TypeRegTest");
  r.handleType(t, Kiv::KivType::entityType());
  Kiv::inheritAttributes(r, t, *Kiv::KivType::entityType());
  Kiv::defineAttributes(r, t, rows);
  r.handleScopeExit();
  r.handleScopeExit();
}
}  // namespace probe

TEST(TypeRegistration, RefusedRegistrationGivesABareTypeAndTheNextQueryRegistersOnce) {
  auto const reactor = Kiv::IntrospectionReactor::global();
  reactor->hasActiveTargetIs(false);
  Kiv::Ptr<Kiv::KivType> const bare = probe::probeType.get();
  reactor->hasActiveTargetIs(true);
  EXPECT_EQ(probe::bodyRuns, 0);
  EXPECT_TRUE(bare->attrTable()->members().empty());
  EXPECT_EQ(bare->parent(), Kiv::KivType::entityType());
  auto const& derived = Kiv::KivType::entityType()->derivedTypes();
  EXPECT_NE(std::find(derived.begin(), derived.end(), bare), derived.end());

  EXPECT_EQ(probe::probeType.get(), bare) << "the same type object, now registered";
  probe::probeType.get();
  probe::registration.run();
  EXPECT_EQ(probe::bodyRuns, 1) << "at most once";
  EXPECT_EQ(Kiv::KivType::typeNode("TypeRegTest::Probe"), bare);
  EXPECT_EQ(reactor->openScopes(), 0u);
  std::vector<std::string> names;
  for (auto const& a : bare->attrTable()->members()) names.push_back(a->name().stdString());
  EXPECT_EQ(names, (std::vector<std::string>{"name", "parent", "byName"}));
  EXPECT_EQ(bare->attr("name")->owner(), bare.ptr()) << "an inherited attribute is the derived type's own copy";
  EXPECT_EQ(bare->attr("byName")->keyType(), Kiv::Builtin<Kiv::String8>::_fwkType());
  EXPECT_EQ(bare->attr("byName")->flags(), (Kiv::KivAttrFlags{1, 2}));
}

TEST(TypeRegistration, BuiltAttributesTakeTheirKeyArgumentsAndOptionAndReplaceFormerOnes) {
  auto const r = Kiv::IntrospectionReactor::global();
  auto const owner = Kiv::make<Kiv::KivType>("Built", nullptr, nullptr, 0);
  Kiv::defineAttributes(*r, owner, {Kiv::AttributeRow{"intfId", &Kiv::Builtin<int>::_fwkType, nullptr, 130, {}, {}}});
  auto const ports = Kiv::buildAttribute(
      *r, owner,
      {"ports", owner, 137, {0x09a20103u, 0x10000400u}, Introspection::hasInternalIndex_(),
       {{"intfId", "Pyrel::IntfId"}, {"clock", "Kiv::Clock"}}, "intfId", Kiv::Builtin<int>::_fwkType()});
  EXPECT_EQ(ports->keyAttr(), owner->attr("intfId"));
  EXPECT_EQ(ports->keyName(), Kiv::String8("intfId"));
  EXPECT_FALSE(ports->option());
  ASSERT_EQ(ports->arguments().size(), 2u);
  EXPECT_EQ(ports->arguments()[1].typeName, Kiv::String8("Kiv::Clock"));
  auto const call = Kiv::buildAttribute(*r, owner, {"doIt", Kiv::Builtin<void*>::_fwkType(), 0, {1, 0x400},
                                                    Introspection::isFunction_(), {{"on", "bool"}}, "", nullptr});
  EXPECT_FALSE(call->keyAttr());
  EXPECT_TRUE(call->option()) << "only collections set the option";
  // A key that the owner has no attribute of: a detached descriptor of that
  // name, which the plain (const) look-up does not find.
  auto const byName = Kiv::buildAttribute(*r, owner, {"byName", owner, 139, {}, {}, {}, "name", nullptr});
  ASSERT_TRUE(byName->keyAttr());
  EXPECT_EQ(byName->keyAttr()->name(), Kiv::String8("name"));
  EXPECT_FALSE(static_cast<Kiv::KivAttr const&>(*owner->attrTable()).attr(Kiv::String8("name")));
  Kiv::buildAttribute(*r, owner, {"ports", owner, 138, {}, {}, {}, "intfId", nullptr});
  std::vector<std::string> names;
  for (auto const& a : owner->attrTable()->members()) names.push_back(a->name().stdString());
  EXPECT_EQ(names, (std::vector<std::string>{"intfId", "doIt", "byName", "ports"})) << "a former one is removed first";
  EXPECT_EQ(r->attributesTaken().back(), owner->attr("ports"));
  EXPECT_EQ(r->openScopes(), 0u);
}

TEST(GenericAccess, ArgumentsThatAreMissingShortOrMistypedNameTheArgument) {
  auto const list = GenericIf::list({Kiv::Builtin<int>::genericIf(4), nullptr});
  auto const& args = Kiv::argumentList(Kiv::Ptr<GenericIf const>(list));
  EXPECT_EQ(Kiv::argument<long long>(args, 0, "first"), 4) << "integers convert when they fit";
  EXPECT_TRUE(failsWith([&] { Kiv::argument<bool>(args, 0, "first"); }, Id::type, "first"));
  EXPECT_TRUE(failsWith([&] { Kiv::argument<int>(args, 1, "second"); }, Id::type, "second")) << "holds no value";
  EXPECT_TRUE(failsWith([&] { Kiv::argument<int>(args, 2, "third"); }, Id::type, "third")) << "past the list";
  EXPECT_TRUE(failsWith([&] { Kiv::requireArgumentsAtMost(args, 1, "f"); }, Id::unknownArg, "f"));
  EXPECT_TRUE(failsWith([] { Kiv::argumentList(nullptr); }, Id::type, "Kiv::GenericIf::List_"));
}

}  // namespace
