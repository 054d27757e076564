// Kiv::HashMap: order, look-up, iterator stability and delete-all.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Kiv/HashMap.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"

namespace {

struct Item : Kiv::PtrInterface, Kiv::HashMapLink<Item> {
  explicit Item(Kiv::String8 k) : k(std::move(k)) {}
  Kiv::String8 key() const { return k; }
  Kiv::String8 k;
};
using Map = Kiv::HashMap<Item, Kiv::String8, Kiv::KeyBy<&Item::key>>;

// A key whose hash the test chooses, to force collisions.
struct Forced {
  std::uint32_t h;
  int v;
  std::uint32_t hash() const { return h; }
  friend bool operator==(Forced a, Forced b) { return a.v == b.v; }
  friend bool operator<(Forced a, Forced b) { return a.v < b.v; }
};
struct FItem : Kiv::PtrInterface, Kiv::HashMapLink<FItem> {
  explicit FItem(Forced k) : k(k) {}
  Forced key() const { return k; }
  Forced k;
};
using FMap = Kiv::HashMap<FItem, Forced, Kiv::KeyBy<&FItem::key>>;

std::string key(int i) { return "k" + std::to_string(i); }

void fill(Map& m, int n) {
  for (int i = 0; i < n; ++i) m.insert(Kiv::make<Item>(Kiv::String8(key(i))));
}

std::vector<std::string> keys(Map const& m) {
  std::vector<std::string> r;
  for (auto it = m.iteratorConst(); it; ++it) r.push_back(it->k.stdString());
  return r;
}

TEST(HashMapOrder, IterationFollowsBitReversedHashThenKey) {
  Map m;
  fill(m, 200);
  std::vector<std::pair<std::uint32_t, std::string>> expect;
  for (int i = 0; i < 200; ++i) {
    Kiv::String8 k(key(i));
    expect.emplace_back(Kiv::bitReverse(k.hash()), key(i));
  }
  std::sort(expect.begin(), expect.end());
  std::vector<std::string> want;
  for (auto& e : expect) want.push_back(e.second);
  EXPECT_EQ(keys(m), want);
}

TEST(HashMapOrder, EqualHashesOrderedByKeyAndFoundByKey) {
  FMap m;
  for (int v : {5, 1, 3}) m.insert(Kiv::make<FItem>(Forced{7, v}));
  m.insert(Kiv::make<FItem>(Forced{0x80000000u, 9}));  // lowest bit-reversed order
  std::vector<int> order;
  for (auto it = m.iteratorConst(); it; ++it) order.push_back(it->k.v);
  EXPECT_EQ(order, (std::vector<int>{9, 1, 3, 5}));
  EXPECT_EQ(m.find(Forced{7, 3})->k.v, 3);
  EXPECT_EQ(m.find(Forced{7, 4}), nullptr);
  EXPECT_EQ(m.find(Forced{8, 3}), nullptr);
}

TEST(HashMapOrder, SameOrderWhateverTheInsertionOrderAndSize) {
  Map a, b;
  fill(a, 100);
  for (int i = 99; i >= 0; --i) b.insert(Kiv::make<Item>(Kiv::String8(key(i))));
  EXPECT_EQ(keys(a), keys(b));
  // Shrinking back leaves the survivors in the same relative order.
  auto before = keys(a);
  for (int i = 10; i < 100; ++i) a.remove(Kiv::String8(key(i)));
  before.erase(std::remove_if(before.begin(), before.end(),
                              [](std::string const& k) { return std::stoi(k.substr(1)) >= 10; }),
               before.end());
  EXPECT_EQ(keys(a), before);
}

TEST(HashMapBuckets, GrowWithMembersAndShrinkWhenEmptied) {
  Map m;
  EXPECT_EQ(m.buckets(), 0u);
  fill(m, 1000);
  EXPECT_EQ(m.members(), 1000u);
  EXPECT_GE(m.buckets(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_NE(m.find(Kiv::String8(key(i))), nullptr) << i;
  for (int i = 0; i < 990; ++i) m.remove(Kiv::String8(key(i)));
  EXPECT_LE(m.buckets(), 64u);
  for (int i = 990; i < 1000; ++i) EXPECT_NE(m.find(Kiv::String8(key(i))), nullptr);
  auto it = m.iterator();
  it.deleteAll();
  EXPECT_EQ(m.buckets(), 0u);
}

TEST(HashMapIterator, DeletingMemberUnderIteratorStillAdvances) {
  Map m;
  fill(m, 20);
  auto all = keys(m);
  auto it = m.iteratorConst();
  ++it;
  ++it;
  m.remove(it->k);
  ++it;
  EXPECT_EQ(it->k.stdString(), all[3]);
}

TEST(HashMapIterator, DeletingMemberUnderIteratorAndTheOneAfterSkipsBoth) {
  Map m;
  fill(m, 20);
  auto all = keys(m);
  auto it = m.iteratorConst();
  ++it;
  m.remove(Kiv::String8(all[1]));
  m.remove(Kiv::String8(all[2]));
  ++it;
  EXPECT_EQ(it->k.stdString(), all[3]);
}

TEST(HashMapIterator, DeletingTheLastMemberUnderIteratorEndsIt) {
  Map m;
  fill(m, 3);
  auto all = keys(m);
  auto it = m.iteratorConst(Kiv::String8(all[2]));
  m.remove(Kiv::String8(all[2]));
  ++it;
  EXPECT_FALSE(it);
}

TEST(HashMapIterator, IteratorAtKeyStartsAtKeyOrItsSuccessor) {
  Map m;
  fill(m, 50);
  auto all = keys(m);
  EXPECT_EQ(m.iteratorConst(Kiv::String8(all[17]))->k.stdString(), all[17]);
  Kiv::String8 absent("not-there");
  auto it = m.iteratorConst(absent);
  // Absent: the first member that orders after the key's place.
  std::uint32_t ra = Kiv::bitReverse(absent.hash());
  std::string want;
  for (auto& k : all)
    if (Kiv::bitReverse(Kiv::String8(k).hash()) > ra) {
      want = k;
      break;
    }
  if (want.empty()) EXPECT_FALSE(it);
  else EXPECT_EQ(it->k.stdString(), want);
}

struct Announcing : Map::Iterator {
  Announcing(Map* m, std::vector<std::string>* log) : Map::Iterator(m, m->first()), log(log) {}
  void deleteNotify(Kiv::Ptr<Item> const& member) override {
    log->push_back(member->k.stdString());
    if (refill && log->size() == 2) {
      refill = false;
      extra->insert(Kiv::make<Item>(Kiv::String8("late")));
    }
  }
  std::vector<std::string>* log;
  bool refill = false;
  Map* extra = nullptr;
};

TEST(HashMapDeleteAll, AnnouncesEachMemberOnceInIterationOrder) {
  Map m;
  fill(m, 6);
  auto all = keys(m);
  std::vector<std::string> log;
  Announcing it(&m, &log);
  it.deleteAll();
  EXPECT_EQ(log, all);
  EXPECT_TRUE(m.empty());
}

TEST(HashMapDeleteAll, RestartsWhenAnObserverAddsMembers) {
  Map m;
  fill(m, 4);
  std::vector<std::string> log;
  Announcing it(&m, &log);
  it.refill = true;
  it.extra = &m;
  it.deleteAll();
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), "late"), 1);
  EXPECT_EQ(log.size(), 5u);
}

