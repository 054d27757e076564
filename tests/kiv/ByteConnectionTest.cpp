// The attribute log's byte primitives: exact big-endian layouts, round trips
// at the extremes, and readers that refuse short or malformed records
// without reading past the end or moving.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Kiv/ByteConnection.h"
#include "Kiv/Exception.h"
#include "Kiv/NboAttrLog.h"
#include "support/ExceptionMessage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kiv::String8;
using TestSupport::rangeMessage;

Kiv::Ptr<Kiv::NboAttrLog::Out> writer() { return Kiv::make<Kiv::NboAttrLog::Out>(); }
Kiv::Ptr<Kiv::NboAttrLog::In> reader(Bytes const& b) { return Kiv::make<Kiv::NboAttrLog::In>(b); }

TEST(ByteConnectionLayout, BigEndianIntegersOneByteBoolsLengthPrefixedStrings) {
  auto out = writer();
  auto const& chained = out << static_cast<unsigned short>(0x0102) << std::uint32_t{0x03040506}
                            << std::uint64_t{0x0708090A0B0C0D0Eull} << std::int32_t{-2} << true << false;
  EXPECT_EQ(chained.ptr(), out.ptr());
  EXPECT_EQ(out->bytes(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xFF, 0xFF, 0xFF, 0xFE, 1, 0}));
  out->clear();
  // A literal is a string, not the bool a pointer converts to.
  out << String8("ab") << String8() << "x";
  EXPECT_EQ(out->bytes(), (Bytes{0, 0, 0, 2, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 1, 'x'}));
}

TEST(ByteConnectionRoundTrip, ExtremesOfEveryPrimitive) {
  using I32 = std::numeric_limits<std::int32_t>;
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  std::string big(1u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
  auto out = writer();
  out << false << true << static_cast<unsigned short>(0) << std::numeric_limits<std::uint16_t>::max()
      << std::numeric_limits<std::uint32_t>::max() << std::numeric_limits<std::uint64_t>::max() << I32::min()
      << std::int32_t{-1} << I32::max() << String8() << String8(every) << String8(big);
  auto in = reader(out->bytes());
  EXPECT_FALSE(in->nextbool());
  EXPECT_TRUE(in->nextbool());
  EXPECT_EQ(in->nextU16(), 0u);
  EXPECT_EQ(in->nextU16(), 0xFFFFu);
  EXPECT_EQ(in->nextU32(), 0xFFFFFFFFu);
  EXPECT_EQ(in->nextU64(), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(in->nextI32(), I32::min());
  EXPECT_EQ(in->nextI32(), -1);
  EXPECT_EQ(in->nextI32(), I32::max());
  EXPECT_EQ(in->nextString(), String8());
  EXPECT_EQ(in->nextString(), String8(every));
  EXPECT_EQ(in->nextString(), String8(big));
  EXPECT_EQ(in->remaining(), 0u);
  EXPECT_EQ(in->position(), out->size());
}

TEST(ByteConnectionTruncation, EveryCutThrowsAtTheValueItSplitsAndKeepsPosition) {
  auto out = writer();
  out << true << static_cast<unsigned short>(0xBEEF) << std::uint32_t{0xCAFEF00D} << std::uint64_t{1}
      << std::int32_t{-5} << String8("tap0");
  struct Field {
    std::size_t size;
    char const* message;
    std::function<void(Kiv::ByteConnection::In&)> read;
  };
  std::vector<Field> const fields = {
      {1, "short record reading bool", [](auto& in) { EXPECT_TRUE(in.nextbool()); }},
      {2, "short record reading u16", [](auto& in) { EXPECT_EQ(in.nextU16(), 0xBEEFu); }},
      {4, "short record reading u32", [](auto& in) { EXPECT_EQ(in.nextU32(), 0xCAFEF00Du); }},
      {8, "short record reading u64", [](auto& in) { EXPECT_EQ(in.nextU64(), 1u); }},
      {4, "short record reading i32", [](auto& in) { EXPECT_EQ(in.nextI32(), -5); }},
      {8, "short record reading string", [](auto& in) { EXPECT_EQ(in.nextString(), "tap0"); }},
  };
  Bytes const record = out->bytes();
  for (std::size_t cut = 0; cut < record.size(); ++cut) {
    auto in = Kiv::make<Kiv::ByteConnection::In>(record.data(), cut);
    std::size_t start = 0;
    for (Field const& f : fields) {
      if (start + f.size <= cut) {
        f.read(*in);
        start += f.size;
        continue;
      }
      std::string const m = rangeMessage([&] { f.read(*in); });
      EXPECT_EQ(m.compare(0, std::strlen(f.message), f.message), 0) << m;
      EXPECT_EQ(in->position(), start) << "cut at " << cut;
      break;
    }
  }
  EXPECT_EQ(rangeMessage([] { reader({0, 0})->nextString(); }), "short record reading string length");
  EXPECT_EQ(rangeMessage([] { reader({0, 0, 0, 2, 'a'})->nextString(); }), "short record reading string of 2 bytes");
}

TEST(ByteConnectionMalformed, BadBoolByteAndHugeLengthThrowWithoutMoving) {
  auto in = reader({2, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
  EXPECT_EQ(rangeMessage([&] { in->nextbool(); }), "bad bool byte 2");
  EXPECT_EQ(in->position(), 0u);
  in->nextU16();
  EXPECT_EQ(in->nextU16(), 0xFFFFu);
  // Under AddressSanitizer an attempt to allocate the claimed 4 GiB would
  // fail loudly.
  auto huge = reader({0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
  EXPECT_EQ(rangeMessage([&] { huge->nextString(); }), "short record reading string of 4294967295 bytes");
  EXPECT_EQ(huge->position(), 0u);
}

TEST(ByteConnectionSizeAnchor, ReadingStopsAtAnchorAsAtEndAndNestedAnchorsOnlyNarrow) {
  auto out = writer();
  out << std::uint32_t{1} << String8("ab") << std::uint32_t{3};
  auto in = reader(out->bytes());
  {
    Kiv::ConnectionInSizeAnchor frame(in, 9);
    EXPECT_EQ(in->nextU32(), 1u);
    EXPECT_EQ(rangeMessage([&] { in->nextString(); }), "short record reading string of 2 bytes");
    EXPECT_EQ(in->position(), 4u);
    EXPECT_EQ(in->remaining(), 5u);
    {
      Kiv::ConnectionInSizeAnchor inner(in, 2);
      Kiv::ConnectionInSizeAnchor wide(in, 100);
      Kiv::ConnectionInSizeAnchor huge(in, UINT_MAX);
      EXPECT_EQ(in->remaining(), 2u);
    }
    EXPECT_EQ(in->remaining(), 5u);
    Kiv::ConnectionInSizeAnchor empty(in, 0);
    EXPECT_THROW(in->nextbool(), Kiv::RangeException);
  }
  EXPECT_EQ(in->remaining(), 10u);
  {
    Kiv::ConnectionInSizeAnchor beyondData(in, 100);
    EXPECT_EQ(in->remaining(), 10u);
  }
  EXPECT_EQ(in->nextString(), "ab");
  EXPECT_EQ(in->nextU32(), 3u);
  EXPECT_EQ(rangeMessage([] { Kiv::ConnectionInSizeAnchor a(nullptr, 1); }), "null ValidPtr");
}

}  // namespace
