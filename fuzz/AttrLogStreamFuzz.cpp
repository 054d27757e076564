// Feeds arbitrary bytes to the reader of an attribute-log connection whose
// mirror directory holds a Config and a Status mounted by the peer: the
// input follows the records that replicated them. The input is handed over
// one frame at a time (as its length words split it), each followed by a
// receive(). Whatever the bytes hold, nothing may crash or read past what
// was received (the sanitizers watch), and a frame that the demultiplexer
// rejects must leave the mirrors and their directory as they were.
//
// The seeds (corpus/AttrLogStreamFuzz) address the mirrors by the entity
// ids the peer gives them: 9 for the Config, 13 for the Status.
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "agent/Config.h"
#include "agent/Status.h"

namespace {

using Bridging::Orva::Config;
using Bridging::Orva::Status;
using Kiv::NboAttrLog::Demuxer;

constexpr Kiv::EntityId configId = 9;
constexpr Kiv::EntityId statusId = 13;

void runLoop() {
  for (int turns = 0; Kiv::eventLoop().pending() != 0 && turns < 10000; ++turns) Kiv::eventLoop().runOnce();
}

// What the peer wrote when it mounted a Config with two tap devices and a
// Status: the orphan records and the whole of both entities.
std::vector<std::uint8_t> const& replication() {
  static std::vector<std::uint8_t> const bytes = [] {
    Kiv::eventLoop().reset();
    auto config = Bridging::Orva::configFactory("agentConfig");
    auto status = Bridging::Orva::statusFactory("agentStatus");
    config->extTapDeviceIs("et1", Config::TapDevice("tap1", 7));
    config->extTapDeviceIs("et2", Config::TapDevice("tap2", 8));
    config->completeIs(true);
    status->initializedIs(true);
    status->fabricDeviceNameIs("fabric0");
    auto peer = Demuxer::DemuxerIs(Kiv::make<Kiv::NboAttrLog::In>(), Kiv::make<Kiv::NboAttrLog::Out>());
    if (peer->mount(config)->entityId() != configId || peer->mount(status)->entityId() != statusId) {
      __builtin_trap();  // the seeds address other ids
    }
    runLoop();
    std::vector<std::uint8_t> written = peer->writer()->bytes();
    peer->close("replication written");
    runLoop();
    Kiv::eventLoop().reset();
    return written;
  }();
  return bytes;
}

// What a rejected frame must not change.
struct State {
  std::uint32_t entries = 0;
  bool configNondestructing = false, complete = false;
  std::vector<std::tuple<std::string, std::string, std::uint16_t>> tapDevices;
  bool statusNondestructing = false, initialized = false;
  std::string fabricDeviceName;

  State(Kiv::Dir const& dir, Config const& config, Status const& status)
      : entries(dir.entries()),
        configNondestructing(config.isNondestructing()),
        complete(config.complete()),
        statusNondestructing(status.isNondestructing()),
        initialized(status.initialized()),
        fabricDeviceName(status.fabricDeviceName().stdString()) {
    for (auto it = config.extTapDeviceIteratorConst(); it; ++it) {
      tapDevices.emplace_back(it->key().stdString(), it->value().name().stdString(), it->value().fileno());
    }
  }
  bool operator==(State const& o) const {
    return std::tie(entries, configNondestructing, complete, tapDevices, statusNondestructing, initialized,
                    fabricDeviceName) == std::tie(o.entries, o.configNondestructing, o.complete, o.tapDevices,
                                                  o.statusNondestructing, o.initialized, o.fabricDeviceName);
  }
  bool operator!=(State const& o) const { return !(*this == o); }
};

template <class E>
Kiv::Ptr<E> mirror(Kiv::Ptr<Kiv::Dir> const& dir, char const* name) {
  return Kiv::Ptr<E>(dynamic_cast<E*>(dir->entry(Kiv::Name(name)).ptr()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::vector<std::uint8_t> const& prelude = replication();
  auto dir = Kiv::Dir::DirIs("mirror");
  auto reader = Kiv::make<Kiv::NboAttrLog::In>();
  auto demuxer = Demuxer::DemuxerIs(reader, Kiv::make<Kiv::NboAttrLog::Out>(), Demuxer::second);
  demuxer->mirrorDirIs(dir);
  reader->bytesIs(prelude.data(), prelude.size());
  demuxer->receive();
  auto config = mirror<Config>(dir, "agentConfig");
  auto status = mirror<Status>(dir, "agentStatus");
  if (!config || !status || !demuxer->reactor(configId) || !demuxer->reactor(statusId)) __builtin_trap();

  for (std::size_t at = 0; at < size && demuxer->open();) {
    // One frame, or what is left when the length word asks for more.
    std::size_t n = size - at;
    if (n >= 4) {
      std::uint32_t const length = std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 |
                                   std::uint32_t{data[at + 2]} << 8 | data[at + 3];
      if (length <= n - 4) n = 4 + std::size_t{length};
    }
    State const before(*dir, *config, *status);
    reader->bytesIs(data + at, n);
    try {
      demuxer->receive();
    } catch (Kiv::Exception const&) {
      if (demuxer->open()) __builtin_trap();  // a rejected frame closes the connection
      if (State(*dir, *config, *status) != before) __builtin_trap();
      break;
    }
    at += n;
    runLoop();
  }

  demuxer->close("end of input");
  // Nondestructing entities would outlive the input.
  for (auto it = dir->entryIteratorConst(); it; ++it) {
    if (Kiv::Ptr<Kiv::Entity> e = it->entity()) e->isNondestructingIs(false);
  }
  runLoop();
  Kiv::eventLoop().reset();
  return 0;
}
