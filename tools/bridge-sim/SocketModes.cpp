#include "SocketModes.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include "Account.h"
#include "AgentQuery.h"
#include "BadInput.h"
#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "MirrorProcess.h"
#include "Scenario.h"

namespace BridgeSim {

namespace {

using Kiv::NboAttrLog::Demuxer;

volatile sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

void catchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

sockaddr_un address(std::string const& option, std::string const& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    throw BadInput(option + " " + path + ": a socket path must have 1 to " + std::to_string(sizeof addr.sun_path - 1) +
                   " bytes");
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

void say(std::string const& line) { std::cout << line << std::endl; }

// Runs the loop on real time until `quit` or an interrupt.
void serve(bool const& quit) {
  auto& loop = Kiv::eventLoop();
  loop.realTimeIs(true);
  while (!quit && !interrupted) loop.runUntil(Kiv::now() + 0.05);
}

}  // namespace

int listenMain(std::string const& path, Model& model, Sizes const& sizes, Capture& capture) {
  sockaddr_un const addr = address("--listen", path);
  int const listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::bind(listener, reinterpret_cast<sockaddr const*>(&addr), sizeof addr) != 0 || ::listen(listener, 8) != 0) {
    std::string const why = std::strerror(errno);
    ::close(listener);
    throw BadInput("--listen " + path + ": cannot bind the socket (" + why + ")");
  }
  catchInterrupts();
  model.build(sizes);
  Kiv::eventLoop().advance(0.001);
  std::vector<Kiv::Ptr<Demuxer>> peers;
  Kiv::eventLoop().fdWatchIs(listener, POLLIN, [&](short) {
    int const fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    auto peer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd));
    capture.tap(peer);
    peer->closedCallbackIs([](Kiv::String8 const& why) { say("a peer left: " + why.stdString()); });
    peer->mount(model.agentConfig);
    peer->mount(model.agentStatus);
    peers.push_back(peer);
    say("a peer connected; it mirrors the agent Config and Status");
  });

  // Scenario commands on standard input, one a line.
  MirrorProcess mirror(model, capture);
  Account account(std::cout, false);
  ScenarioRun run(model, mirror, account);
  bool quit = false;
  int lineNo = 0;
  std::string pending;
  Kiv::eventLoop().fdWatchIs(0, POLLIN, [&](short) {
    char buf[4096];
    ssize_t const n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
      Kiv::eventLoop().fdWatchDel(0);
      return;
    }
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      std::string const line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      ++lineNo;
      if (line == "quit") {
        quit = true;
        return;
      }
      try {
        Step const step = Scenario::parseLine(line, "stdin", lineNo);
        if (step.run) run.runStep(step, std::cerr);
      } catch (ScenarioError const& e) {
        std::cerr << e.what() << std::endl;
      }
    }
  });
  say("serving the agent model on " + path + "; scenario commands on standard input, 'quit' to end");
  serve(quit);
  Kiv::eventLoop().fdWatchDel(0);
  Kiv::eventLoop().fdWatchDel(listener);
  for (auto const& p : peers) p->close("the agent ends");
  ::close(listener);
  ::unlink(path.c_str());
  capture.write();
  return exitHeld;
}

int mirrorMain(std::string const& path) {
  sockaddr_un const addr = address("--mirror", path);
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<sockaddr const*>(&addr), sizeof addr) != 0) {
    std::string const why = std::strerror(errno);
    ::close(fd);
    throw BadInput("--mirror " + path + ": cannot connect (" + why + ")");
  }
  catchInterrupts();
  AgentWatch watch([](std::string const& line) { say(line); });
  auto const dir = Kiv::Dir::DirIs("mirror");
  auto demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd), Demuxer::second);
  demuxer->mirrorDirIs(dir);
  bool ended = false;
  demuxer->mirrorCallbackIs([&](Kiv::Ptr<Kiv::Entity> const& e) {
    say("mirroring " + Kiv::valueToStrep(e->name()).stdString());
    watch.watch(e);
  });
  demuxer->closedCallbackIs([&](Kiv::String8 const& why) {
    say("connection closed: " + why.stdString());
    ended = true;
  });
  say("connected to " + path);
  serve(ended);
  demuxer->close("interrupted");
  return exitHeld;
}

}  // namespace BridgeSim
