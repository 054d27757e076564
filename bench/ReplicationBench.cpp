// Replication of the agent's Config over the attribute log:
//
// - tap device entry records (the key and the device, in the frame that the
//   Config adapter writes) encoded with the attribute-log writer and read
//   back with its reader the way the adapter reads them, beside the same
//   fields in a protobuf message with a length word before each;
// - a resync of a Config of many tap devices to a mirror process over a
//   socket pair, from the mount until the mirror holds every entry, beside
//   two ceilings: the same bytes sent raw through a socket pair, and the
//   same bytes read by a minimal mirror written by hand into a
//   std::unordered_map;
// - the same entries through Redis on loopback, the way Redis-based state
//   tables do it: pipelined HSETs and a PUBLISH of each key, read back by a
//   subscriber that fetches each published key with HGETALL (a private
//   redis-server started and stopped by the benchmark; left out when there
//   is none);
// - one change of a mirrored entry, from the mutator in one process to the
//   observer in the other, beside one message of the same size through the
//   socket pair: half of a round trip.
//
// The two-process figures are wall-clock times (manual time): the work is
// split between two processes.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "SmokeRun.h"
#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "agent/Config.h"
#include "attrlog/ConfigStreamAdapter.h"
#ifdef BTS_BENCH_PROTOBUF
#include "TapDeviceRecord.pb.h"
#endif
#ifdef BTS_BENCH_HIREDIS
#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <signal.h>
#endif

namespace bench {
namespace {

using Bridging::Orva::Config;
using TapDevice = Config::TapDevice;
using Kiv::NboAttrLog::Demuxer;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t entityId = 3;
constexpr std::uint32_t recordBatch = 1000;

std::string entryKey(std::uint32_t i) { return "et" + std::to_string(i); }
TapDevice entryDevice(std::uint32_t i, std::uint32_t round = 0) {
  return TapDevice("Ethernet" + std::to_string(i), static_cast<std::uint16_t>((i + round) & 0x7fff));
}

// Fewer entries in CI's smoke run (BTS_BENCH_SMOKE set), so that it stays
// quick; the figures' runs use the registered count.
std::uint32_t entriesFor(benchmark::State const& state) {
  auto const n = static_cast<std::uint32_t>(state.range(0));
  return smokeRun() ? n / 100 : n;
}

// --- Records

// One entry's frame, as the Config adapter writes it.
void writeEntry(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::String8 const& key, TapDevice const& device) {
  out->nextHeaderIs(Kiv::NboAttrLog::MsgHeader(entityId, Config::extTapDeviceAttrId, true, 0, 0, false));
  out << Kiv::Connection::Out::transactBegin << key << device << Kiv::Connection::Out::transactEnd;
}

struct Entries {
  std::vector<Kiv::String8> keys;
  std::vector<TapDevice> devices;
  explicit Entries(std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      keys.emplace_back(entryKey(i));
      devices.push_back(entryDevice(i));
    }
  }
};

std::vector<std::uint8_t> encodedEntries(Entries const& entries) {
  auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
  for (std::size_t i = 0; i < entries.keys.size(); ++i) writeEntry(out, entries.keys[i], entries.devices[i]);
  return out->bytes();
}

void BM_TapRecordEncode_Kiv(benchmark::State& state) {
  Entries const entries(recordBatch);
  auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
  AllocationCounter allocations(state);
  for (auto _ : state) {
    out->clear();
    for (std::uint32_t i = 0; i < recordBatch; ++i) writeEntry(out, entries.keys[i], entries.devices[i]);
    benchmark::DoNotOptimize(out->bytes().data());
  }
  allocations.stop();
  if (out->bytes() != encodedEntries(entries)) state.SkipWithError("wrong bytes");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recordBatch));
  state.counters["bytes_per_record"] = static_cast<double>(out->size()) / recordBatch;
}

