#pragma once
// Helpers of the replication tests: two ends of an in-process connection,
// the loop run until the streams drain, and the agent entities described as
// text so that a mirror can be compared with its source in one line.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "agent/Config.h"
#include "agent/Status.h"
#include "attrlog/ConfigStreamAdapter.h"
#include "attrlog/StatusStreamAdapter.h"

namespace attrlog_test {

using Bridging::Orva::Config;
using Bridging::Orva::Status;
using TapDevice = Config::TapDevice;
using Kiv::NboAttrLog::Demuxer;

// One connection: the source's end and the mirror's end.
struct Link {
  Kiv::Ptr<Kiv::MemoryByteStream> sourceStream, mirrorStream;
  Kiv::Ptr<Demuxer> source, mirror;

  static Link make(Kiv::Ptr<Kiv::Dir> const& mirrorDir, std::size_t streamCapacity = 1u << 20) {
    Link l;
    auto pair = Kiv::MemoryByteStream::pairIs(streamCapacity);
    l.sourceStream = pair.first;
    l.mirrorStream = pair.second;
    l.source = Demuxer::DemuxerIs(l.sourceStream, Demuxer::first);
    l.mirror = Demuxer::DemuxerIs(l.mirrorStream, Demuxer::second);
    l.mirror->mirrorDirIs(mirrorDir);
    return l;
  }
  // Breaks the connection at the source's end.
  void cut() {
    source->close("cut by the test");
    mirror->close("cut by the test");
  }
};

// Runs the loop until nothing is queued; fails after `turns` turns.
inline void drain(std::size_t turns = 200000) {
  for (std::size_t i = 0; Kiv::eventLoop().pending() != 0; ++i) {
    ASSERT_LT(i, turns) << "the streams never drained";
    Kiv::eventLoop().runOnce();
  }
}

inline std::string describe(Kiv::Ptr<Config> const& c) {
  if (!c) return "no config";
  std::ostringstream os;
  os << "complete=" << c->complete() << " nondestructing=" << c->isNondestructing() << " {";
  for (auto it = c->extTapDeviceIteratorConst(); it; ++it) {
    os << it->key() << ":" << it->value().name() << "/" << it->value().fileno() << " ";
  }
  os << "}";
  return os.str();
}

inline std::string describe(Kiv::Ptr<Status> const& s) {
  if (!s) return "no status";
  std::ostringstream os;
  std::string const name = s->fabricDeviceName().stdString();
  os << "initialized=" << s->initialized() << " nondestructing=" << s->isNondestructing() << " name("
     << name.size() << ")=" << (name.size() > 40 ? name.substr(0, 40) + "..." : name);
  return os.str();
}

// Random changes of the agent model, of the kinds the replication tests
// make on either side.
struct RandomChanges {
  explicit RandomChanges(std::uint32_t seed) : rng(seed) {}

  std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); }
  bool chance(std::uint32_t percent) { return pick(100) < percent; }

  std::string name() {
    // Now and then longer than a chunk, so that it is still being written
    // when it changes again.
    std::size_t const n = chance(15) ? 16384 + pick(40000) : pick(20);
    std::string s(n, 'a');
    for (auto& c : s) c = static_cast<char>('a' + pick(26));
    return s;
  }

  static constexpr std::uint32_t kinds = 9;
  // Change `kind` (below `kinds`): a member added or replaced, deleted, all
  // of them deleted (now and then), a flag flipped, a name set.
  void change(Kiv::Ptr<Config> const& c, Kiv::Ptr<Status> const& s, std::uint32_t kind) {
    switch (kind) {
      case 0:
      case 1:
      case 2:
        c->extTapDeviceIs("et" + std::to_string(pick(40)),
                          TapDevice("tap" + std::to_string(pick(1000)), static_cast<std::uint16_t>(pick(9))));
        break;
      case 3:
      case 4: c->extTapDeviceDel("et" + std::to_string(pick(40))); break;
      case 5: c->completeIs(!c->complete()); break;
      case 6: s->initializedIs(!s->initialized()); break;
      case 7: s->fabricDeviceNameIs(name()); break;
      default:
        if (chance(20)) c->extTapDeviceDelAll();
        break;
    }
  }

  std::mt19937 rng;
};

template <class E>
Kiv::Ptr<E> mirrorOf(Kiv::Ptr<Kiv::Dir> const& dir, char const* name) {
  return Kiv::Ptr<E>(dynamic_cast<E*>(dir->entry(Kiv::Name(name)).ptr()));
}

// A source's configuration and status, a mirror directory and a
// connection between them, cut when the test ends.
class Replication : public ::testing::Test {
 protected:
  void SetUp() override { Kiv::eventLoop().reset(); }
  void TearDown() override {
    link.cut();
    drain();
  }
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("agentStatus");
  Kiv::Ptr<Kiv::Dir> dir = Kiv::Dir::DirIs("mirror");
  Link link = Link::make(dir);
};

}  // namespace attrlog_test
