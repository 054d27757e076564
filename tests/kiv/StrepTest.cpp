// Text forms and their readers: what the writers print, what the readers
// accept, where they stop, and the exact failures that value-type parsers
// pass on to their users.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "support/ExceptionMessage.h"

namespace {

using It = Kiv::String8::IteratorConst;
using Kiv::String8;
using TestSupport::rangeMessage;

// Reads a V from the start of `text`; *stop receives the end position.
template <class V>
V readAt(std::string const& text, std::size_t* stop = nullptr) {
  String8 s(text);
  It it = s.iterator();
  V v = Kiv::sequenceToValue<V>(it, s.end());
  if (stop) *stop = it.position();
  return v;
}

template <class V>
std::string readFailure(std::string const& text) {
  return rangeMessage([&] { readAt<V>(text); });
}

// On every prefix of `text`, a reader given an end inside the longer string
// must act exactly as on the prefix alone: same value and stop, or a throw
// that leaves the position alone. A reader that looks past its end fails.
template <class V>
void expectPrefixesReadAlone(std::string const& text) {
  String8 const full(text);
  for (std::size_t k = 0; k <= text.size(); ++k) {
    String8 const prefix(text.data(), k);
    It inFull = full.iterator(), alone = prefix.iterator();
    bool fullThrew = false, aloneThrew = false;
    V fromFull{}, fromAlone{};
    try {
      fromFull = Kiv::sequenceToValue<V>(inFull, full.iterator(k));
    } catch (Kiv::RangeException const&) {
      fullThrew = true;
      EXPECT_EQ(inFull.position(), 0u) << "prefix " << k;
    }
    try {
      fromAlone = Kiv::sequenceToValue<V>(alone, prefix.end());
    } catch (Kiv::RangeException const&) {
      aloneThrew = true;
    }
    ASSERT_EQ(fullThrew, aloneThrew) << "prefix " << k << " of " << text;
    EXPECT_EQ(inFull.position(), alone.position()) << "prefix " << k;
    EXPECT_TRUE(fromFull == fromAlone || (fromFull != fromFull && fromAlone != fromAlone)) << "prefix " << k;
  }
}

TEST(StrepWrite, TextForms) {
  EXPECT_EQ(Kiv::valueToStrep(String8()), "''");
  EXPECT_EQ(Kiv::valueToStrep(String8("a'b\"c\\d ~")), "'a\\'b\"c\\\\d ~'");
  EXPECT_EQ(Kiv::valueToStrep(String8("\n\t\r\x00\x1f\x7f\x80\xff", 8)), "'\\n\\t\\r\\x00\\x1f\\x7f\\x80\\xff'");
  // A literal or a name is a string, not the bool a pointer converts to.
  EXPECT_EQ(Kiv::valueToStrep("x"), "'x'");
  EXPECT_EQ(Kiv::valueToStrep(Kiv::Name("Ethernet1")), "'Ethernet1'");
  EXPECT_EQ(Kiv::valueToStrep(true) + Kiv::valueToStrep(false), "TrueFalse");
  EXPECT_EQ(Kiv::valueToStrep(std::numeric_limits<unsigned long long>::max()), "18446744073709551615");
  EXPECT_EQ(Kiv::valueToStrep(std::numeric_limits<long long>::min()), "-9223372036854775808");
  EXPECT_EQ(Kiv::valueToStrep(std::uint16_t{65535}) + Kiv::valueToStrep(std::int32_t{-7}), "65535-7");
  EXPECT_EQ(Kiv::valueToStrep(std::uint8_t{200}), "200");
  EXPECT_EQ(Kiv::valueToStrep(0.1), "0.1");
  EXPECT_EQ(Kiv::valueToStrep(1.0), "1");
  EXPECT_EQ(Kiv::valueToStrep(-0.0), "-0");
  EXPECT_EQ(Kiv::valueToStrep(1e300), "1e+300");
  EXPECT_EQ(Kiv::valueToStrep(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(Kiv::valueToStrep(std::numeric_limits<double>::quiet_NaN()), "nan");
}

// Runs needString on `text` (with its end at `endAt`, default the whole),
// returning the stop or the failure message.
std::string need(char const* text, char const* pattern, std::size_t endAt = std::string::npos) {
  String8 s(text);
  It it = s.iterator();
  try {
    Kiv::needString(it, s.iterator(std::min(endAt, s.size())), pattern);
  } catch (Kiv::RangeException const& e) {
    EXPECT_EQ(it.position(), 0u) << "a failed pattern consumes nothing";
    return e.message().stdString();
  }
  return std::to_string(it.position());
}

TEST(StrepNeedString, BlankIsAnyRunOfWhiteSpaceAndAFailureNamesTokenAndColumn) {
  for (char const* text : {":", " :", ":  ", "\t\r\n: \n"}) {
    EXPECT_EQ(need(text, " : "), std::to_string(std::strlen(text)));
  }
  EXPECT_EQ(need("}  \n)x", "} "), "4");
  EXPECT_EQ(need("", " "), "0");
  EXPECT_EQ(need("a   ", "a ", 2), "2");
  EXPECT_EQ(need("Val ue", "Value"), "expected \"Value\" at column 0");
  EXPECT_EQ(need("Value (  'Bridging::Orva::Other'", " Value (  'Bridging::Orva::Config::TapDevice'"),
            "expected \"'Bridging::Orva::Config::TapDevice'\" at column 9");
  EXPECT_EQ(need("a  c", "a b"), "expected \"b\" at column 3");
  EXPECT_EQ(need("Val", " Value"), "expected \"Value\" at column 0, found end of input");
  EXPECT_EQ(need("Value", "Value", 4), "expected \"Value\" at column 0, found end of input");
}

TEST(StrepStringRead, EveryByteRoundTripsThroughPrintableText) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  String8 const text = Kiv::valueToStrep(String8(all));
  for (unsigned char c : text) ASSERT_TRUE(c >= 0x20 && c < 0x7f) << int(c);
  String8 const back = Kiv::strepToValue<String8>(text);
  EXPECT_EQ(std::string(back.begin(), back.end()), all) << "a string is a range of its bytes";
}

TEST(StrepStringRead, QuotesEscapesAndStop) {
  EXPECT_EQ(readAt<String8>("'it\"s'"), "it\"s");
  EXPECT_EQ(readAt<String8>("\"it's \\\"x\\\"\""), "it's \"x\"");
  EXPECT_EQ(readAt<String8>("'\\n\\t\\r\\\\\\'\\x41\\xfF\\x00'"), String8("\n\t\r\\'A\xff\x00", 8));
  // Bytes the writer escapes are also taken raw.
  EXPECT_EQ(readAt<String8>(std::string("'a\nb\xff\0'", 7)), String8("a\nb\xff\0", 5));
  EXPECT_EQ(readAt<Kiv::Name>("''"), Kiv::Name());
  std::size_t stop = 0;
  EXPECT_EQ(readAt<String8>("'ab', 'cd'", &stop), "ab");
  EXPECT_EQ(stop, 4u);
}

TEST(StrepStringRead, FailuresNameWhatWasExpected) {
  struct Case {
    char const* text;
    char const* message;
  } const cases[] = {
      {"", "expected a quoted string at column 0, found end of input"},
      {"eth1", "expected a quoted string at column 0"},
      {"'eth1\"", "unterminated string starting at column 0"},
      {"'ab\\", "unterminated string starting at column 0"},
      {"'ab\\x4", "unterminated string starting at column 0"},
      {"'ab\\q'", "expected an escape sequence at column 3"},
      {"'ab\\x4g'", "expected two hex digits at column 5"},
  };
  for (auto const& c : cases) EXPECT_EQ(readFailure<String8>(c.text), c.message) << c.text;
  std::string const valid = "'a\\'b\\x41\\n\"c'";
  expectPrefixesReadAlone<String8>(valid);
  for (std::size_t k = 0; k < valid.size(); ++k) {
    EXPECT_THROW(readAt<String8>(valid.substr(0, k)), Kiv::RangeException) << k;
  }
}

TEST(StrepNumberRead, ValuesSignsAndStop) {
  EXPECT_EQ(readAt<long long>("9223372036854775807"), std::numeric_limits<long long>::max());
  EXPECT_EQ(readAt<long long>("-9223372036854775808"), std::numeric_limits<long long>::min());
  EXPECT_EQ(readAt<long long>("+5") + readAt<long long>("-0") + readAt<long long>("007"), 12);
  EXPECT_EQ(readAt<unsigned long long>("18446744073709551615"), std::numeric_limits<unsigned long long>::max());
  EXPECT_EQ(readAt<unsigned long long>("-0"), 0u);
  std::size_t stop = 0;
  EXPECT_EQ(readAt<long long>("12ab", &stop), 12);
  EXPECT_EQ(stop, 2u);
  EXPECT_TRUE(readAt<bool>("True") && readAt<bool>("true") && !readAt<bool>("False") && !readAt<bool>("false"));
  EXPECT_EQ(readAt<double>("-2.5e-3"), -2.5e-3);
  EXPECT_EQ(readAt<double>("+1.5") + readAt<double>(".5"), 2.0);
  EXPECT_TRUE(std::isnan(readAt<double>("nan")));
  EXPECT_EQ(readAt<double>("-inf"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::signbit(readAt<double>("-0")));
  EXPECT_EQ(readAt<double>("2.5})", &stop), 2.5);
  EXPECT_EQ(stop, 3u);
  expectPrefixesReadAlone<long long>("-9223372036854775808");
  expectPrefixesReadAlone<unsigned long long>("18446744073709551615");
  expectPrefixesReadAlone<bool>("False");
  expectPrefixesReadAlone<double>("-1.25e+300");
}

TEST(StrepNumberRead, FailuresNameWhatWasExpected) {
  EXPECT_EQ(readFailure<long long>("9223372036854775808"), "integer out of range at column 0");
  EXPECT_EQ(readFailure<long long>("-9223372036854775809"), "integer out of range at column 0");
  EXPECT_EQ(readFailure<long long>("-"), "expected an integer at column 0, found end of input");
  EXPECT_EQ(readFailure<long long>("- 5"), "expected an integer at column 0");
  EXPECT_EQ(readFailure<long long>(" 5"), "expected an integer at column 0");
  EXPECT_EQ(readFailure<unsigned long long>("18446744073709551616"), "unsigned integer out of range at column 0");
  EXPECT_EQ(readFailure<unsigned long long>("-1"), "unsigned integer out of range at column 0");
  EXPECT_EQ(readFailure<bool>("TRUE"), "expected True or False at column 0");
  EXPECT_EQ(readFailure<double>("+"), "expected a number at column 0, found end of input");
  EXPECT_EQ(readFailure<double>("+-1"), "expected a number at column 0");
  EXPECT_EQ(readFailure<double>("."), "expected a number at column 0");
  EXPECT_EQ(readFailure<double>("1e400"), "number out of range at column 0");
}

TEST(StrepNumberRead, WrittenDoubleReadsBackBitForBit) {
  using L = std::numeric_limits<double>;
  for (double v : {-0.0, 1.0 / 3.0, -123456.789, std::ldexp(1.0, -20), L::max(), L::lowest(), L::min(),
                   L::denorm_min(), L::epsilon(), L::infinity()}) {
    double const back = Kiv::strepToValue<double>(Kiv::valueToStrep(v));
    EXPECT_EQ(std::memcmp(&v, &back, sizeof v), 0) << Kiv::valueToStrep(v);
  }
}

// A type whose reader fails with something other than a range error.
struct Probe {};
Probe sequenceToValue(It&, It const&, Probe*) { throw Kiv::InternalException("probe"); }

TEST(StrepDeserializeAttr, RangeFailureNamesAttributeOthersPassUnchanged) {
  String8 s("'eth1' 99999999999999999999");
  It it = s.iterator();
  EXPECT_EQ(Kiv::deserializeAttr<String8>(it, s.end(), nullptr, "name"), "eth1");
  Kiv::needString(it, s.end(), " ");
  EXPECT_EQ(rangeMessage([&] { Kiv::deserializeAttr<long long>(it, s.end(), nullptr, "fileno"); }),
            "integer out of range at column 7 (attribute 'fileno')");
  EXPECT_EQ(it.position(), 7u);
  EXPECT_EQ(rangeMessage([] { Kiv::rethrowFromDeserializeAttr(Kiv::RangeException("bad"), "it's"); }),
            "bad (attribute 'it\\'s')");
  Probe const current;
  EXPECT_THROW(Kiv::deserializeAttr<Probe>(it, s.end(), &current, "probe"), Kiv::InternalException);
}

TEST(StrepToValue, WholeStringOrJunkAtColumn) {
  EXPECT_EQ(Kiv::strepToValue<long long>("  -42 \n"), -42);
  EXPECT_EQ(Kiv::strepToValue<String8>("\t'a b' "), "a b");
  EXPECT_EQ(Kiv::strepToValue("12", static_cast<unsigned long long*>(nullptr)), 12u);
  try {
    Kiv::strepToValue<long long>("42 x");
    FAIL() << "did not throw";
  } catch (Kiv::RangeException const& e) {
    EXPECT_EQ(e.message(), "junk at column 3 deserializing 42 x");
    EXPECT_EQ(e.ids(), Kiv::Exception::IdSet{Kiv::ExceptionId::range});
    EXPECT_TRUE(e.verbatim());
  }
  EXPECT_EQ(rangeMessage([] { Kiv::strepToValue<bool>("Truex"); }), "junk at column 4 deserializing Truex");
  // The whole input, even past a NUL byte.
  EXPECT_EQ(rangeMessage([] { Kiv::strepToValue<String8>(String8("'a'\0b", 5)); }),
            std::string("junk at column 3 deserializing 'a'\0b", 36));
  EXPECT_EQ(rangeMessage([] { Kiv::strepToValue<long long>("   "); }),
            "expected an integer at column 3, found end of input");
}

}  // namespace