// Reads every frame the way a connection delivers it to the Config
// adapter: the length and header, then the key and the device. Returns the
// entries whose values are the expected ones.
std::uint32_t decodeEntries(std::vector<std::uint8_t> const& bytes, Entries const& expected) {
  auto const in = Kiv::make<Kiv::NboAttrLog::In>(bytes.data(), bytes.size());
  std::uint32_t good = 0;
  for (std::uint32_t i = 0; i < recordBatch; ++i) {
    in->nextU32();
    std::uint64_t const entity = in->nextU64();
    std::uint32_t const attribute = in->nextU32();
    in->skip(1 + 1 + 4 + 1 + 1);  // kind, transaction type and argument, reassert, begin
    Kiv::String8 const key = in->nextString();
    TapDevice const device(in.ptr(), Kiv::StreamBogon());
    in->nextU8();  // end
    good += entity == entityId && attribute == Config::extTapDeviceAttrId && key == expected.keys[i] &&
            device == expected.devices[i];
  }
  return good;
}

void BM_TapRecordDecode_Kiv(benchmark::State& state) {
  Entries const entries(recordBatch);
  std::vector<std::uint8_t> const bytes = encodedEntries(entries);
  std::uint32_t good = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    good = decodeEntries(bytes, entries);
    benchmark::DoNotOptimize(good);
  }
  allocations.stop();
  if (good != recordBatch) state.SkipWithError("wrong values");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recordBatch));
}

BENCHMARK(BM_TapRecordEncode_Kiv);
BENCHMARK(BM_TapRecordDecode_Kiv);

#ifdef BTS_BENCH_PROTOBUF
// The same fields in a protobuf message, each message after a 32-bit
// length word so that a stream of them can be split again.
void BM_TapRecordEncode_Protobuf(benchmark::State& state) {
  Entries const entries(recordBatch);
  std::vector<std::string> keys, names;
  for (std::uint32_t i = 0; i < recordBatch; ++i) {
    keys.push_back(entries.keys[i].stdString());
    names.push_back(entries.devices[i].name().stdString());
  }
  TapDeviceRecord record;
  std::string out;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    out.clear();
    for (std::uint32_t i = 0; i < recordBatch; ++i) {
      record.set_entity_id(entityId);
      record.set_attribute_id(Config::extTapDeviceAttrId);
      record.set_key(keys[i]);
      record.set_name(names[i]);
      record.set_fileno(entries.devices[i].fileno());
      auto const length = static_cast<std::uint32_t>(record.ByteSizeLong());
      char const word[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                            static_cast<char>(length >> 8), static_cast<char>(length)};
      out.append(word, 4);
      record.AppendToString(&out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  allocations.stop();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recordBatch));
  state.counters["bytes_per_record"] = static_cast<double>(out.size()) / recordBatch;
}

void BM_TapRecordDecode_Protobuf(benchmark::State& state) {
  Entries const entries(recordBatch);
  std::string bytes;
  TapDeviceRecord record;
  for (std::uint32_t i = 0; i < recordBatch; ++i) {
    record.set_entity_id(entityId);
    record.set_attribute_id(Config::extTapDeviceAttrId);
    record.set_key(entries.keys[i].stdString());
    record.set_name(entries.devices[i].name().stdString());
    record.set_fileno(entries.devices[i].fileno());
    std::string const one = record.SerializeAsString();
    auto const length = static_cast<std::uint32_t>(one.size());
    bytes.push_back(static_cast<char>(length >> 24));
    bytes.push_back(static_cast<char>(length >> 16));
    bytes.push_back(static_cast<char>(length >> 8));
    bytes.push_back(static_cast<char>(length));
    bytes += one;
  }
  std::uint32_t good = 0;
  AllocationCounter allocations(state);
  for (auto _ : state) {
    good = 0;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < recordBatch; ++i) {
      auto const* p = reinterpret_cast<std::uint8_t const*>(bytes.data() + at);
      std::uint32_t const length = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
      TapDeviceRecord in;
      bool const parsed = in.ParseFromArray(bytes.data() + at + 4, static_cast<int>(length));
      at += 4 + length;
      // The same values out of the message as the runtime's reader makes.
      Kiv::String8 const key(in.key());
      TapDevice const device(in.name(), static_cast<std::uint16_t>(in.fileno()));
      good += parsed && in.entity_id() == entityId && in.attribute_id() == Config::extTapDeviceAttrId &&
              key == entries.keys[i] && device == entries.devices[i];
    }
    benchmark::DoNotOptimize(good);
  }
  allocations.stop();
  if (good != recordBatch) state.SkipWithError("wrong values");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recordBatch));
}

