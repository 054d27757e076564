// Writes the capture that the kiv-log tests decode: what the source end of
// an in-process connection wrote while it replicated a Config with three tap
// devices and a Status whose fabric device name takes three chunks, then a
// deletion and a change. Beside it, two corrupted copies: one cut inside its
// last frame, one with a length word made huge; and both directions as
// text2pcap's input (after a change made on the mirror's side), in TCP
// segments that split frames, the source's last frame corrupted.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

void writeFile(std::string const& path, std::vector<std::uint8_t> const& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << "cannot write " << path;
}

// What one end handed to its stream, in order: from the mirror or not.
struct Sent {
  bool fromMirror;
  std::vector<std::uint8_t> bytes;
};

// The bytes of both directions as text2pcap reads them with -D: each
// segment an "O" (source to mirror) or "I" line and its hex dump. Each
// direction's bytes are cut into segments of 3, 57, 1000 and 1460 bytes in
// turn, so that frames and length words are split across segments.
void writeSegments(std::string const& path, std::vector<Sent> const& sent) {
  static constexpr std::size_t sizes[] = {3, 57, 1000, 1460};
  std::ofstream file(path, std::ios::trunc);
  std::size_t turn[2] = {0, 0};
  for (auto const& s : sent) {
    for (std::size_t at = 0; at < s.bytes.size();) {
      std::size_t const n = std::min(sizes[turn[s.fromMirror]++ % 4], s.bytes.size() - at);
      file << (s.fromMirror ? "I\n" : "O\n");
      char b[32];
      for (std::size_t i = 0; i < n; ++i) {
        if (i % 16 == 0) {
          std::snprintf(b, sizeof b, "%s%06zx", i ? "\n" : "", i);
          file << b;
        }
        std::snprintf(b, sizeof b, " %02x", s.bytes[at + i]);
        file << b;
      }
      file << "\n";
      at += n;
    }
  }
  ASSERT_TRUE(file.good()) << "cannot write " << path;
}

TEST(KivLogCapture, WritesTheSourceEndOfAReplication) {
  Kiv::eventLoop().reset();
  auto config = Bridging::Orva::configFactory("agentConfig");
  auto status = Bridging::Orva::statusFactory("agentStatus");
  auto dir = Kiv::Dir::DirIs("mirror");
  Link link = Link::make(dir);
  std::vector<std::uint8_t> captured;
  std::vector<Sent> sent;
  link.source->writer()->tapIs([&](std::uint8_t const* bytes, std::size_t n) {
    captured.insert(captured.end(), bytes, bytes + n);
    sent.push_back({false, {bytes, bytes + n}});
  });
  link.mirror->writer()->tapIs(
      [&](std::uint8_t const* bytes, std::size_t n) { sent.push_back({true, {bytes, bytes + n}}); });

  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  config->extTapDeviceIs("et2", TapDevice("tap2", 8));
  config->extTapDeviceIs("et3", TapDevice("tap3", 9));
  config->completeIs(true);
  std::string name(40000, ' ');
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i / 16384);
  status->fabricDeviceNameIs(name);
  status->initializedIs(true);
  link.source->mount(config);
  link.source->mount(status);
  drain();
  config->extTapDeviceDel("et2");
  config->completeIs(false);
  drain();
  EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config));
  EXPECT_EQ(describe(mirrorOf<Status>(dir, "agentStatus")), describe(status));
  // A change made on the mirror's side travels back.
  mirrorOf<Config>(dir, "agentConfig")->extTapDeviceIs("et4", TapDevice("tap4", 65535));
  drain();
  EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config));
  link.cut();
  drain();

  std::string const base = KIV_LOG_CAPTURE;
  writeFile(base + ".kivlog", captured);
  // Cut ten bytes before the end: inside the last frame.
  writeFile(base + "-truncated.kivlog", std::vector<std::uint8_t>(captured.begin(), captured.end() - 10));
  // The second frame's length word made huge.
  std::vector<std::uint8_t> huge = captured;
  std::size_t const second =
      4 + (std::size_t{huge[0]} << 24 | std::size_t{huge[1]} << 16 | std::size_t{huge[2]} << 8 | huge[3]);
  for (std::size_t i = 0; i < 4; ++i) huge[second + i] = 0xff;
  writeFile(base + "-huge-length.kivlog", huge);
  // The source's last frame ends in a wrong token.
  for (auto s = sent.rbegin(); s != sent.rend(); ++s) {
    if (!s->fromMirror) {
      s->bytes.back() = 0x07;
      break;
    }
  }
  writeSegments(base + "-segments.txt", sent);
}

}  // namespace
