// Counted objects: birth and adoption, the zero-references hook,
// nondestructing objects, never-null references, and the flag word.
#include <gtest/gtest.h>

#include <string>

#include "Kiv/BitSet.h"
#include "Kiv/Exception.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

namespace {

struct Tracked : Kiv::PtrInterface {
  explicit Tracked(int* alive) : alive(alive) { ++*alive; }
  ~Tracked() override { --*alive; }
  void zeroReferencesIs(bool) override {
    ++zeroCalls;
    if (resurrectInto) *resurrectInto = Kiv::Ptr<Tracked>(this);
  }
  int* alive;
  int zeroCalls = 0;
  Kiv::Ptr<Tracked>* resurrectInto = nullptr;
};

TEST(CountedObject, MakeAdoptsTheBirthReferenceAndTheLastReleaseDeletes) {
  int alive = 0;
  {
    auto p = Kiv::make<Tracked>(&alive);
    EXPECT_EQ(p->references(), 1u);
    Kiv::Ptr<Kiv::PtrInterface> q = p;
    EXPECT_EQ(p->references(), 2u);
    q = nullptr;
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

TEST(CountedObject, ZeroReferencesHookMayKeepTheObjectAndANondestructingOneOutlivesItsReferences) {
  int alive = 0;
  Kiv::Ptr<Tracked> kept;
  auto p = Kiv::make<Tracked>(&alive);
  Tracked* raw = p.ptr();
  raw->resurrectInto = &kept;
  p = nullptr;
  EXPECT_EQ(alive, 1) << "the hook took a new reference";
  EXPECT_EQ(raw->zeroCalls, 1);
  raw->resurrectInto = nullptr;
  raw->isNondestructingIs(true);
  kept = nullptr;
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(raw->zeroCalls, 2);
  raw->isNondestructingIs(false);
  { Kiv::Ptr<Tracked> last(raw); }  // one more count and release: now it goes
  EXPECT_EQ(alive, 0);
}

TEST(CountedObject, MarkedForDeletionIsTheSignOfTheReferenceWord) {
  int alive = 0;
  auto p = Kiv::make<Tracked>(&alive);
  EXPECT_GT(p->kivReferenceWord(), 0);
  p->kivMarkedForDeletionIs(true);
  EXPECT_LT(p->kivReferenceWord(), 0);
  EXPECT_EQ(p->references(), 1u) << "the mark leaves the count alone";
}

TEST(ValidPtr, NullIsRefusedWithTheRangeException) {
  try {
    Kiv::ValidPtr<Tracked> v(Kiv::Ptr<Tracked>{});
    FAIL();
  } catch (Kiv::RangeException const& e) {
    EXPECT_EQ(e.message(), Kiv::String8("null ValidPtr"));
  }
}

TEST(BitSet, PositionsOutsideTheSetFailTheAssertion) {
  Kiv::BitSet<27, unsigned int> b;
  b.bitIs(26, true);
  b.bitIs(0, true);
  EXPECT_EQ(b.word(), (1u << 26) | 1u);
  for (int bad : {-1, 27}) {
    try {
      b.bitIs(bad, true);
      FAIL() << bad;
    } catch (Kiv::InternalException const& e) {
      std::string m = e.message().stdString();
      EXPECT_NE(m.find("pos>=0 && pos<bits"), std::string::npos) << m;
      EXPECT_NE(m.find("Kiv/BitSet"), std::string::npos) << m;
    }
  }
  EXPECT_EQ(b.word(), (1u << 26) | 1u) << "a refused position changes nothing";
}

}  // namespace