BENCHMARK(BM_TapRecordEncode_Protobuf);
BENCHMARK(BM_TapRecordDecode_Protobuf);
#endif

// --- Two processes

// Writes all `n` bytes to a blocking descriptor.
bool writeAll(int fd, void const* data, std::size_t n) {
  auto const* p = static_cast<char const*>(data);
  while (n > 0) {
    ssize_t const w = ::write(fd, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool readAll(int fd, void* data, std::size_t n) {
  auto* p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t const r = ::read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// A forked child with a data socket pair and a control socket pair. The
// child runs `body(control, data)`; it writes one byte on the control
// socket when it is ready and one when its work is done ('d', or 'x' when
// it failed).
class ChildProcess {
 public:
  explicit ChildProcess(std::function<void(int control, int data)> const& body) {
    int data[2], control[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, data) != 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, control) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(data[0]);
      ::close(control[0]);
      body(control[1], data[1]);
      std::_Exit(0);
    }
    ::close(data[1]);
    ::close(control[1]);
    data_ = data[0];
    control_ = control[0];
  }
  ~ChildProcess() { finish(); }
  // Closes this side's sockets and waits for the child to end; returns the
  // CPU seconds it used.
  double finish() {
    if (control_ >= 0) ::close(control_);
    if (data_ >= 0) ::close(data_);
    control_ = data_ = -1;
    rusage usage{};
    if (pid_ > 0 && ::wait4(pid_, nullptr, 0, &usage) == pid_) {
      pid_ = -1;
      return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    return 0;
  }
  ChildProcess(ChildProcess const&) = delete;
  ChildProcess& operator=(ChildProcess const&) = delete;

  bool started() const noexcept { return pid_ > 0; }
  int control() const noexcept { return control_; }
  // The data socket, handed over (to a stream that closes it).
  int dataTaken() {
    int const fd = data_;
    data_ = -1;
    return fd;
  }
  int data() const noexcept { return data_; }
  // The child's next report, read blocking: true for 'r' or 'd'.
  bool report() const {
    char c = 0;
    return readAll(control_, &c, 1) && (c == 'r' || c == 'd');
  }
  // The child's next report, waited for by running the event loop.
  bool reportInLoop() const {
    auto& loop = Kiv::eventLoop();
    char c = 0;
    loop.fdWatchIs(control_, POLLIN, [&](short) {
      if (::read(control_, &c, 1) != 1) c = 'x';
      loop.stop();
    });
    loop.runUntil(loop.now() + 120.0);
    loop.fdWatchDel(control_);
    return c == 'r' || c == 'd';
  }

 private:
  pid_t pid_ = -1;
  int data_ = -1;
  int control_ = -1;
};

void say(int control, bool ok) {
  char const c = ok ? 'd' : 'x';
  (void)!::write(control, &c, 1);
}

// The event loop on real time for one benchmark, as a fresh loop.
struct RealTimeLoop {
  RealTimeLoop() {
    Kiv::eventLoop().reset();
    Kiv::eventLoop().realTimeIs(true);
  }
  ~RealTimeLoop() {
    Kiv::eventLoop().realTimeIs(false);
    Kiv::eventLoop().reset();
  }
};

// Tells the mirror process when its Config mirror has arrived (`ready`) and
// when it holds `target` entries; answers "ping" entries with "pong" ones
// of the same descriptor.
struct MirrorWatch : Config::Notifiee {
  void onExtTapDevice(Kiv::String8 key) override {
    Kiv::Ptr<Config> const c = notifier();
    if (target && c->extTapDevices() >= target) {
      target = 0;
      complete = true;
      Kiv::eventLoop().stop();
    }
    if (answer && key == Kiv::String8("ping")) {
      std::uint16_t const fileno = c->extTapDevice(key).fileno();
      // After the received record is applied, as a new change of this side.
      Kiv::eventLoop().defer([c, fileno] { c->extTapDeviceIs("pong", TapDevice("pong", fileno)); });
    }
  }
  std::uint32_t target = 0;
  bool complete = false;
  bool answer = false;
};

// The mirror process: mirrors what arrives on `data`; reports 'r' when
// ready and 'd' when the mirror holds `entries` entries, then, when
// `answer`, answers pings until the connection ends.
void mirrorProcess(int control, int data, std::uint32_t entries, bool answer) {
  RealTimeLoop loop;
  auto const demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(data), Demuxer::second);
  demuxer->mirrorDirIs(Kiv::Dir::DirIs("mirror"));
  auto const watch = Kiv::make<MirrorWatch>();
  watch->target = entries;
  watch->answer = answer;
  demuxer->mirrorCallbackIs([&](Kiv::Ptr<Kiv::Entity> const& e) {
    if (auto* c = dynamic_cast<Config*>(e.ptr())) watch->notifierIs(Kiv::Ptr<Config>(c));
  });
  demuxer->closedCallbackIs([](Kiv::String8 const&) { Kiv::eventLoop().stop(); });
  char const ready = 'r';
  (void)!::write(control, &ready, 1);
  Kiv::eventLoop().runUntil(Kiv::eventLoop().now() + 120.0);
  say(control, watch->complete);
  if (answer && watch->complete) Kiv::eventLoop().runUntil(Kiv::eventLoop().now() + 600.0);
  watch->notifierIs(nullptr);
  demuxer->close("done");
}

Kiv::Ptr<Config> configOf(std::uint32_t entries) {
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("replicatedConfig");
  for (std::uint32_t i = 0; i < entries; ++i) config->extTapDeviceIs(entryKey(i), entryDevice(i));
  return config;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// The whole Config sent to a new mirror: from the mount until the mirror
// reports every entry.
void BM_Resync_Kiv(benchmark::State& state) {
  std::uint32_t const entries = entriesFor(state);
  RealTimeLoop loop;
  std::uint64_t bytes = 0;
  double mirrorCpu = 0;
  bool ok = true;
  for (auto _ : state) {
    ChildProcess child([&](int control, int data) { mirrorProcess(control, data, entries, false); });
    if (!child.started() || !child.report()) {
      ok = false;
      break;
    }
    // Made after the fork: the source then pays no copy-on-write faults
    // for a model that the mirror process never reads.
    Kiv::Ptr<Config> const config = configOf(entries);
    auto const start = Clock::now();
    auto const source = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(child.dataTaken()));
    source->mount(config);
    ok = child.reportInLoop() && ok;
    state.SetIterationTime(seconds(start));
    bytes = source->writer()->sent();
    source->close("measured");
    mirrorCpu += child.finish();
  }
  if (!ok) state.SkipWithError("the mirror did not complete");
  state.counters["mirror_cpu_ms"] = benchmark::Counter(mirrorCpu * 1e3, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * entries));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The bytes of the same entries' records, written raw through a socket
// pair to a child that runs `reader(control, data, bytes)`, from the first
// write until the child's report; then the child's second report, which is
// not timed, says whether what it read was right.
void resyncOverSocketPair(benchmark::State& state,
                          std::function<bool(int control, int data, std::size_t bytes)> const& reader) {
  std::uint32_t const entries = entriesFor(state);
  std::vector<std::uint8_t> bytes;
  {
    auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
    for (std::uint32_t i = 0; i < entries; ++i) writeEntry(out, entryKey(i), entryDevice(i));
    bytes = out->bytes();
  }
  bool ok = true;
  for (auto _ : state) {
    ChildProcess child([&](int control, int data) {
      char const ready = 'r';
      (void)!::write(control, &ready, 1);
      bool const right = reader(control, data, bytes.size());
      say(control, right);
    });
    if (!child.started() || !child.report()) {
      ok = false;
      break;
    }
    auto const start = Clock::now();
    ok = writeAll(child.data(), bytes.data(), bytes.size()) && child.report() && ok;
    state.SetIterationTime(seconds(start));
    ok = child.report() && ok;
  }
  if (!ok) state.SkipWithError("the reader did not get every entry right");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * entries));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The first ceiling: the bytes only, read and dropped.
void BM_Resync_SocketPair(benchmark::State& state) {
  resyncOverSocketPair(state, [](int control, int data, std::size_t bytes) {
    std::vector<char> buffer(1u << 16);
    std::size_t received = 0;
    while (received < bytes) {
      ssize_t const r = ::read(data, buffer.data(), buffer.size());
      if (r <= 0) break;
      received += static_cast<std::size_t>(r);
    }
    say(control, received == bytes);
    return received == bytes;
  });
}

// Big-endian integers of a frame, read by hand.
std::uint64_t bigEndian(std::uint8_t const* at, unsigned width) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = (v << 8) | at[i];
  return v;
}

