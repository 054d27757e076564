// Replication between real processes that change both sides at random while
// a third party (the test) kills the mirror process with SIGKILL and starts
// it again, or breaks the connection, every few hundred milliseconds. Once
// both are told to stop changing, both print a digest of the whole model,
// and the digests are equal. Over a Unix-domain socket and over TCP on
// loopback. ATTRLOG_TORTURE_SECONDS sets how long the changes go on (1.5 s by
// default).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "tests/attrlog/ProcessControl.h"

namespace {

using namespace attrlog_test;

// Where the source listens: a Unix-domain path or a TCP port on loopback.
struct Endpoint {
  bool tcp = false;
  sockaddr_storage addr{};
  socklen_t length = 0;

  int socket() const { return ::socket(tcp ? AF_INET : AF_UNIX, SOCK_STREAM, 0); }
  sockaddr const* address() const { return reinterpret_cast<sockaddr const*>(&addr); }

  static Endpoint unixPath(std::string const& path) {
    Endpoint e;
    auto* un = reinterpret_cast<sockaddr_un*>(&e.addr);
    un->sun_family = AF_UNIX;
    std::snprintf(un->sun_path, sizeof un->sun_path, "%s", path.c_str());
    e.length = sizeof(sockaddr_un);
    return e;
  }
  static Endpoint loopback() {
    Endpoint e;
    e.tcp = true;
    auto* in = reinterpret_cast<sockaddr_in*>(&e.addr);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in->sin_port = 0;  // chosen by bind
    e.length = sizeof(sockaddr_in);
    return e;
  }
};

// Changes the entities that `entities` yields every few milliseconds until
// told to stop; answers "digest" with the digest of what it holds.
class Changer {
 public:
  Changer(int control, std::uint32_t seed) : control_(control), random_(seed) {
    control_.onLine = [this](std::string const& line) {
      if (line == "quiet") changing_ = false;
      else if (line == "digest") control_.send(digest(config(), status()) + " " + std::to_string(changes_) + report());
      else if (line == "bye" || line == "eof") done_ = true;
      else if (onLine) onLine(line);
    };
    tick();
  }
  virtual ~Changer() = default;
  virtual Kiv::Ptr<Config> config() = 0;
  virtual Kiv::Ptr<Status> status() = 0;
  // Runs until told "bye"; the exit status.
  int run() {
    runUntil([&] { return done_; }, 600.0);
    return done_ ? 0 : 1;
  }
  std::function<void(std::string const&)> onLine;
  // More for the digest's answer.
  std::function<std::string()> report = [] { return std::string(); };
  bool changingNow = false;  // inside one of its own changes

 private:
  void tick() {
    Kiv::eventLoop().timerIs(Kiv::now() + 0.001 * (1 + random_.pick(4)), [this] {
      if (changing_ && config() && status()) {
        changingNow = true;
        random_.change(config(), status(), random_.pick(RandomChanges::kinds));
        changingNow = false;
        ++changes_;
      }
      tick();
    });
  }

  Control control_;
  RandomChanges random_;
  std::uint64_t changes_ = 0;
  bool changing_ = true;
  bool done_ = false;
};

// The source: serves the model to whoever connects, mounting it anew on
// every connection; counts the changes it applied from the mirror.
int sourceProcess(int control, int listener) {
  Kiv::eventLoop().reset();
  Kiv::eventLoop().realTimeIs(true);
  struct Source : Changer {
    using Changer::Changer;
    Kiv::Ptr<Config> config() override { return c; }
    Kiv::Ptr<Status> status() override { return s; }
    Kiv::Ptr<Config> c = Bridging::Orva::configFactory("agentConfig");
    Kiv::Ptr<Status> s = Bridging::Orva::statusFactory("agentStatus");
    Kiv::Ptr<Demuxer> demuxer;
  } source(control, 1);
  std::uint64_t applied = 0;
  struct ConfigCount : Config::Notifiee {
    void onExtTapDevice(Kiv::String8) override { count(); }
    void onComplete() override { count(); }
    void count() {
      if (!changer->changingNow) ++*applied;
    }
    Changer* changer;
    std::uint64_t* applied;
  };
  struct StatusCount : Status::Notifiee {
    void onInitialized() override { count(); }
    void onFabricDeviceName() override { count(); }
    void count() {
      if (!changer->changingNow) ++*applied;
    }
    Changer* changer;
    std::uint64_t* applied;
  };
  auto cc = Kiv::make<ConfigCount>();
  auto sc = Kiv::make<StatusCount>();
  cc->changer = sc->changer = &source;
  cc->applied = sc->applied = &applied;
  cc->notifierIs(source.c);
  sc->notifierIs(source.s);
  Kiv::eventLoop().fdWatchIs(listener, POLLIN, [&](short) {
    int const fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    if (source.demuxer) source.demuxer->close("replaced by a new connection");
    source.demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd));
    source.demuxer->writer()->capacityIs(4096);  // deferred writes and resumable resyncs
    source.demuxer->mount(source.c);
    source.demuxer->mount(source.s);
  });
  source.onLine = [&](std::string const& line) {
    if (line == "break" && source.demuxer) source.demuxer->close("broken by the third party");
  };
  source.report = [&] { return " " + std::to_string(applied); };
  int const status = source.run();
  cc->notifierIs(nullptr);
  sc->notifierIs(nullptr);
  if (source.demuxer) source.demuxer->close("done");
  return status;
}

