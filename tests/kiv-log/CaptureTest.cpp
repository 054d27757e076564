// Writes the capture that the kiv-log tests decode: what the source end of
// an in-process connection wrote while it replicated a Config with three tap
// devices and a Status whose fabric device name takes three chunks, then a
// deletion and a change. Beside it, two corrupted copies: one cut inside its
// last frame, one with a length word made huge.
#include <gtest/gtest.h>

#include <cstdint>
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

TEST(KivLogCapture, WritesTheSourceEndOfAReplication) {
  Kiv::eventLoop().reset();
  auto config = Bridging::Orva::configFactory("agentConfig");
  auto status = Bridging::Orva::statusFactory("agentStatus");
  auto dir = Kiv::Dir::DirIs("mirror");
  Link link = Link::make(dir);
  std::vector<std::uint8_t> captured;
  link.source->writer()->tapIs(
      [&](std::uint8_t const* bytes, std::size_t n) { captured.insert(captured.end(), bytes, bytes + n); });

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
}

}  // namespace