// The second ceiling: a minimal mirror written by hand. It reads the same
// bytes, takes each entry's frame apart (the length, the header, the key,
// the device) and stores the entry in a std::unordered_map. It leaves out
// what the runtime's mirror does besides: the orphan record and the entity
// it makes, counted members, telling observers, the resync's markers and
// deletion of what the source lacks, checks of every length.
void BM_Resync_HandMirror(benchmark::State& state) {
  std::uint32_t const entries = entriesFor(state);
  resyncOverSocketPair(state, [entries](int control, int data, std::size_t) {
    std::unordered_map<std::string, TapDevice> mirror;
    std::vector<std::uint8_t> buffer(1u << 17);
    std::size_t held = 0;  // bytes in buffer not yet taken apart
    bool right = true;
    while (mirror.size() < entries) {
      if (held == buffer.size()) buffer.resize(2 * buffer.size());
      ssize_t const r = ::read(data, buffer.data() + held, buffer.size() - held);
      if (r <= 0) break;
      held += static_cast<std::size_t>(r);
      std::uint8_t const* at = buffer.data();
      std::uint8_t const* const end = at + held;
      while (end - at >= 4 && static_cast<std::size_t>(end - at) >= 4 + bigEndian(at, 4)) {
        std::uint8_t const* const next = at + 4 + bigEndian(at, 4);
        right = right && bigEndian(at + 4, 8) == entityId && bigEndian(at + 12, 4) == Config::extTapDeviceAttrId;
        at += 4 + 8 + 4 + 1 + 1 + 4 + 1 + 1;  // length, entity, attribute, kind, transaction, reassert, begin
        auto const keyLength = static_cast<std::size_t>(bigEndian(at, 4));
        std::string key(reinterpret_cast<char const*>(at + 4), keyLength);
        at += 4 + keyLength;
        auto const nameLength = static_cast<std::size_t>(bigEndian(at, 4));
        Kiv::String8 name(reinterpret_cast<char const*>(at + 4), nameLength);
        at += 4 + nameLength;
        mirror[std::move(key)] = TapDevice(std::move(name), static_cast<std::uint16_t>(bigEndian(at, 2)));
        at = next;
      }
      held = static_cast<std::size_t>(end - at);
      std::memmove(buffer.data(), at, held);
    }
    say(control, mirror.size() == entries);
    for (std::uint32_t i = 0; i < entries && right; ++i) {
      auto const it = mirror.find(entryKey(i));
      right = it != mirror.end() && it->second == entryDevice(i);
    }
    return right && mirror.size() == entries;
  });
}

