// Ethernet addresses: accepted and refused text, conversions, byte order,
// a platform-fixed hash and the text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "Kiv/Strep.h"
#include "Pyrel/EthAddr.h"
#include "support/ExceptionMessage.h"

namespace {

using Pyrel::EthAddr;
using TestSupport::rangeMessage;

TEST(EthAddrParse, ColonAndDottedFormsInEitherCaseAndNothingElse) {
  EthAddr const expected(EthAddr::Bytes{0x00, 0x1c, 0x73, 0x00, 0xab, 0x01});
  for (char const* text : {"00:1c:73:00:ab:01", "00:1C:73:00:AB:01", "001c.7300.ab01", "001C.7300.AB01"})
    EXPECT_EQ(EthAddr(Kiv::String8(text)), expected) << text;
  for (char const* bad : {"", "00:1c:73:00:00", "00:1c:73:00:00:01:02", " 00:1c:73:00:00:01", "00-1c-73-00-00-01",
                          "0:1c:73:00:00:01a", "00:1c:73:00:00:0g", "001c.7300.0001.", "001c.7300:0001",
                          "00:1c.73:00:00:01", "001c73000001", "\n"}) {
    EXPECT_EQ(rangeMessage([&] { static_cast<void>(EthAddr(Kiv::String8(bad))); }),
              "bad Ethernet address " + Kiv::valueToStrep(bad).stdString());
  }
}

TEST(EthAddrValue, IntegerConversionsPrintOrderHashAndTextForm) {
  EthAddr const a(std::uint64_t{0x001c730aff01});
  EXPECT_EQ(a.bytes(), (EthAddr::Bytes{0x00, 0x1c, 0x73, 0x0a, 0xff, 0x01}));
  EXPECT_EQ(a.value(), 0x001c730aff01u);
  EXPECT_EQ(EthAddr(std::uint64_t{0xFFFFFFFFFFFF}).value(), 0xFFFFFFFFFFFFu);
  EXPECT_EQ(rangeMessage([] { static_cast<void>(EthAddr(std::uint64_t{1} << 48)); }),
            "Ethernet address out of range: 281474976710656");
  std::ostringstream os;
  os << a << ' ' << EthAddr();
  EXPECT_EQ(os.str(), "00:1c:73:0a:ff:01 00:00:00:00:00:00");
  std::vector<EthAddr> v;
  for (std::uint64_t n : std::vector<std::uint64_t>{0x010000000000, 0xff, 0x100, 0, 0xff0000000000}) v.emplace_back(n);
  std::sort(v.begin(), v.end());
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](EthAddr x, EthAddr y) { return x.value() < y.value(); }));
  // Pinned, so that a 32-bit build iterates address tables in the same order.
  EthAddr const b(Kiv::String8("001c.7300.0001"));
  EXPECT_EQ(b.hash(), 0x0eeb609du);

  // The text form: quoted, in colon form; a string that is no address
  // leaves the reader in place.
  EXPECT_EQ(Kiv::valueToStrep(b), "'00:1c:73:00:00:01'");
  EXPECT_EQ(Kiv::strepToValue<EthAddr>(" \"001C.7300.0001\"\n"), b);
  Kiv::String8 const s("x '00:1c:73'");
  auto it = s.iterator(2);
  EXPECT_EQ(rangeMessage([&] { Kiv::sequenceToValue<EthAddr>(it, s.end()); }),
            "bad Ethernet address '00:1c:73' at column 2");
  EXPECT_EQ(it.position(), 2u);
}

}  // namespace
