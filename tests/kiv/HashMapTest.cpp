// Kiv::HashMap: order, look-up, iterator stability and delete-all.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <random>
#include <set>
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

// A base that ends on a pointer boundary, as Kiv::Entity does, so that the
// link after it puts its forward link first (FItem's link, after
// PtrInterface, starts in PtrInterface's hole on 64-bit hosts and puts its
// order first).
struct Owned : Kiv::PtrInterface {
  void const* owner = nullptr;
};
struct OItem : Owned, Kiv::HashMapLink<OItem, Owned> {
  explicit OItem(Forced k) : k(k) {}
  Forced key() const { return k; }
  Forced k;
};

using Keys = std::vector<std::string>;

std::string key(int i) { return "k" + std::to_string(i); }

void fill(Map& m, int n) {
  for (int i = 0; i < n; ++i) m.insert(Kiv::make<Item>(Kiv::String8(key(i))));
}

Keys keys(Map const& m) {
  Keys r;
  for (auto it = m.iteratorConst(); it; ++it) r.push_back(it->k.stdString());
  return r;
}

TEST(HashMapOrder, IterationFollowsBitReversedHashThenKeyWhateverTheInsertionOrder) {
  Map m, reversed;
  fill(m, 200);
  for (int i = 199; i >= 0; --i) reversed.insert(Kiv::make<Item>(Kiv::String8(key(i))));
  std::vector<std::pair<std::uint32_t, std::string>> expect;
  for (int i = 0; i < 200; ++i) expect.emplace_back(Kiv::bitReverse(Kiv::String8(key(i)).hash()), key(i));
  std::sort(expect.begin(), expect.end());
  Keys want;
  for (auto& e : expect) want.push_back(e.second);
  EXPECT_EQ(keys(m), want);
  EXPECT_EQ(keys(reversed), want);
  Keys walked;
  for (Item const& item : m) walked.push_back(item.k.stdString());
  EXPECT_EQ(walked, want) << "the uncounted walk of a range-for";

  // Shrinking back leaves the survivors in the same relative order.
  for (int i = 10; i < 200; ++i) m.remove(Kiv::String8(key(i)));
  auto const removed = [](std::string const& k) { return std::stoi(k.substr(1)) >= 10; };
  want.erase(std::remove_if(want.begin(), want.end(), removed), want.end());
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

TEST(HashMapBuckets, GrowWithMembersShrinkWhenEmptiedAndTheVersionCountsRealChanges) {
  Map m;
  EXPECT_EQ(m.buckets(), 0u);
  fill(m, 1000);
  EXPECT_EQ(m.members(), 1000u);
  EXPECT_EQ(m.version(), 1000u);
  EXPECT_GE(m.buckets(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_NE(m.find(Kiv::String8(key(i))), nullptr) << i;
  m.remove(Kiv::String8("absent"));
  EXPECT_EQ(m.version(), 1000u);
  for (int i = 0; i < 990; ++i) m.remove(Kiv::String8(key(i)));
  EXPECT_EQ(m.version(), 1990u);
  EXPECT_LE(m.buckets(), 64u);
  for (int i = 990; i < 1000; ++i) EXPECT_NE(m.find(Kiv::String8(key(i))), nullptr);
  m.iterator().deleteAll();
  EXPECT_EQ(m.buckets(), 0u);

  // Emptied at once, the map keeps its buckets for the refill.
  fill(m, 1000);
  std::uint32_t const grown = m.buckets();
  m.clear();
  EXPECT_EQ(m.buckets(), grown);
  EXPECT_EQ(m.find(Kiv::String8(key(1))), nullptr);
  fill(m, 1000);
  EXPECT_EQ(m.buckets(), grown);
  EXPECT_EQ(keys(m).size(), 1000u);
}

TEST(HashMapIterator, RemovingTheMemberUnderItAndTheOneAfterStillAdvancesToTheNextLiveOne) {
  Map m;
  fill(m, 20);
  Keys const all = keys(m);
  auto it = m.iteratorConst();
  ++it;
  ++it;
  m.remove(it->k);
  ++it;
  EXPECT_EQ(it->k.stdString(), all[3]) << "the member under the iterator";

  m.remove(Kiv::String8(all[3]));
  m.remove(Kiv::String8(all[4]));
  ++it;
  EXPECT_EQ(it->k.stdString(), all[5]) << "the member under the iterator and the one after it";

  auto last = m.iteratorConst(Kiv::String8(all[19]));
  m.remove(Kiv::String8(all[19]));
  ++last;
  EXPECT_FALSE(last) << "the last member";
}

TEST(HashMapIterator, IteratorAtKeyStartsAtKeyOrItsSuccessor) {
  Map m;
  fill(m, 50);
  Keys const all = keys(m);
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
  if (want.empty())
    EXPECT_FALSE(it);
  else
    EXPECT_EQ(it->k.stdString(), want);
}

// Records each member that delete-all announces; `onNotify` acts on the map
// from inside the announcement.
struct Announcing : Map::Iterator {
  Announcing(Map* m, Keys* log) : Map::Iterator(m, m->first()), log(log) {}
  void deleteNotify(Kiv::Ptr<Item> const& member) override {
    log->push_back(member->k.stdString());
    if (onNotify) onNotify();
  }
  Keys* log;
  std::function<void()> onNotify;
};

TEST(HashMapDeleteAll, AnnouncesEachMemberOnceInOrderAndRestartsForMembersAddedMeanwhile) {
  Map m;
  fill(m, 6);
  Keys const all = keys(m);
  Keys log;
  Announcing(&m, &log).deleteAll();
  EXPECT_EQ(log, all);
  EXPECT_TRUE(m.empty());

  fill(m, 4);
  log.clear();
  Announcing adding(&m, &log);
  adding.onNotify = [&] {
    if (log.size() == 2) m.insert(Kiv::make<Item>(Kiv::String8("late")));
  };
  adding.deleteAll();
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), "late"), 1);
  EXPECT_EQ(log.size(), 5u);

  // A member that an observer removes is announced only by its remover.
  fill(m, 5);
  Keys const five = keys(m);
  log.clear();
  Announcing removing(&m, &log);
  removing.onNotify = [&] {
    if (log.size() == 1) m.remove(Kiv::String8(five[1]));
  };
  removing.deleteAll();
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), five[1]), 0);
  EXPECT_EQ(log.size(), 4u);
}