// A thousand to a million entries; CI's smoke run takes a hundredth.
void resyncSizes(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 10000, 100000, 1000000}) b->Arg(n);
  b->ArgName("entries")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Resync_Kiv)->Apply(resyncSizes);
BENCHMARK(BM_Resync_SocketPair)->Apply(resyncSizes);
BENCHMARK(BM_Resync_HandMirror)->Apply(resyncSizes);

#ifdef BTS_BENCH_HIREDIS
// --- The Redis way

// redis-server on the PATH, or empty.
std::string redisServerPath() {
  char const* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t const end = std::min(dirs.find(':', at), dirs.size());
    std::string const candidate = dirs.substr(at, end - at) + "/redis-server";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return std::string();
}

// A private redis-server on a Unix-domain socket, without persistence and
// without the output-buffer limit for subscribers, which would disconnect
// the subscriber of a large resync once it falls behind; stopped when this
// goes.
class RedisServer {
 public:
  RedisServer() : socket_("/tmp/bts-bench-redis-" + std::to_string(::getpid()) + ".sock") {
    std::string const server = redisServerPath();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Its log would mix with the benchmark's report.
      int const null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(server.c_str(), server.c_str(), "--port", "0", "--unixsocket", socket_.c_str(), "--save", "",
              "--appendonly", "no", "--client-output-buffer-limit", "pubsub 0 0 0", "--loglevel", "warning",
              static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    // Ready when it accepts a connection.
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
      if (redisContext* c = connect()) {
        redisFree(c);
        ready_ = true;
        break;
      }
      ::usleep(10000);
    }
  }
  ~RedisServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(socket_.c_str());
  }
  RedisServer(RedisServer const&) = delete;
  RedisServer& operator=(RedisServer const&) = delete;
  bool ready() const noexcept { return ready_; }
  // A new connection, or null.
  redisContext* connect() const {
    redisContext* c = redisConnectUnix(socket_.c_str());
    if (c && c->err) {
      redisFree(c);
      return nullptr;
    }
    return c;
  }

 private:
  std::string socket_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

