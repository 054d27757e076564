// The type registry: scopes and qualified names, attribute tables, the
// refusing state, and generic access to values and entities.
#include <gtest/gtest.h>

#include "Kiv/Dir.h"
#include "Kiv/Entity.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"
#include "support/GenericIfError.h"

namespace {

using Kiv::GenericIf;
using TestSupport::failsWith;
namespace Id = Kiv::ExceptionId;

Kiv::KivAttrIntrospectionFlags const independent = Kiv::KivAttrIntrospectionFlags::isIndependentDomainAttr_();

TEST(Registry, ScopesGiveQualifiedNamesAndAttributesKeepOrderAndFlags) {
  auto r = Kiv::IntrospectionReactor::global();
  auto outer = Kiv::make<Kiv::KivType>("Outer", nullptr, nullptr, 0);
  auto inner = Kiv::make<Kiv::KivType>("Inner", nullptr, nullptr, 0);
  r->handleNameSpace("Test");
  r->handleNameSpace("Reg");
  r->handleType(outer, Kiv::KivType::entityType());
  r->handleType(inner, nullptr);
  r->handleScopeExit();
  auto b = r->defNoninstantiatingAttr(outer, "b", Kiv::Builtin<bool>::_fwkType(), nullptr,
                                      Kiv::KivAttrFlags{0x00220143u, 0x01000400u}, independent, 259);
  r->defNoninstantiatingAttr(outer, "a", Kiv::Builtin<bool>::_fwkType(), nullptr, Kiv::KivAttrFlags{1, 2},
                             Kiv::KivAttrIntrospectionFlags(), 258);
  r->handleScopeExit();
  r->handleScopeExit();
  r->handleScopeExit();
  EXPECT_EQ(r->openScopes(), 0u);

  EXPECT_EQ(Kiv::KivType::typeNode("Test::Reg::Outer"), outer);
  EXPECT_EQ(Kiv::KivType::typeNode("Test::Reg::Outer::Inner"), inner);
  EXPECT_EQ(outer->parent(), Kiv::KivType::entityType());
  EXPECT_TRUE(outer->isA(Kiv::KivType::ptrInterfaceType().ptr()));
  auto const& members = outer->attrTable()->members();
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0]->name(), Kiv::String8("b"));
  EXPECT_EQ(members[1]->name(), Kiv::String8("a"));
  EXPECT_EQ(b->flags(), (Kiv::KivAttrFlags{0x00220143u, 0x01000400u}));
  EXPECT_EQ(b->introspectionFlags(), independent);
  EXPECT_EQ(outer->attr(258)->name(), Kiv::String8("a"));
}

TEST(Registry, RefusingReactorThrowsAndTakesAgainWhenActive) {
  auto r = Kiv::IntrospectionReactor::global();
  r->hasActiveTargetIs(false);
  EXPECT_THROW(r->handleNameSpace("Never"), Kiv::InternalException);
  r->hasActiveTargetIs(true);
  EXPECT_EQ(r->openScopes(), 0u);
}

TEST(GenericValues, BuiltinsConvertPrintAndCompare) {
  auto n = Kiv::Builtin<unsigned int>::genericIf(7);
  EXPECT_EQ(Kiv::Builtin<unsigned short>::valueOf(n), 7);
  EXPECT_FALSE(Kiv::Builtin<unsigned short>::valueOf(Kiv::Builtin<unsigned int>::genericIf(70000)));
  EXPECT_FALSE(Kiv::Builtin<unsigned int>::valueOf(Kiv::Builtin<int>::genericIf(-1)));
  EXPECT_FALSE(Kiv::Builtin<bool>::valueOf(n)) << "an integer is not a bool";
  EXPECT_EQ(Kiv::Builtin<Kiv::Name>::valueOf(Kiv::Builtin<Kiv::String8>::genericIf("x")), Kiv::Name("x"));
  EXPECT_EQ(Kiv::Builtin<Kiv::String8>::genericIf("a'b")->strRep(), Kiv::String8("'a\\'b'"));
  auto eq = n->attributeOp({0, GenericIf::opEqual}, Kiv::Builtin<unsigned int>::genericIf(7), nullptr);
  EXPECT_EQ(Kiv::Builtin<bool>::valueOf(eq), true);
  auto parsed = Kiv::Builtin<unsigned short>::_fwkType()->genericIfFromStrep(" 65535 ", false);
  EXPECT_EQ(Kiv::Builtin<unsigned short>::valueOf(parsed), 65535);
  EXPECT_THROW(Kiv::Builtin<unsigned short>::_fwkType()->genericIfFromStrep("65536", false), Kiv::RangeException);
}

