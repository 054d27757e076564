#include "SocketModes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
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

void say(std::string const& line) { std::cout << line << std::endl; }

// The close reason of a stream that ended at a frame boundary.
char const peerClosed[] = "connection closed by the peer";

// Runs the loop on real time until `quit` or an interrupt.
void serve(bool const& quit) {
  auto& loop = Kiv::eventLoop();
  loop.realTimeIs(true);
  while (!quit && !interrupted) loop.runUntil(Kiv::now() + 0.05);
}

}  // namespace

int listenMain(SocketAddress const& address, Model& model, Sizes const& sizes, Capture& capture) {
  std::string shown, note;
  int const listener = address.listenOn(shown, note);
  if (!note.empty()) say(note);
  catchInterrupts();
  model.build(sizes);
  Kiv::eventLoop().advance(0.001);
  struct Peer {
    Kiv::Ptr<Demuxer> demuxer;
    int fd;
  };
  std::vector<Peer> peers;
  Kiv::eventLoop().fdWatchIs(listener, POLLIN, [&](short) {
    int const fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    auto peer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd));
    capture.tap(peer);
    peer->closedCallbackIs([](Kiv::String8 const& why) { say("a peer left: " + why.stdString()); });
    peer->mount(model.agentConfig);
    peer->mount(model.agentStatus);
    peers.push_back({peer, fd});
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
        Step const step = Scenario::parseLine(line, "stdin", lineNo, Mode::listen);
        if (step.run) run.runStep(step, std::cerr);
      } catch (ScenarioError const& e) {
        std::cerr << e.what() << std::endl;
      }
    }
  });
  say("serving the agent model on " + shown + "; scenario commands on standard input, 'quit' to end");
  serve(quit);
  Kiv::eventLoop().fdWatchDel(0);
  Kiv::eventLoop().fdWatchDel(listener);

  // The orderly end: every peer's connection is shut on this side once its
  // writer has handed everything over, while the socket still listens, so
  // that a mirror can tell this end from a listener that died.
  auto const open = [&] {
    std::size_t n = 0;
    for (auto const& p : peers) n += p.demuxer->open();
    return n;
  };
  auto const sending = [&] {
    for (auto const& p : peers) {
      auto const& out = p.demuxer->writer();
      if (p.demuxer->open() && (out->pending() != 0 || out->flowOutsWaiting() != 0)) return true;
    }
    return false;
  };
  auto& loop = Kiv::eventLoop();
  double const until = Kiv::now() + 5.0;
  while (sending() && Kiv::now() < until) loop.runUntil(Kiv::now() + 0.01);
  for (auto const& p : peers) {
    if (p.demuxer->open()) ::shutdown(p.fd, SHUT_WR);
  }
  while (open() != 0 && Kiv::now() < until) loop.runUntil(Kiv::now() + 0.01);
  for (auto const& p : peers) p.demuxer->close("the agent ends");
  ::close(listener);
  if (!address.tcp) ::unlink(address.path.c_str());
  capture.write();
  return exitHeld;
}

int mirrorMain(SocketAddress const& address, Capture& capture) {
  int const fd = address.connectTo();
  // A second descriptor keeps the connection open after the stream closes
  // its own, until the listener has been asked whether it still accepts:
  // the listener's orderly end waits for this side to close.
  int const keep = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  catchInterrupts();
  Kiv::eventLoop().realTimeIs(true);
  AgentWatch watch([](std::string const& line) { say(line); });
  auto const dir = Kiv::Dir::DirIs("mirror");
  auto demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd), Demuxer::second);
  capture.tap(demuxer);
  demuxer->mirrorDirIs(dir);
  bool ended = false;
  std::string reason;
  demuxer->mirrorCallbackIs([&](Kiv::Ptr<Kiv::Entity> const& e) {
    say("mirroring " + Kiv::valueToStrep(e->name()).stdString());
    watch.watch(e);
  });
  demuxer->closedCallbackIs([&](Kiv::String8 const& why) {
    reason = why.stdString();
    say("connection closed: " + reason);
    ended = true;
  });
  say("connected to " + address.text);
  serve(ended);
  int status = exitHeld;
  if (ended && reason != peerClosed) {
    status = exitFailed;  // a broken connection
  } else if (ended && !address.accepting()) {
    say("the listener at " + address.text + " is gone: it ended without closing the connection in order");
    status = exitFailed;
  }
  demuxer->close("interrupted");
  ::close(keep);
  capture.write();
  return status;
}

}  // namespace BridgeSim
