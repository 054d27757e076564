// The agent's configuration entity and its tap device value:
//
// - Config mutators with four observers that read the new value, beside the
//   same attribute kept in a std::unordered_map (or a bool) with a vector
//   of std::function observers;
// - a tap device's text form, printed and parsed, beside snprintf and a
//   strncmp/strtol parser of the same fields;
// - a tap device record in the attribute log, encoded and decoded, beside
//   the same big-endian bytes written and read by hand.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "agent/Config.h"

namespace bench {
namespace {

using Bridging::Orva::Config;
using TapDevice = Config::TapDevice;

constexpr std::uint32_t observerCount = 4;
constexpr std::uint32_t deviceCount = 16;

std::string deviceKey(std::uint32_t i) { return "et" + std::to_string(i + 1); }
std::string deviceName(std::uint32_t i) { return "Ethernet" + std::to_string(i + 1); }
// Two descriptors per device, so that every write is a real change.
std::uint16_t descriptor(std::uint32_t i, std::uint64_t round) {
  return static_cast<std::uint16_t>(100 + 2 * i + (round & 1));
}

// --- Config mutators

struct ConfigObserver : Config::Notifiee {
  explicit ConfigObserver(std::uint64_t* heard) : heard(heard) {}
  void onExtTapDevice(Kiv::String8 key) override {
    seenFileno = notifier()->extTapDevice(key).fileno();
    ++*heard;
  }
  void onComplete() override {
    seenComplete = notifier()->complete();
    ++*heard;
  }
  std::uint64_t* heard;
  std::uint16_t seenFileno = 0;
  bool seenComplete = false;
};

// A configuration with the observers attached.
struct ObservedConfig {
  ObservedConfig() {
    for (std::uint32_t i = 0; i < observerCount; ++i) {
      observers.push_back(Kiv::make<ConfigObserver>(&heard));
      observers.back()->notifierIs(config);
    }
  }
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  std::vector<Kiv::Ptr<ConfigObserver>> observers;
  std::uint64_t heard = 0;
};

// The peer: the same two attributes, stored and told by hand.
struct PlainConfig {
  struct Device {
    std::string name;
    std::uint16_t fileno = 0;
    bool operator==(Device const& o) const { return name == o.name && fileno == o.fileno; }
  };

  PlainConfig() {
    for (std::uint32_t i = 0; i < observerCount; ++i) {
      onExtTapDevice.push_back([this](std::string const& key) {
        seenFileno = devices.find(key)->second.fileno;
        ++heard;
      });
      onComplete.push_back([this] {
        seenComplete = complete;
        ++heard;
      });
    }
  }
  void extTapDeviceIs(std::string const& key, Device const& value) {
    Device& d = devices[key];
    if (d == value) return;
    d = value;
    for (auto const& f : onExtTapDevice) f(key);
  }
  void completeIs(bool v) {
    if (complete == v) return;
    complete = v;
    for (auto const& f : onComplete) f();
  }

  std::unordered_map<std::string, Device> devices;
  bool complete = false;
  std::vector<std::function<void(std::string const&)>> onExtTapDevice;
  std::vector<std::function<void()>> onComplete;
  std::uint64_t heard = 0;
  std::uint16_t seenFileno = 0;
  bool seenComplete = false;
};

void expectHeard(benchmark::State& state, std::uint64_t heard) {
  if (heard != static_cast<std::uint64_t>(state.iterations()) * observerCount)
    state.SkipWithError("an observer missed a change");
}

// Each iteration changes the descriptor of one of 16 devices.
void BM_ConfigExtTapDeviceIs_Kiv(benchmark::State& state) {
  ObservedConfig c;
  std::vector<Kiv::String8> keys;
  std::vector<TapDevice> values[2];
  for (std::uint32_t i = 0; i < deviceCount; ++i) {
    keys.emplace_back(deviceKey(i));
    for (std::uint64_t round : {0, 1}) values[round].emplace_back(Kiv::String8(deviceName(i)), descriptor(i, round));
    c.config->extTapDeviceIs(keys[i], values[1][i]);
  }
  c.heard = 0;
  std::uint64_t n = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::uint32_t const i = n % deviceCount;
    c.config->extTapDeviceIs(keys[i], values[(n++ / deviceCount) & 1][i]);
  }
  allocations.stop();
  expectHeard(state, c.heard);
}

void BM_ConfigExtTapDeviceIs_StdMapAndFunctions(benchmark::State& state) {
  PlainConfig c;
  std::vector<std::string> keys;
  std::vector<PlainConfig::Device> values[2];
  for (std::uint32_t i = 0; i < deviceCount; ++i) {
    keys.push_back(deviceKey(i));
    for (std::uint64_t round : {0, 1}) values[round].push_back({deviceName(i), descriptor(i, round)});
    c.extTapDeviceIs(keys[i], values[1][i]);
  }
  c.heard = 0;
  std::uint64_t n = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    std::uint32_t const i = n % deviceCount;
    c.extTapDeviceIs(keys[i], values[(n++ / deviceCount) & 1][i]);
  }
  allocations.stop();
  expectHeard(state, c.heard);
}