// A member that logs its end, to see exactly when its last holder lets go.
struct Logged : Kiv::PtrInterface, Kiv::HashMapLink<Logged> {
  Logged(Kiv::String8 k, Keys* ended) : k(std::move(k)), ended(ended) {}
  ~Logged() override { ended->push_back(k.stdString()); }
  Kiv::String8 key() const { return k; }
  Kiv::String8 k;
  Keys* ended;
};
using LMap = Kiv::HashMap<Logged, Kiv::String8, Kiv::KeyBy<&Logged::key>>;

TEST(HashMapLifetime, MembersRemovedUnderLiveIteratorsEndWithTheirLastHolderAndTheWalksGoOn) {
  Keys ended;
  LMap m;
  for (int i = 0; i < 20; ++i) m.insert(Kiv::make<Logged>(Kiv::String8(key(i)), &ended));
  Keys all;
  for (Logged const& l : m) all.push_back(l.k.stdString());
  auto const at = [&](int i) { return m.iterator(Kiv::String8(all[i])); };
  auto const drop = [&](int i) { m.remove(Kiv::String8(all[i])); };

  // Two iterators on one member; it and the member after it go.
  auto a = at(2), b = at(2);
  drop(2);
  drop(3);
  EXPECT_EQ(ended, Keys{all[3]}) << "nobody holds the member removed after a held one";
  ++a;
  EXPECT_EQ(a->k.stdString(), all[4]);
  EXPECT_EQ(ended, Keys{all[3]}) << "the second iterator still holds it";
  ++b;
  EXPECT_EQ(b->k.stdString(), all[4]);
  EXPECT_EQ(ended, (Keys{all[3], all[2]}));

  // A removed member kept by a holder keeps nobody else.
  Kiv::Ptr<Logged> kept = m.remove(Kiv::String8(all[5]));
  drop(6);
  EXPECT_EQ(ended.back(), all[6]);

  // Removed, put back and removed again under an iterator, and the member
  // after it too: the iterator goes on at the next live one.
  auto twice = at(8);
  Kiv::Ptr<Logged> again = m.remove(Kiv::String8(all[8]));
  m.insert(again);
  m.remove(again.ptr());
  again = nullptr;
  drop(9);
  ++twice;
  EXPECT_EQ(twice->k.stdString(), all[10]);
  EXPECT_EQ(ended.back(), all[8]);

  // Cleared under an iterator: everyone else ends at once, the iterator's
  // member when it comes to its end.
  auto cleared = at(15);
  ended.clear();
  m.clear();
  EXPECT_EQ(ended.size(), 11u) << "14 members less the 3 that iterators stand on";
  a = LMap::Iterator();
  b = LMap::Iterator();
  twice = LMap::Iterator();
  EXPECT_EQ(ended.size(), 13u);
  ++cleared;
  EXPECT_FALSE(cleared);
  EXPECT_EQ(ended.back(), all[15]);
  EXPECT_EQ(kept->references(), 1u);
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

}  // namespace

