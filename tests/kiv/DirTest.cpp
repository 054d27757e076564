// Directories: the entity tree, full names and path look-up.
#include <gtest/gtest.h>

#include "Kiv/Dir.h"
#include "Kiv/Exception.h"
#include "Kiv/Strep.h"

namespace {

TEST(DirTree, FullNamesAreRootPathsAndLookupFindsThem) {
  auto root = Kiv::Dir::root();
  auto agent = Kiv::Dir::DirIs("agent");
  root->entryIs(agent);
  auto leaf = Kiv::make<Kiv::Entity>("leaf");
  EXPECT_EQ(leaf->fullName(), Kiv::String8("leaf"));
  agent->entryIs(leaf);
  EXPECT_EQ(root->fullName(), Kiv::String8("/"));
  EXPECT_EQ(agent->fullName(), Kiv::String8("/agent"));
  EXPECT_EQ(leaf->fullName(), Kiv::String8("/agent/leaf"));
  EXPECT_EQ(Kiv::Dir::lookup("/agent/leaf"), leaf);
  EXPECT_EQ(Kiv::Dir::lookup("agent/leaf"), leaf);
  EXPECT_EQ(Kiv::Dir::lookup("/agent/none"), nullptr);
  EXPECT_EQ(Kiv::Dir::lookup("/agent/leaf/deeper"), nullptr);
  EXPECT_EQ(root->entryDel("agent"), agent);
  EXPECT_EQ(agent->fullName(), Kiv::String8("agent"));
}

TEST(DirTree, SecondEntityUnderTakenNameIsRefusedAndChildrenOutlivingTheirDirectoryLoseIt) {
  auto a = Kiv::make<Kiv::Entity>("x");
  {
    auto d = Kiv::Dir::DirIs("d");
    d->entryIs(a);
    d->entryIs(a);  // the same entity again is no change
    EXPECT_THROW(d->entryIs(Kiv::make<Kiv::Entity>("x")), Kiv::NameInUseException);
    EXPECT_EQ(d->entry("x"), a);
    EXPECT_EQ(d->entries(), 1u);
    EXPECT_EQ(a->fullName(), Kiv::String8("d/x"));
  }
  EXPECT_FALSE(a->parent());
  EXPECT_EQ(a->fullName(), Kiv::String8("x"));
}

TEST(EntityReferenceText, FullNameQuotedNoneForNullAndReadBack) {
  auto d = Kiv::Dir::DirIs("refs");
  Kiv::Dir::root()->entryIs(d);
  auto e = Kiv::make<Kiv::Entity>("it's");
  d->entryIs(e);
  Kiv::String8 text = Kiv::valueToStrep(e);
  EXPECT_EQ(text, Kiv::String8("'/refs/it\\'s'"));
  EXPECT_EQ(Kiv::valueToStrep(Kiv::Ptr<Kiv::Entity>()), Kiv::String8("None"));
  auto it = text.iterator();
  EXPECT_EQ(Kiv::sequenceToValueOfPtr(it, text.end(), nullptr), e);
  EXPECT_TRUE(it.atEnd());
  Kiv::String8 none("None");
  auto nit = none.iterator();
  EXPECT_EQ(Kiv::sequenceToValueOfPtr(nit, none.end(), nullptr), nullptr);
  Kiv::String8 missing("'/refs/gone'");
  auto mit = missing.iterator();
  EXPECT_THROW(Kiv::sequenceToValueOfPtr(mit, missing.end(), nullptr), Kiv::RangeException);
  EXPECT_EQ(mit.position(), 0u) << "a failed read leaves the position";
  Kiv::Dir::root()->entryDel("refs");
}

}  // namespace