TEST(HashMapDeleteAll, MemberRemovedByAnObserverIsAnnouncedOnlyByItsRemover) {
  Map m;
  fill(m, 5);
  auto all = keys(m);
  std::vector<std::string> log;
  struct RemovesNext : Announcing {
    using Announcing::Announcing;
    void deleteNotify(Kiv::Ptr<Item> const& member) override {
      Announcing::deleteNotify(member);
      if (log->size() == 1) map->remove(Kiv::String8(next));
    }
    Map* map = nullptr;
    std::string next;
  } it(&m, &log);
  it.map = &m;
  it.next = all[1];
  it.deleteAll();
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), all[1]), 0) << "removed by the observer, not by the iterator";
  EXPECT_EQ(log.size(), 4u);
}

TEST(HashMapLifetime, RemovedMemberHeldElsewhereOutlivesMapAndLongChainsEndIteratively) {
  Kiv::Ptr<Item> kept;
  {
    Map m;
    fill(m, 100000);
    kept = m.member(Kiv::String8(key(5)));
    EXPECT_EQ(kept->references(), 2u);
  }
  EXPECT_EQ(kept->references(), 1u);
  EXPECT_FALSE(kept->kivInMap());
}

TEST(HashMapLifetime, VersionCountsInsertionsAndRemovals) {
  Map m;
  fill(m, 3);
  EXPECT_EQ(m.version(), 3u);
  m.remove(Kiv::String8("absent"));
  EXPECT_EQ(m.version(), 3u);
  m.remove(Kiv::String8(key(1)));
  EXPECT_EQ(m.version(), 4u);
}

}  // namespace