namespace {

TEST(HashMapIterator, AnIteratorOfNoMapDeletesNothing) {
  Map::Iterator none;
  none.deleteAll();
  none.del();
  EXPECT_FALSE(none);
}

}  // namespace

namespace {

// Random insertions, removals and clears, checked against an ordered set of
// (bit-reversed hash, key) after every few steps: the order of both walks,
// look-ups of present and absent keys and the place of an absent key. The
// map grows to a few hundred members, shrinks back and refills, so every
// group split and merge runs over the hashes of each row.
struct Churn {
  char const* name;
  std::uint32_t (*hash)(int v);
};
Churn const churns[] = {
    {"mixed hashes", [](int v) { return Kiv::hashU32(static_cast<std::uint32_t>(v)); }},
    {"hashes alike in their low bits: one long group", [](int v) { return static_cast<std::uint32_t>(v) << 16; }},
    {"hashes alike in their high bits: one member a group", [](int v) { return static_cast<std::uint32_t>(v); }},
    {"few distinct hashes: order by key", [](int v) { return static_cast<std::uint32_t>(v % 5) * 0x01010101u; }},
};

template <class Item>
void churn(Churn const& c) {
  SCOPED_TRACE(c.name);
  using M = Kiv::HashMap<Item, Forced, Kiv::KeyBy<&Item::key>>;
  using Entry = std::pair<std::uint32_t, int>;
  M m;
  std::set<Entry> model;
  std::mt19937 rng(20260101);
  int const range = 600;
  auto const keyOf = [&](int v) { return Forced{c.hash(v), v}; };
  auto const entryOf = [&](int v) { return Entry{Kiv::bitReverse(c.hash(v)), v}; };
  for (int step = 0; step < 3000; ++step) {
    int const v = static_cast<int>(rng() % range);
    bool const filling = (step / 1000) % 2 == 0;
    unsigned const dice = rng() % 100;
    if (dice == 0 && step % 3 == 0) {
      m.clear();
      model.clear();
    } else if (model.count(entryOf(v))) {
      if (dice < (filling ? 20u : 80u)) {
        ASSERT_EQ(m.remove(keyOf(v))->k.v, v);
        model.erase(entryOf(v));
      }
    } else if (dice < (filling ? 80u : 20u)) {
      m.insert(Kiv::make<Item>(keyOf(v)));
      model.insert(entryOf(v));
    }
    if (step % 7) continue;
    ASSERT_EQ(m.members(), model.size()) << step;
    std::vector<int> walked, stepped, want;
    for (Item const& i : m) walked.push_back(i.k.v);
    for (auto it = m.iteratorConst(); it; ++it) stepped.push_back(it->k.v);
    for (Entry const& e : model) want.push_back(e.second);
    ASSERT_EQ(walked, want) << step;
    ASSERT_EQ(stepped, want) << step;
    for (Entry const& e : model) ASSERT_NE(m.find(keyOf(e.second)), nullptr) << step;
    if (!model.count(entryOf(v))) {
      EXPECT_EQ(m.find(keyOf(v)), nullptr) << step;
      auto const after = model.upper_bound(entryOf(v));
      auto const at = m.iteratorConst(keyOf(v));
      if (after == model.end())
        EXPECT_FALSE(at) << step;
      else
        EXPECT_EQ(at ? at->k.v : -1, after->second) << step;
    }
  }
}

TEST(HashMapChurn, EveryChangeKeepsOrderLookUpsAndPlacesWithEitherLinkLayout) {
  for (Churn const& c : churns) {
    churn<FItem>(c);
    churn<OItem>(c);
  }
}

}  // namespace
