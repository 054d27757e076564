// Replication between two real processes: the test forks a mirror process
// and talks to it over a control socket (one text line per message), while
// the agent model crosses an attribute-log connection (a socket pair, or a
// Unix-domain socket that is broken in the middle of a resync and opened
// again). Both processes run the event loop on real time.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "tests/attrlog/ProcessControl.h"

namespace {

using namespace attrlog_test;

constexpr int tapDevices = 10000;
constexpr std::size_t nameLength = 200000;

// The mirror process: mirrors what arrives on the connections that
// `nextStream` yields, answers the source's questions, and changes its
// mirror when told. Returns the exit status.
int mirrorProcess(int control, std::function<Kiv::Ptr<Kiv::ByteStream>()> const& nextStream) {
  Kiv::eventLoop().reset();
  Kiv::eventLoop().realTimeIs(true);
  auto dir = Kiv::Dir::DirIs("mirror");
  Kiv::Ptr<Demuxer> demuxer;
  int nameChanges = 0;
  struct NameWatch : Status::Notifiee {
    void onFabricDeviceName() override { ++*count; }
    int* count;
  };
  auto watch = Kiv::make<NameWatch>();
  watch->count = &nameChanges;
  std::function<void()> connect = [&] {
    demuxer = Demuxer::DemuxerIs(nextStream(), Demuxer::second);
    demuxer->mirrorDirIs(dir);
    demuxer->mirrorCallbackIs([&](Kiv::Ptr<Kiv::Entity> const& e) {
      if (auto s = Kiv::Ptr<Status>(dynamic_cast<Status*>(e.ptr()))) watch->notifierIs(s);
    });
  };
  connect();
  Control ctl(control);
  std::string expected;
  bool quit = false;
  ctl.onLine = [&](std::string const& line) {
    if (line == "reconnect") connect();
    else if (line.rfind("expect ", 0) == 0) expected = line.substr(7);
    else if (line == "change") {
      mirrorOf<Config>(dir, "agentConfig")->extTapDeviceIs("fromMirror", TapDevice("tapM", 3));
    } else if (line == "bye" || line == "eof") quit = true;
  };
  auto mirrored = [&] { return digest(mirrorOf<Config>(dir, "agentConfig"), mirrorOf<Status>(dir, "agentStatus")); };
  while (!quit) {
    if (!runUntil([&] { return quit || (!expected.empty() && mirrored() == expected); })) {
      ctl.send("timeout " + describe(mirrorOf<Config>(dir, "agentConfig")).substr(0, 200));
      return 1;
    }
    if (quit) break;
    ctl.send("equal " + std::to_string(nameChanges));
    expected.clear();
  }
  watch->notifierIs(nullptr);
  if (demuxer) demuxer->close("done");
  return 0;
}

class TwoProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv::eventLoop().reset();
    int ctl[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ctl), 0);
    controlParent = ctl[0];
    controlChild = ctl[1];
    for (int i = 0; i < tapDevices; ++i) {
      config->extTapDeviceIs("et" + std::to_string(i), TapDevice("tap" + std::to_string(i), static_cast<std::uint16_t>(i)));
    }
    status->fabricDeviceNameIs(std::string(nameLength, 'f'));
  }
  void TearDown() override {
    Kiv::eventLoop().realTimeIs(false);
    Kiv::eventLoop().reset();
  }

  // Forks the mirror process.
  void fork(std::function<Kiv::Ptr<Kiv::ByteStream>()> const& childStream) {
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(controlParent);
      std::_Exit(mirrorProcess(controlChild, childStream));
    }
    ::close(controlChild);
    Kiv::eventLoop().realTimeIs(true);
    control = std::make_unique<Control>(controlParent);
    control->onLine = [this](std::string const& line) { reply = line; };
  }
  // Asks the mirror to wait until it holds what this process holds.
  std::string converge() {
    reply.clear();
    control->send("expect " + digest(config, status));
    EXPECT_TRUE(runUntil([&] { return !reply.empty(); })) << "no answer from the mirror";
    return reply;
  }
  void finish() {
    control->send("bye");
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "mirror process status " << wstatus;
    ::close(controlParent);
  }

  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("agentStatus");
  int controlParent = -1, controlChild = -1;
  pid_t child = -1;
  std::unique_ptr<Control> control;
  std::string reply;
};

TEST_F(TwoProcesses, SocketPairMirrorsBothWaysOnceWithoutEcho) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  fork([&] {
    ::close(fds[0]);
    return Kiv::FdByteStream::FdByteStreamIs(fds[1]);
  });
  ::close(fds[1]);
  auto source = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fds[0]));
  source->writer()->capacityIs(8192);  // deferred writes and resumable resyncs
  // ATTRLOG_CAPTURE=FILE keeps what the source sent, for kiv-log's tests.
  std::ofstream capture;
  if (char const* path = std::getenv("ATTRLOG_CAPTURE")) {
    capture.open(path, std::ios::binary | std::ios::trunc);
    source->writer()->tapIs([&](std::uint8_t const* bytes, std::size_t n) {
      capture.write(reinterpret_cast<char const*>(bytes), static_cast<std::streamsize>(n));
    });
  }
  source->mount(config);
  source->mount(status);
  EXPECT_EQ(converge(), "equal 1") << "the whole model, the long name applied once";

  std::uint64_t const written = source->writer()->records();
  control->send("change");
  EXPECT_TRUE(runUntil([&] { return config->extTapDevices() == tapDevices + 1u; }));
  EXPECT_EQ(config->extTapDevice("fromMirror"), TapDevice("tapM", 3));
  config->extTapDeviceDel("et7");
  status->initializedIs(true);
  EXPECT_EQ(converge(), "equal 1");
  EXPECT_EQ(source->writer()->records(), written + 2) << "the mirror's change was not echoed back";
  finish();
}

TEST_F(TwoProcesses, UnixSocketBrokenInAResyncIsResynchronisedOnReconnect) {
  std::string const path = "/tmp/attrlog-test-" + std::to_string(::getpid()) + ".sock";
  ::unlink(path.c_str());
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  fork([&] { return Kiv::FdByteStream::FdByteStreamIs(::accept(listener, nullptr, nullptr)); });
  ::close(listener);
  auto connect = [&] {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto d = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd));
    d->writer()->capacityIs(4096);
    d->mount(config);
    d->mount(status);
    return d;
  };
  auto source = connect();
  // Broken in the middle of the first resync.
  EXPECT_TRUE(runUntil([&] { return source->writer()->sent() > 100000; }));
  source->close("broken by the test");
  for (int i = 0; i < tapDevices; i += 10) config->extTapDeviceDel("et" + std::to_string(i));
  config->extTapDeviceIs("late", TapDevice("tapL", 9));
  control->send("reconnect");
  source = connect();
  EXPECT_EQ(converge(), "equal 1") << "the deleted entries are gone, the rest and the new one are there";
  ::unlink(path.c_str());
  finish();
}

}  // namespace
