// The attribute-log decoder on frames written by the runtime's writer: one
// line per record kind, and every malformed frame it must stop at, with the
// frame's offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Kiv/NboAttrLog.h"
#include "agent/Config.h"
#include "agent/Status.h"
#include "tools/kiv-log/RecordDecoder.h"

namespace {

using Bridging::Orva::Config;
using Bridging::Orva::Status;
using Bytes = std::vector<std::uint8_t>;
using Header = Kiv::NboAttrLog::MsgHeader;
using Writer = Kiv::Ptr<Kiv::NboAttrLog::Out>;

// One frame: the header, the begin token, what `payload` writes, the end
// token.
Bytes frame(Header const& h, std::function<void(Writer const&)> const& payload = {}) {
  Writer out = Kiv::make<Kiv::NboAttrLog::Out>();
  out->nextHeaderIs(h);
  out << Kiv::Connection::Out::transactBegin;
  if (payload) payload(out);
  out << Kiv::Connection::Out::transactEnd;
  return out->bytes();
}

Header record(Kiv::EntityId e, Kiv::AttributeId a, bool reassert = false) { return Header(e, a, true, 0, 0, reassert); }
Header marker(Kiv::EntityId e, Kiv::AttributeId a, std::uint8_t type, std::uint32_t arg) {
  return Header(e, a, false, type, arg, false);
}

Bytes orphan(Kiv::String8 const& type, char const* name, Kiv::EntityId id) {
  return frame(record(1, 136), [&](Writer const& w) {
    w->currentPayloadSectionIs(1);
    w << type;
    w->currentPayloadSectionIs(3);
    w << name;
    w->currentPayloadSectionIs(4);
    w << id;
  });
}

// A Config under entity id 9 and a Status under 13.
Bytes const orphans = [] {
  Bytes b = orphan(Config::_fwkType()->qualifiedName(), "agentConfig", 9);
  Bytes const s = orphan(Status::_fwkType()->qualifiedName(), "agentStatus", 13);
  b.insert(b.end(), s.begin(), s.end());
  return b;
}();

Bytes operator+(Bytes a, Bytes const& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// `b` with the byte at `at` (counted from the frame's length word) set.
Bytes patched(Bytes b, std::size_t at, std::uint8_t v) {
  b.at(at) = v;
  return b;
}

std::string offsetColumn(std::size_t at) {
  std::string s = std::to_string(at);
  return std::string(s.size() < 8 ? 8 - s.size() : 0, ' ') + s + "  ";
}

struct Decoded {
  std::string listing;
  bool clean;
};

// The header's example, on `bytes`.
Decoded decode(Bytes const& bytes) {
  std::ostringstream listing;
  KivLog::RecordDecoder decoder(listing);
  bool clean = decoder.bytesIs(bytes.data(), bytes.size());  // in pieces of any size
  clean = clean && decoder.end();                            // false: failure() and failureOffset() say why
  return {listing.str(), clean};
}

// `bytes` handed over `step` bytes at a time.
Decoded decodeSplit(Bytes const& bytes, std::size_t step) {
  std::ostringstream listing;
  KivLog::RecordDecoder decoder(listing);
  bool clean = true;
  for (std::size_t at = 0; at < bytes.size() && clean; at += step) {
    clean = decoder.bytesIs(bytes.data() + at, std::min(step, bytes.size() - at));
  }
  return {listing.str(), clean && decoder.end()};
}

Bytes const tapDevice = frame(record(9, 258), [](Writer const& w) { w << "et1" << Config::TapDevice("tap1", 7); });

TEST(RecordDecoder, ShowsEachKindOfRecord) {
  struct Case {
    char const* what;
    Bytes frame;
    std::string line;
  } const cases[] = {
      {"collection member", tapDevice, "entity 9  record 258 extTapDevice  key 'et1'  name 'tap1'  fileno 7"},
      {"deletion", frame(record(9, static_cast<Kiv::AttributeId>(-258)), [](Writer const& w) { w << "et1"; }),
       "entity 9  record -258 extTapDevice deletion  key 'et1'"},
      {"bool, reasserted", frame(record(9, 259, true), [](Writer const& w) { w << true; }),
       "entity 9  record 259 complete reassert  true"},
      {"base attribute", frame(record(13, 6), [](Writer const& w) { w << false; }),
       "entity 13  record 6 isNondestructing  false"},
      {"abort marker", frame(marker(9, 258, 1, 4)), "entity 9  marker abort 258 extTapDevice  ack 4"},
      {"sync mode", frame(record(9, 135), [](Writer const& w) { w << std::uint32_t{1}; }),
       "entity 9  record 135 syncMode  1 synced"},
      {"last chunk",
       frame(record(13, 259),
             [](Writer const& w) {
               Kiv::String8 const name("abcde");
               Kiv::String8::IteratorConst it = name.iterator();
               it += 2;
               w << it;
             }),
       "entity 13  record 259 fabricDeviceName  chunk total 5 offset 2 length 3  'cde'  (last)"},
      {"unknown attribute", frame(record(9, 300), [](Writer const& w) { w << std::uint32_t{5}; }),
       "entity 9  record 300  hex 00 00 00 05"},
      {"unknown entity", frame(record(21, 258), [](Writer const& w) { w << true; }), "entity 21  record 258  hex 01"},
      {"bytes left unread", frame(record(9, 259), [](Writer const& w) { w << true << std::uint32_t{7}; }),
       "entity 9  record 259 complete  true  unread 00 00 00 07"},
      {"long key",
       frame(record(9, static_cast<Kiv::AttributeId>(-258)),
             [](Writer const& w) { w << std::string(50, 'k').c_str(); }),
       "entity 9  record -258 extTapDevice deletion  key '" + std::string(40, 'k') + "'... (50 bytes)"},
      {"orphan of a type not known here", orphan("No::Such", "x", 17),
       "entity 1  record 136 orphan  type 'No::Such'  name 'x'  id 17  (type not known here)"},
  };
  for (auto const& c : cases) {
    Decoded const d = decode(orphans + c.frame);
    EXPECT_TRUE(d.clean) << c.what;
    std::string const last = d.listing.substr(d.listing.find("\n", d.listing.find("\n") + 1) + 1);
    EXPECT_EQ(last, offsetColumn(orphans.size()) + c.line + "\n") << c.what;
  }
}

// Offsets in a frame: its kind, reassert flag and begin token.
constexpr std::size_t kindAt = 16, reassertAt = 22, beginAt = 23;

TEST(RecordDecoder, StopsAtAMalformedFrameWithItsOffset) {
  Bytes const complete = frame(record(9, 259), [](Writer const& w) { w << true; });
  Bytes const chunk = frame(record(13, 259), [](Writer const& w) {
    w << std::uint32_t{200} << std::uint32_t{0} << std::uint32_t{100} << std::uint8_t{0};
  });
  Bytes const shortTapDevice = frame(record(9, 258), [](Writer const& w) {
    w << "et1"
      << "tap1";
  });
  struct Case {
    char const* what;
    Bytes bytes;
    std::string failure;
  } const cases[] = {
      {"length below a header", Bytes{0, 0, 0, 20} + Bytes(20, 0), "bad frame length 20"},
      {"length above the largest frame", Bytes{1, 0, 0, 1, 0, 0}, "bad frame length 16777217"},
      {"kind", patched(complete, kindAt, 2), "bad record kind 2"},
      {"reassert flag", patched(complete, reassertAt, 2), "bad reassert flag 2"},
      {"begin token", patched(complete, beginAt, 3), "missing begin token"},
      {"end token", patched(complete, complete.size() - 1, 1), "missing end token"},
      {"transaction type", frame(marker(9, 258, 3, 0)), "bad transaction type 3"},
      {"bool byte", patched(complete, beginAt + 1, 2), "entity 9  record 259 complete: bad bool byte 2"},
      {"tap device without its fileno", shortTapDevice, "entity 9  record 258 extTapDevice: short record reading u16"},
      {"chunk longer than its frame", chunk,
       "entity 13  record 259 fabricDeviceName: short record reading string chunk of 100 bytes"},
      {"sync mode", frame(record(9, 135), [](Writer const& w) { w << std::uint32_t{7}; }),
       "entity 9  record 135 syncMode: no sync mode 7"},
      {"marker of the orphan entity", frame(marker(1, 136, 0, 0)), "record for reserved entity id 1, attribute 136"},
      {"orphan section", patched(orphan("T", "x", 17), beginAt + 1, 2),
       "entity 1  record 136 orphan: orphan record: payload section 2 where 1 belongs"},
      {"orphan of an even id", orphan("T", "x", 18),
       "entity 1  record 136 orphan: orphan record: entity id 18 is not an odd id above 1"},
      {"stream ending inside a frame", Bytes(complete.begin(), complete.end() - 1),
       "truncated frame: the stream ended 25 bytes into it"},
      {"stream ending inside a length word", Bytes{0, 0}, "truncated frame: the stream ended 2 bytes into it"},
      {"stream ending one byte into a frame", Bytes{0}, "truncated frame: the stream ended 1 byte into it"},
  };
  for (auto const& c : cases) {
    std::ostringstream out;
    KivLog::RecordDecoder decoder(out);
    ASSERT_TRUE(decoder.bytesIs(orphans.data(), orphans.size()));
    if (decoder.bytesIs(c.bytes.data(), c.bytes.size())) {
      EXPECT_FALSE(decoder.end()) << c.what;
    } else {
      // What follows a malformed frame is not decoded.
      EXPECT_FALSE(decoder.bytesIs(tapDevice.data(), tapDevice.size())) << c.what;
    }
    EXPECT_EQ(decoder.failure(), c.failure) << c.what;
    EXPECT_EQ(decoder.failureOffset(), orphans.size()) << c.what;
    EXPECT_EQ(decoder.records(), 2u) << c.what;
    std::string const listing = out.str();
    EXPECT_EQ(listing.substr(listing.rfind('\n', listing.size() - 2) + 1),
              offsetColumn(orphans.size()) + "malformed frame: " + c.failure + "\n")
        << c.what;
  }
}

TEST(RecordDecoder, ListingDoesNotDependOnHowTheStreamIsSplit) {
  Bytes stream = orphans;
  for (int i = 0; i < 3; ++i) stream = stream + tapDevice + frame(marker(9, 258, 2, 0));
  Decoded const whole = decode(stream);
  EXPECT_TRUE(whole.clean);
  for (std::size_t step : {1, 3, 25}) {
    Decoded const split = decodeSplit(stream, step);
    EXPECT_TRUE(split.clean) << step;
    EXPECT_EQ(split.listing, whole.listing) << step;
  }
}

}  // namespace
