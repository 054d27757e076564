// The type registry: scopes and qualified names, attribute tables, the
// refusing state, and generic access to values and entities.
#include <gtest/gtest.h>

#include "Kiv/Dir.h"
#include "Kiv/Entity.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"

namespace {

using Kiv::GenericIf;

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

TEST(Registry, BuiltAttributesAndTheKeyAttributeOfACollection) {
  auto t = Kiv::make<Kiv::KivType>("Built", nullptr, nullptr, 0);
  Kiv::Ptr<Kiv::KivAttr> table = t->attrTable();
  auto key = table->attr(Kiv::String8("intfId"));  // absent: a detached key descriptor
  ASSERT_TRUE(key);
  EXPECT_EQ(key->name(), Kiv::String8("intfId"));
  EXPECT_FALSE(static_cast<Kiv::KivAttr const&>(*table).attr(Kiv::String8("intfId")));
  auto coll = table->attrIs("children", Kiv::KivType::entityType(), key, nullptr, Kiv::KivAttrFlags{0x09a20103u, 0x10000400u}, 137);
  coll->argNameQEnq("intfId");
  coll->argTypeQEnq("Pyrel::IntfId");
  coll->keyNameIs("intfId");
  coll->optionIs(false);
  t->attributeQEnq(coll);
  table->attrDel("children");
  EXPECT_TRUE(table->members().empty()) << "attrDel removes a former attribute of that name";
  t->attributeQEnq(coll);
  ASSERT_EQ(t->attr("children")->arguments().size(), 1u);
  EXPECT_EQ(t->attr("children")->arguments()[0].typeName, Kiv::String8("Pyrel::IntfId"));
  EXPECT_EQ(t->attr("children")->keyAttr(), key);
  t->isNondestructingIs(false);  // an unregistered type of the test's own may go
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

GenericIf::Error caught(std::function<void()> f) {
  try {
    f();
  } catch (GenericIf::Error const& e) {
    return e;
  }
  ADD_FAILURE() << "no GenericIf error";
  return GenericIf::Error("", 0, "");
}

TEST(GenericEntity, CommonAttributesConstRefusalAndErrorsNameTheirSubject) {
  auto d = Kiv::Dir::DirIs("generic");
  auto e = Kiv::make<Kiv::Entity>("thing");
  d->entryIs(e);
  auto g = Kiv::KivType::genericIf(e.ptr(), false);
  EXPECT_EQ(g->attributeId("name"), Kiv::Attr::name);
  EXPECT_EQ(Kiv::Builtin<Kiv::Name>::valueOf(g->attributeOp({Kiv::Attr::name, 0}, nullptr, nullptr)), Kiv::Name("thing"));
  auto parent = g->attributeOp({Kiv::Attr::parent, 0}, nullptr, nullptr);
  EXPECT_EQ(Kiv::genericObject<Kiv::Dir>(parent), d.ptr());
  g->attributeOp({Kiv::Attr::isNondestructing, GenericIf::opSet}, nullptr, Kiv::Builtin<bool>::genericIf(true));
  EXPECT_TRUE(e->isNondestructing());
  e->isNondestructingIs(false);

  auto c = Kiv::KivType::genericIf(e.ptr(), true);
  auto err = caught([&] { c->attributeOp({Kiv::Attr::isNondestructing, GenericIf::opSet}, nullptr, nullptr); });
  EXPECT_EQ(err.message(), Kiv::String8("attempting to modify a const instance"));
  EXPECT_TRUE(err.hasId(Kiv::ExceptionId::constInstance));
  EXPECT_EQ(caught([&] { g->attributeOp({Kiv::Attr::isNondestructing, GenericIf::opSet}, nullptr,
                                        Kiv::Builtin<int>::genericIf(1)); })
                .subject(),
            Kiv::String8("isNondestructing"));
  EXPECT_EQ(caught([&] { g->attributeOp({Kiv::Attr::name, 0}, Kiv::Builtin<int>::genericIf(1), nullptr); }).subject(),
            Kiv::String8("name"));
  EXPECT_EQ(caught([&] { g->attributeId("nothing"); }).subject(), Kiv::String8("nothing"));
  EXPECT_EQ(g->strRep(), Kiv::String8("'generic/thing'"));
}

}  // namespace
