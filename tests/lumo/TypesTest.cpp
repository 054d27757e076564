// The model's value types: VLAN and forwarding database ids, port states and
// learned hosts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <type_traits>

#include "Kiv/Hash.h"
#include "Lumo/Bridging.h"
#include "Lumo/Types.h"

namespace {

using Bridging::Fid;
using Bridging::VlanId;
using Bridging::Topology::PortState;

template <class T>
std::string printed(T const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

TEST(LumoValues, IdsHashCompareAndPrintAsTheirNumbersAndStayApart) {
  EXPECT_EQ(VlanId(4094).hash(), Kiv::hashU32(4094));
  EXPECT_EQ(Fid(4094).hash(), VlanId(4094).hash()) << "a VLAN and its forwarding database hash alike";
  EXPECT_NE(VlanId(1).hash(), VlanId(2).hash());
  EXPECT_TRUE(VlanId(9) < VlanId(10) && !(VlanId(10) < VlanId(10)) && VlanId(10) != VlanId(11));
  // Small and full-width values print as numbers, never as characters.
  EXPECT_EQ(printed(VlanId(65)) + " " + printed(VlanId(65535)) + " " + printed(Fid(0)), "65 65535 0");
  static_assert(!std::is_convertible<VlanId, Fid>::value, "a VLAN id is not a forwarding database id");
  static_assert(!std::is_convertible<std::uint16_t, VlanId>::value, "ids are made explicitly");
  static_assert(sizeof(VlanId) == 2 && sizeof(Fid) == 2, "ids are 16-bit values");
}

TEST(LumoValues, PortStatesPrintByNameAndLearnedHostsCompareBothFields) {
  EXPECT_EQ(PortState(), PortState::disabled);
  EXPECT_EQ(printed(PortState::disabled) + " " + printed(PortState::discarding) + " " + printed(PortState::learning) +
                " " + printed(PortState::forwarding) + " " + printed(static_cast<PortState>(200)),
            "disabled discarding learning forwarding PortState(200)");

  Pyrel::EthAddr const a(Kiv::String8("00:1c:73:00:00:01")), b(Kiv::String8("00:1c:73:00:00:02"));
  Bridging::LearnedHost const h(a, Pyrel::IntfId("Ethernet1"));
  EXPECT_EQ(h, Bridging::LearnedHost(a, Pyrel::IntfId("Ethernet1")));
  EXPECT_NE(h, Bridging::LearnedHost(b, Pyrel::IntfId("Ethernet1")));
  EXPECT_NE(h, Bridging::LearnedHost(a, Pyrel::IntfId("Ethernet2")));
}

}  // namespace
