// The tap device value: its text form and parser (also on truncated and
// corrupted input) and its attribute-log encoding. Its equality is proved
// by the configuration's notifications (ConfigTest.cpp).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Strep.h"
#include "agent/Config.h"
#include "support/ExceptionMessage.h"

namespace {

using TapDevice = Bridging::Orva::Config::TapDevice;
using TestSupport::rangeMessage;

std::string const head = "Value('Bridging::Orva::Config::TapDevice', ** {";

TapDevice parse(std::string const& text) { return Kiv::strepToValue<TapDevice>(Kiv::String8(text)); }
std::string text(TapDevice const& v) { return Bridging::Orva::valueToStrep(v).stdString(); }

TEST(TapDeviceText, PrintsExactLiteralPiecesAndRoundTripsNamesThatNeedEscaping) {
  EXPECT_EQ(text(TapDevice()), head + "'name': '', 'fileno': 0})");
  EXPECT_EQ(text(TapDevice("eth1", 7)), head + "'name': 'eth1', 'fileno': 7})");
  EXPECT_EQ(text(TapDevice("it's\n", 65535)), head + "'name': 'it\\'s\\n', 'fileno': 65535})");
  std::ostringstream os;
  os << TapDevice("eth1", 7) << '|';
  EXPECT_EQ(os.str(), text(TapDevice("eth1", 7)) + "|");
  for (std::string name :
       {std::string(), std::string("eth1"), std::string("it's"), std::string("back\\slash"), std::string("\"dq\""),
        std::string("nul\0byte", 8), std::string("\n\t\r\x01\x1f\x7f"), std::string("\x80\xc3\xa9\xff")}) {
    for (std::uint16_t fileno : {0, 7, 65535}) EXPECT_EQ(parse(text(TapDevice(name, fileno))), TapDevice(name, fileno));
  }
}

// White space between all tokens, either quote, attributes in any order,
// repeated or missing, and descriptors kept modulo 65536.
TEST(TapDeviceText, AcceptedForms) {
  struct Row {
    std::string text;
    TapDevice value;
  };
  for (Row const& r : std::vector<Row>{
           {" \t\n Value \n ( 'Bridging::Orva::Config::TapDevice' , ** { 'fileno' : 5 , 'name' : 'a' } ) \r\n",
            {"a", 5}},
           {"Value('Bridging::Orva::Config::TapDevice',**{\"name\":\"a\",\"fileno\":5})", {"a", 5}},
           {head + "})", {}},
           {head + "'name': 'a', 'fileno': 1, 'name': 'b', 'fileno': 2})", {"b", 2}},
           {head + "'fileno': 9})", {"", 9}},
           {head + "'fileno': 65536})", {"", 0}},
           {head + "'fileno': -1})", {"", 65535}},
           {head + "'fileno': 4294967301})", {"", 5}}}) {
    EXPECT_EQ(parse(r.text), r.value) << r.text;
  }
}

TEST(TapDeviceText, FailuresCarryTheirExactMessages) {
  std::string const valid = text(TapDevice("eth1", 7));
  std::vector<std::pair<std::string, std::string>> const rows = {
      {head + "'foo': 1})", "TapDevice has no such attribute: foo"},
      {head + "'name': 'a'", "premature end of value type TapDevice"},
      {head + "'name': 'a' 'fileno': 1})", "expected \",\" at column 59"},
      {head + "'fileno': 'x'})", "expected an integer at column 57 (attribute 'fileno')"},
      {head + "'name': 5})", "expected a quoted string at column 55 (attribute 'name')"},
      {valid + " \t x", "junk at column " + std::to_string(valid.size() + 3) + " deserializing " + valid + " \t x"}};
  for (auto const& r : rows) EXPECT_EQ(rangeMessage([&] { parse(r.first); }), r.second) << r.first;
  EXPECT_EQ(Kiv::strepToValue(Kiv::String8(valid + "\n"), static_cast<TapDevice*>(nullptr)), TapDevice("eth1", 7));
}

TEST(TapDeviceText, IteratorConstructorStopsAfterTrailingWhiteSpace) {
  Kiv::String8 const two(text(TapDevice("a", 1)) + "  \n" + text(TapDevice("b", 2)));
  auto it = two.iterator();
  EXPECT_EQ(TapDevice(it, two.end()), TapDevice("a", 1));
  EXPECT_EQ(TapDevice(it, two.end()), TapDevice("b", 2));
  EXPECT_TRUE(it == two.end());
}

// Every proper prefix is incomplete: rejected with a range exception,
// whether the string itself ends there or only the given end does, and the
// position is left where it was. Every corrupted byte gives a value or a
// range exception. Under AddressSanitizer this also shows that nothing past
// the end is read.
TEST(TapDeviceText, TruncatedOrCorruptedInputIsRejectedWithARangeExceptionOnly) {
  std::string const valid = text(TapDevice("it's \\ \x01", 513));
  Kiv::String8 const whole(valid);
  for (std::size_t n = 0; n < valid.size(); ++n) {
    EXPECT_THROW(parse(valid.substr(0, n)), Kiv::RangeException) << n;
    auto it = whole.iterator();
    EXPECT_THROW(TapDevice(it, whole.iterator(n)), Kiv::RangeException) << n;
    EXPECT_EQ(it.position(), 0u);
    for (char c : {'\0', '\'', '"', '\\', '{', '}', ')', ',', ':', '-', 'x', '\xff'}) {
      std::string corrupt = valid;
      corrupt[n] = c;
      try {
        parse(corrupt);
      } catch (Kiv::RangeException const&) {
      } catch (...) {
        ADD_FAILURE() << "unexpected exception for " << corrupt;
      }
    }
  }
}

TEST(TapDeviceLog, RoundTripsThroughTheAttributeLogPrimitivesNameFirst) {
  TapDevice const a(std::string("nul\0\xff", 5), 65535), b("eth1", 7);
  auto out = Kiv::make<Kiv::NboAttrLog::Out>();
  EXPECT_EQ(&(out << a << b), &out) << "writes chain on the writer";
  auto same = Kiv::make<Kiv::NboAttrLog::Out>();
  same << a.name() << static_cast<unsigned short>(65535) << Kiv::String8("eth1") << static_cast<unsigned short>(7);
  EXPECT_EQ(out->bytes(), same->bytes()) << "the name, then the descriptor";

  auto in = Kiv::make<Kiv::NboAttrLog::In>(out->bytes());
  EXPECT_EQ(TapDevice(in.ptr(), Kiv::StreamBogon()), a);
  EXPECT_EQ(TapDevice(in.ptr(), Kiv::StreamBogon()), b);
  EXPECT_EQ(in->remaining(), 0u);
}

}  // namespace