bool command(redisContext* c, char const* text) {
  auto* reply = static_cast<redisReply*>(redisCommand(c, text));
  bool const ok = reply && reply->type != REDIS_REPLY_ERROR;
  if (reply) freeReplyObject(reply);
  return ok;
}

// The subscriber: fetches every published key until it holds `entries`
// whole entries.
void redisSubscriber(RedisServer const& server, int control, std::uint32_t entries) {
  redisContext* sub = server.connect();
  redisContext* fetch = server.connect();
  std::uint32_t held = 0;
  if (sub && fetch && command(sub, "SUBSCRIBE tapDevices")) {
    char const ready = 'r';
    (void)!::write(control, &ready, 1);
    while (held < entries) {
      void* r = nullptr;
      if (redisGetReply(sub, &r) != REDIS_OK || !r) break;
      auto* message = static_cast<redisReply*>(r);
      if (message->type == REDIS_REPLY_ARRAY && message->elements == 3) {
        auto* fields = static_cast<redisReply*>(redisCommand(fetch, "HGETALL %b", message->element[2]->str,
                                                             static_cast<std::size_t>(message->element[2]->len)));
        held += fields && fields->type == REDIS_REPLY_ARRAY && fields->elements == 4;
        if (fields) freeReplyObject(fields);
      }
      freeReplyObject(message);
    }
  }
  say(control, held == entries);
  if (sub) redisFree(sub);
  if (fetch) redisFree(fetch);
}

void BM_Resync_Redis(benchmark::State& state) {
  std::uint32_t const entries = entriesFor(state);
  RedisServer const server;
  redisContext* const c = server.ready() ? server.connect() : nullptr;
  if (!c) {
    state.SkipWithError("redis-server did not start");
    return;
  }
  Entries const all(entries);
  bool ok = true;
  for (auto _ : state) {
    ok = command(c, "FLUSHALL") && ok;
    ChildProcess child([&](int control, int) { redisSubscriber(server, control, entries); });
    if (!child.started() || !child.report()) {
      ok = false;
      break;
    }
    auto const start = Clock::now();
    // Pipelined: a batch of HSETs and PUBLISHes, then their replies.
    constexpr std::uint32_t batch = 1000;
    for (std::uint32_t i = 0; i < entries && ok; i += batch) {
      std::uint32_t const end = std::min(entries, i + batch);
      for (std::uint32_t j = i; j < end; ++j) {
        std::string const key = all.keys[j].stdString();
        std::string const name = all.devices[j].name().stdString();
        redisAppendCommand(c, "HSET %s name %s fileno %u", key.c_str(), name.c_str(),
                           static_cast<unsigned>(all.devices[j].fileno()));
        redisAppendCommand(c, "PUBLISH tapDevices %s", key.c_str());
      }
      for (std::uint32_t j = i; j < end && ok; ++j) {
        for (int k = 0; k < 2 && ok; ++k) {
          void* r = nullptr;
          ok = redisGetReply(c, &r) == REDIS_OK && r;
          if (r) freeReplyObject(r);
        }
      }
    }
    ok = ok && child.report();
    state.SetIterationTime(seconds(start));
  }
  redisFree(c);
  if (!ok) state.SkipWithError("the subscriber did not get every entry");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * entries));
}