TEST(GenericValues, ListsHoldMissingElements) {
  auto l = GenericIf::list({Kiv::Builtin<bool>::genericIf(true), nullptr});
  EXPECT_EQ(l->size(), 2u);
  EXPECT_FALSE(l->at(1));
  EXPECT_FALSE(l->at(5));
  EXPECT_EQ(l->strRep(), Kiv::String8("[True, None]"));
}

TEST(GenericEntity, CommonAttributesConstRefusalAndErrorsNameTheirSubject) {
  auto d = Kiv::Dir::DirIs("generic");
  auto e = Kiv::make<Kiv::Entity>("thing");
  d->entryIs(e);
  auto g = Kiv::KivType::genericIf(e.ptr(), false);
  EXPECT_EQ(g->attributeId("name"), Kiv::Attr::name);
  EXPECT_EQ(Kiv::Builtin<Kiv::Name>::valueOf(g->attributeOp({Kiv::Attr::name, 0}, nullptr, nullptr)),
            Kiv::Name("thing"));
  auto parent = g->attributeOp({Kiv::Attr::parent, 0}, nullptr, nullptr);
  EXPECT_EQ(Kiv::genericObject<Kiv::Dir>(parent), d.ptr());
  g->attributeOp({Kiv::Attr::isNondestructing, GenericIf::opSet}, nullptr, Kiv::Builtin<bool>::genericIf(true));
  EXPECT_TRUE(e->isNondestructing());
  e->isNondestructingIs(false);

  auto c = Kiv::KivType::genericIf(e.ptr(), true);
  auto const setNondestructing = [](Kiv::Ptr<GenericIf> const& a, Kiv::Ptr<GenericIf> const& v) {
    return [a, v] { a->attributeOp({Kiv::Attr::isNondestructing, GenericIf::opSet}, nullptr, v); };
  };
  EXPECT_TRUE(failsWith(setNondestructing(c, nullptr), Id::constInstance, "attempting to modify a const instance"));
  EXPECT_TRUE(failsWith(setNondestructing(g, Kiv::Builtin<int>::genericIf(1)), Id::type, "isNondestructing"));
  EXPECT_TRUE(failsWith([&] { g->attributeOp({Kiv::Attr::name, 0}, Kiv::Builtin<int>::genericIf(1), nullptr); },
                        Id::badIndex, "name"));
  EXPECT_TRUE(failsWith([&] { g->attributeId("nothing"); }, Id::badIndex, "nothing"));
  EXPECT_EQ(g->strRep(), Kiv::String8("'generic/thing'"));
}

}  // namespace

namespace {

TEST(GenericValues, IntegersBecomeDoublesOnlyWhenExact) {
  EXPECT_EQ(Kiv::Builtin<double>::valueOf(Kiv::Builtin<int>::genericIf(-3)), -3.0);
  EXPECT_EQ(Kiv::Builtin<double>::valueOf(Kiv::Builtin<unsigned long long>::genericIf(1ull << 53)), 0x1p53);
  EXPECT_FALSE(Kiv::Builtin<double>::valueOf(Kiv::Builtin<unsigned long long>::genericIf((1ull << 53) + 1)))
      << "would round";
}

}  // namespace