// The mirror: connects (again after every break), mirrors the model and
// changes its mirror at random.
int mirrorProcess(int control, Endpoint const& endpoint, std::uint32_t seed) {
  Kiv::eventLoop().reset();
  Kiv::eventLoop().realTimeIs(true);
  struct Mirror : Changer {
    using Changer::Changer;
    Kiv::Ptr<Config> config() override { return mirrorOf<Config>(dir, "agentConfig"); }
    Kiv::Ptr<Status> status() override { return mirrorOf<Status>(dir, "agentStatus"); }
    Kiv::Ptr<Kiv::Dir> dir = Kiv::Dir::DirIs("mirror");
    Kiv::Ptr<Demuxer> demuxer;
  } mirror(control, seed);
  std::function<void()> connect = [&] {
    int const fd = endpoint.socket();
    if (fd < 0 || ::connect(fd, endpoint.address(), endpoint.length) != 0) {
      if (fd >= 0) ::close(fd);
      Kiv::eventLoop().timerIs(Kiv::now() + 0.01, connect);
      return;
    }
    mirror.demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd), Demuxer::second);
    mirror.demuxer->writer()->capacityIs(4096);
    mirror.demuxer->mirrorDirIs(mirror.dir);
    mirror.demuxer->closedCallbackIs([&](Kiv::String8 const&) {
      Kiv::eventLoop().timerIs(Kiv::now() + 0.01, connect);
    });
  };
  connect();
  int const status = mirror.run();
  if (mirror.demuxer) {
    mirror.demuxer->closedCallbackIs(nullptr);
    mirror.demuxer->close("done");
  }
  return status;
}

// A process forked to run `body` with its end of a new control socket.
struct Child {
  template <class Body>
  static Child fork(Body const& body) {
    int ctl[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ctl), 0);
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
      ::close(ctl[0]);
      std::_Exit(body(ctl[1]));
    }
    ::close(ctl[1]);
    c.control = std::make_unique<Control>(ctl[0]);
    c.fd = ctl[0];
    c.control->onLine = [reply = c.reply](std::string const& line) { *reply = line; };
    return c;
  }
  // Asks a question and waits for the answer.
  std::string ask(std::string const& question) {
    reply->clear();
    control->send(question);
    runUntil([&] { return !reply->empty(); }, 10.0);
    return *reply;
  }
  int wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    control.reset();
    ::close(fd);
    return status;
  }
  pid_t pid = -1;
  int fd = -1;
  std::unique_ptr<Control> control;
  std::shared_ptr<std::string> reply = std::make_shared<std::string>();
};

void tortureOver(Endpoint endpoint) {
  Kiv::eventLoop().reset();
  // A child that has died answers no more; writing to it fails rather
  // than ending the test.
  ::signal(SIGPIPE, SIG_IGN);
  int const listener = endpoint.socket();
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::bind(listener, endpoint.address(), endpoint.length), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&endpoint.addr), &endpoint.length), 0);
  char const* env = std::getenv("ATTRLOG_TORTURE_SECONDS");
  double const seconds = env ? std::atof(env) : 1.5;

  Child source = Child::fork([&](int control) { return sourceProcess(control, listener); });
  ::close(listener);
  std::uint32_t incarnation = 1;
  auto startMirror = [&] {
    return Child::fork([&](int control) { return mirrorProcess(control, endpoint, 100 + incarnation); });
  };
  Child mirror = startMirror();
  Kiv::eventLoop().realTimeIs(true);

  std::mt19937 rng(7);
  unsigned kills = 0, breaks = 0;
  for (double const end = Kiv::now() + seconds; Kiv::now() < end;) {
    Kiv::eventLoop().runUntil(Kiv::now() + 0.1 + 0.3 * std::uniform_real_distribution<double>()(rng));
    switch (rng() % 3) {
      case 0:
        ::kill(mirror.pid, SIGKILL);
        mirror.wait();
        ++incarnation;
        mirror = startMirror();
        ++kills;
        break;
      case 1:
        mirror.control->send("break");
        ++breaks;
        break;
      default:
        source.control->send("break");
        ++breaks;
        break;
    }
  }
  source.control->send("quiet");
  mirror.control->send("quiet");
  // Answers: the digest, the changes made; the source adds the changes of
  // the mirror it applied.
  std::istringstream s, m;
  std::string sourceDigest, mirrorDigest;
  runUntil([&] {
    s.clear();
    s.str(source.ask("digest"));
    m.clear();
    m.str(mirror.ask("digest"));
    s >> sourceDigest;
    m >> mirrorDigest;
    return !sourceDigest.empty() && sourceDigest == mirrorDigest;
  }, 30.0);
  EXPECT_EQ(mirrorDigest, sourceDigest) << "the mirror's digest against the source's";
  std::uint64_t sourceChanges = 0, mirrorChanges = 0, applied = 0;
  s >> sourceChanges >> applied;
  m >> mirrorChanges;
  std::printf("[ killed   ] %.1f s: %u kills of the mirror, %u breaks; %llu changes made by the source, %llu by the "
              "last mirror; %llu changes of the mirrors applied by the source\n",
              seconds, kills, breaks, static_cast<unsigned long long>(sourceChanges),
              static_cast<unsigned long long>(mirrorChanges), static_cast<unsigned long long>(applied));
  std::fflush(stdout);
  mirror.control->send("bye");
  source.control->send("bye");
  EXPECT_EQ(mirror.wait(), 0);
  EXPECT_EQ(source.wait(), 0);
  Kiv::eventLoop().realTimeIs(false);
  Kiv::eventLoop().reset();
}

TEST(KilledMirror, BothSidesEqualOverAUnixSocket) {
  std::string const path = "/tmp/attrlog-torture-" + std::to_string(::getpid()) + ".sock";
  ::unlink(path.c_str());
  tortureOver(Endpoint::unixPath(path));
  ::unlink(path.c_str());
}

TEST(KilledMirror, BothSidesEqualOverTcpOnLoopback) { tortureOver(Endpoint::loopback()); }

}  // namespace