// Registered only where redis-server is installed.
bool const redisRegistered =
    !redisServerPath().empty() &&
    benchmark::RegisterBenchmark("BM_Resync_Redis", BM_Resync_Redis)->Apply(resyncSizes);
#endif

// Tells the source process of the mirror's answer.
struct PongWatch : Config::Notifiee {
  void onExtTapDevice(Kiv::String8 key) override {
    if (key == Kiv::String8("pong") && notifier()->extTapDevice(key).fileno() == expected) {
      heard = true;
      Kiv::eventLoop().stop();
    }
  }
  // None until the first change is made (the mirror answers the first
  // copy of the entry too).
  std::int32_t expected = -1;
  bool heard = false;
};

// One change of an entry on the source, heard by an observer of the
// mirror, which answers with a change of another entry that an observer of
// the source hears: the time of one change is half of that.
void BM_MirrorChange_Kiv(benchmark::State& state) {
  RealTimeLoop loop;
  Kiv::Ptr<Config> const config = configOf(1);
  config->extTapDeviceIs("ping", TapDevice("ping", 0));
  ChildProcess child([&](int control, int data) { mirrorProcess(control, data, 2, true); });
  if (!child.started() || !child.report()) {
    state.SkipWithError("no mirror process");
    return;
  }
  auto const source = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(child.dataTaken()));
  source->mount(config);
  auto const watch = Kiv::make<PongWatch>();
  watch->notifierIs(config);
  bool ok = child.reportInLoop();
  std::uint16_t round = 0;
  // This process's allocations: the change, its record and the answer's.
  AllocationCounter allocations(state);
  for (auto _ : state) {
    if (!ok) break;
    round = static_cast<std::uint16_t>((round + 1) & 0x7fff);
    watch->expected = round;
    watch->heard = false;
    auto const start = Clock::now();
    config->extTapDeviceIs("ping", TapDevice("ping", round));
    Kiv::eventLoop().runUntil(Kiv::eventLoop().now() + 10.0);
    state.SetIterationTime(seconds(start) / 2);
    ok = watch->heard;
  }
  allocations.stop();
  if (!ok) state.SkipWithError("the mirror's answer was not heard");
  watch->notifierIs(nullptr);
  source->close("measured");
}

// The peer: a message the size of one entry's record sent through the
// socket pair and echoed back; half of the round trip.
void BM_MirrorChange_SocketPair(benchmark::State& state) {
  std::vector<std::uint8_t> message;
  {
    auto const out = Kiv::make<Kiv::NboAttrLog::Out>();
    writeEntry(out, "ping", TapDevice("ping", 1));
    message = out->bytes();
  }
  std::size_t const size = message.size();
  ChildProcess child([size](int control, int data) {
    char const ready = 'r';
    (void)!::write(control, &ready, 1);
    std::vector<char> buffer(size);
    while (readAll(data, buffer.data(), size) && writeAll(data, buffer.data(), size)) {
    }
  });
  bool ok = child.started() && child.report();
  std::vector<std::uint8_t> echo(size);
  for (auto _ : state) {
    if (!ok) break;
    auto const start = Clock::now();
    ok = writeAll(child.data(), message.data(), size) && readAll(child.data(), echo.data(), size);
    state.SetIterationTime(seconds(start) / 2);
  }
  if (!ok || echo != message) state.SkipWithError("no echo");
}

BENCHMARK(BM_MirrorChange_Kiv)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MirrorChange_SocketPair)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