void BM_ConfigCompleteIs_Kiv(benchmark::State& state) {
  ObservedConfig c;
  bool complete = false;
  AllocationCounter allocations(state);
  for (auto _ : state) c.config->completeIs(complete = !complete);
  allocations.stop();
  expectHeard(state, c.heard);
}

void BM_ConfigCompleteIs_StdFunctions(benchmark::State& state) {
  PlainConfig c;
  bool complete = false;
  AllocationCounter allocations(state);
  for (auto _ : state) c.completeIs(complete = !complete);
  allocations.stop();
  expectHeard(state, c.heard);
}

BENCHMARK(BM_ConfigExtTapDeviceIs_Kiv);
BENCHMARK(BM_ConfigExtTapDeviceIs_StdMapAndFunctions);
BENCHMARK(BM_ConfigCompleteIs_Kiv);
BENCHMARK(BM_ConfigCompleteIs_StdFunctions);

// --- Text form

char const* const deviceText = "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'Ethernet17', 'fileno': 7})";

TapDevice expectedDevice() { return TapDevice(Kiv::String8("Ethernet17"), 7); }

// The peers' tap device.
struct PlainDevice {
  std::string name;
  std::uint16_t fileno = 0;
  bool ok = false;  // whether it was read in full
  bool expected() const { return ok && name == "Ethernet17" && fileno == 7; }
};

void BM_TapDevicePrint_Kiv(benchmark::State& state) {
  TapDevice const device = expectedDevice();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    Kiv::String8 const text = Bridging::Orva::valueToStrep(device);
    benchmark::DoNotOptimize(text);
  }
  allocations.stop();
  if (Bridging::Orva::valueToStrep(device) != Kiv::String8(deviceText)) state.SkipWithError("wrong text");
}

// The same fields into a stack buffer; the name is not escaped.
int printFixedLayout(char* text, std::size_t size, std::string const& name, unsigned fileno) {
  return std::snprintf(text, size, "Value('Bridging::Orva::Config::TapDevice', ** {'name': '%s', 'fileno': %u})",
                       name.c_str(), fileno);
}

