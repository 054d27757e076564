// Interface names: a natural order that is a strict total order consistent
// with equality, a platform-fixed hash, the type object and the text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "Pyrel/IntfId.h"

namespace {

using Pyrel::IntfId;

IntfId id(std::string const& n) { return IntfId(Kiv::String8(n)); }

TEST(IntfIdOrder, NumbersSortByValueInAStrictTotalOrder) {
  std::vector<std::string> const expected = {"Eth/1",     "Ethernet1",  "Ethernet1/1",  "Ethernet1/2",
                                             "Ethernet1/10", "Ethernet2", "Ethernet10", "Port-Channel5",
                                             "Port-Channel40", "Vlan9",   "Vlan4094"};
  std::vector<IntfId> v;
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) v.push_back(id(*it));
  std::sort(v.begin(), v.end());
  std::vector<std::string> sorted;
  for (auto const& i : v) sorted.push_back(i.stringValue().stdString());
  EXPECT_EQ(sorted, expected);

  for (char const* n : {"", "0", "00", "1", "01", "001", "9", "10", "a", "a0", "a00", "a1", "a01", "a/1", "a1/",
                        "a1/0", "a10b", "a010b", "a9b", "a~", "x9y", "x09y", "\xff", "1a", "01a", "Ethernet",
                        "Ethernetx", "18446744073709551616", "99999999999999999999999"}) {
    v.push_back(id(n));
  }
  for (auto const& a : v) {
    for (auto const& b : v) {
      EXPECT_EQ((a < b) + (b < a) + (a == b), 1) << a << " vs " << b;
      for (auto const& c : v) {
        if (a < b && b < c) {
          EXPECT_TRUE(a < c) << a << " < " << b << " < " << c;
        }
      }
    }
  }
  // Names equal but for leading zeros are distinct keys.
  EXPECT_EQ(std::set<IntfId>(v.begin(), v.end()).size(), v.size());
}

TEST(IntfIdValue, PinnedHashPrintTypeAndTextForm) {
  // Pinned, so that a 32-bit build iterates collections in the same order.
  EXPECT_EQ(id("Ethernet1").hash(), 0x66d2033du);
  std::ostringstream os;
  os << id("Ethernet1") << IntfId();
  EXPECT_EQ(os.str(), "Ethernet1");
  EXPECT_EQ(IntfId::_fwkType()->qualifiedName(), Kiv::String8("Pyrel::IntfId"));

  IntfId const odd = id("it's\n");
  EXPECT_EQ(Kiv::valueToStrep(id("Ethernet3/1")), "'Ethernet3/1'");
  EXPECT_EQ(Kiv::strepToValue<IntfId>(Kiv::valueToStrep(odd)), odd);
  EXPECT_EQ(Kiv::strepToValue<IntfId>(" \"\" "), IntfId());
  Kiv::String8 const s("'Ethernet1' 'x'");
  auto it = s.iterator();
  EXPECT_EQ(Kiv::sequenceToValue<IntfId>(it, s.end()), id("Ethernet1"));
  Kiv::needString(it, s.end(), " ");
  EXPECT_EQ(Kiv::deserializeAttr<IntfId>(it, s.end(), nullptr, "intfId"), id("x"));
  EXPECT_THROW(Kiv::strepToValue<IntfId>("Ethernet1"), Kiv::RangeException);
}

}  // namespace