void BM_TapDevicePrint_Snprintf(benchmark::State& state) {
  std::string const name = "Ethernet17";
  char text[128];
  AllocationCounter allocations(state);
  for (auto _ : state) {
    int const n = printFixedLayout(text, sizeof text, name, 7);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  allocations.stop();
  printFixedLayout(text, sizeof text, name, 7);
  if (std::strcmp(text, deviceText) != 0) state.SkipWithError("wrong text");
}

void BM_TapDeviceParse_Kiv(benchmark::State& state) {
  Kiv::String8 const text(deviceText);
  AllocationCounter allocations(state);
  for (auto _ : state) {
    TapDevice const device = Kiv::strepToValue<TapDevice>(text);
    benchmark::DoNotOptimize(device);
  }
  allocations.stop();
  if (Kiv::strepToValue<TapDevice>(text) != expectedDevice()) state.SkipWithError("wrong value");
}

// The fixed layout only: no white space, no other order, no escapes.
PlainDevice parseFixedLayout(char const* text) {
  static char const head[] = "Value('Bridging::Orva::Config::TapDevice', ** {'name': '";
  static char const middle[] = "', 'fileno': ";
  PlainDevice d;
  if (std::strncmp(text, head, sizeof head - 1) != 0) return d;
  char const* const first = text + sizeof head - 1;
  char const* const quote = std::strchr(first, '\'');
  if (!quote || std::strncmp(quote, middle, sizeof middle - 1) != 0) return d;
  char* rest = nullptr;
  errno = 0;
  long const v = std::strtol(quote + sizeof middle - 1, &rest, 10);
  if (errno != 0 || std::strcmp(rest, "})") != 0) return d;
  d.name.assign(first, quote);
  d.fileno = static_cast<std::uint16_t>(v);
  d.ok = true;
  return d;
}

void BM_TapDeviceParse_Strtol(benchmark::State& state) {
  AllocationCounter allocations(state);
  for (auto _ : state) {
    PlainDevice const device = parseFixedLayout(deviceText);
    benchmark::DoNotOptimize(device);
  }
  allocations.stop();
  if (!parseFixedLayout(deviceText).expected()) state.SkipWithError("wrong value");
}

BENCHMARK(BM_TapDevicePrint_Kiv);
BENCHMARK(BM_TapDevicePrint_Snprintf);
BENCHMARK(BM_TapDeviceParse_Kiv);
BENCHMARK(BM_TapDeviceParse_Strtol);

// --- Attribute log

// One record's values: the entity id, the attribute id and the tap device.
constexpr std::uint64_t entityId = 0x0000000100000003u;
constexpr std::uint32_t attributeId = Config::extTapDeviceAttrId;

void BM_TapDeviceEncode_Kiv(benchmark::State& state) {
  auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
  TapDevice const device = expectedDevice();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    out->clear();
    out << entityId << attributeId << device;
    benchmark::DoNotOptimize(out->bytes().data());
  }
  allocations.stop();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out->size()));
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t v, unsigned width) {
  for (unsigned i = width; i-- > 0;) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void BM_TapDeviceEncode_ByHand(benchmark::State& state) {
  std::vector<std::uint8_t> out;
  std::string const name = "Ethernet17";
  std::uint16_t const fileno = 7;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    out.clear();
    appendBigEndian(out, entityId, 8);
    appendBigEndian(out, attributeId, 4);
    appendBigEndian(out, name.size(), 4);
    out.insert(out.end(), name.begin(), name.end());
    appendBigEndian(out, fileno, 2);
    benchmark::DoNotOptimize(out.data());
  }
  allocations.stop();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

// The bytes of one record, written by the runtime's writer.
std::vector<std::uint8_t> encodedRecord() {
  auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
  out << entityId << attributeId << expectedDevice();
  return out->bytes();
}

// The record read back through a reader over its bytes, as a connection
// reads each frame it receives.
TapDevice decodeKiv(std::vector<std::uint8_t> const& bytes) {
  auto const in = Kiv::make<Kiv::NboAttrLog::In>(bytes.data(), bytes.size());
  if (in->nextU64() != entityId || in->nextU32() != attributeId) return TapDevice();
  return TapDevice(in.ptr(), Kiv::StreamBogon());
}

void BM_TapDeviceDecode_Kiv(benchmark::State& state) {
  std::vector<std::uint8_t> const bytes = encodedRecord();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    TapDevice const device = decodeKiv(bytes);
    benchmark::DoNotOptimize(device);
  }
  allocations.stop();
  if (decodeKiv(bytes) != expectedDevice()) state.SkipWithError("wrong value");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Reads big-endian values with the same checks as the runtime's reader: a
// short record fails rather than read past the end.
struct ByteReader {
  std::uint8_t const* at;
  std::uint8_t const* end;
  bool ok = true;

  std::uint64_t next(unsigned width) {
    if (static_cast<std::size_t>(end - at) < width) {
      ok = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) v = (v << 8) | *at++;
    return v;
  }
  std::string nextString() {
    std::uint64_t const n = next(4);
    if (static_cast<std::uint64_t>(end - at) < n) {
      ok = false;
      return std::string();
    }
    std::string s(reinterpret_cast<char const*>(at), static_cast<std::size_t>(n));
    at += n;
    return s;
  }
};

PlainDevice decodeByHand(std::vector<std::uint8_t> const& bytes) {
  ByteReader in{bytes.data(), bytes.data() + bytes.size()};
  PlainDevice d;
  if (in.next(8) != entityId || in.next(4) != attributeId) return d;
  d.name = in.nextString();
  d.fileno = static_cast<std::uint16_t>(in.next(2));
  d.ok = in.ok;
  return d;
}

void BM_TapDeviceDecode_ByHand(benchmark::State& state) {
  std::vector<std::uint8_t> const bytes = encodedRecord();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    PlainDevice const device = decodeByHand(bytes);
    benchmark::DoNotOptimize(device);
  }
  allocations.stop();
  if (!decodeByHand(bytes).expected()) state.SkipWithError("wrong value");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_TapDeviceEncode_Kiv);
BENCHMARK(BM_TapDeviceEncode_ByHand);
BENCHMARK(BM_TapDeviceDecode_Kiv);
BENCHMARK(BM_TapDeviceDecode_ByHand);

}  // namespace
}  // namespace bench
