#include "MirrorProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "AgentQuery.h"
#include "BadInput.h"
#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/EventLoop.h"
#include "Tokens.h"

namespace BridgeSim {

using Kiv::NboAttrLog::Demuxer;

namespace {

// The seconds since `start` on the monotonic clock.
double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <class E>
E const* mirrorOf(Kiv::Ptr<Kiv::Dir> const& dir, char const* name) {
  return dynamic_cast<E const*>(dir->entry(Kiv::Name(name)).ptr());
}

}  // namespace

MirrorProcess::~MirrorProcess() { end(); }

void MirrorProcess::requireRunning(char const* what) const {
  if (!running()) throw BadInput(std::string(what) + " needs a mirror process: start it with 'mirror start'");
}

void MirrorProcess::start() {
  if (running()) throw BadInput("the mirror process runs already");
  int ctl[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ctl) != 0) throw BadInput("cannot make a socket pair");
  std::cout.flush();
  std::cerr.flush();
  pid_t const pid = ::fork();
  if (pid < 0) throw BadInput("cannot start the mirror process");
  if (pid == 0) {
    // The child never returns into the caller's code: whatever happens,
    // it ends here.
    int status = exitFailed;
    try {
      ::close(ctl[0]);
      status = mirrorProcessMain(ctl[1]);
    } catch (std::exception const& e) {
      std::cerr << "bridge-sim: the mirror process failed: " << e.what() << std::endl;
    } catch (...) {
      std::cerr << "bridge-sim: the mirror process failed" << std::endl;
    }
    std::_Exit(status);
  }
  ::close(ctl[1]);
  child_ = pid;
  control_ = std::make_unique<ControlChannel>(ctl[0]);
  connect();
}

void MirrorProcess::connect() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw BadInput("cannot make a socket pair");
  control_->send("connect", fds[1]);
  ::close(fds[1]);
  demuxer_ = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fds[0]));
  capture_.tap(demuxer_);
  demuxer_->mount(model_.agentConfig);
  demuxer_->mount(model_.agentStatus);
}

void MirrorProcess::breakLink() {
  requireRunning("mirror break");
  if (!linked()) throw BadInput("the mirror's connection is broken already");
  sentBefore_ += demuxer_->writer()->sent();
  demuxer_->close("broken by the set-up");
  demuxer_ = nullptr;
}

void MirrorProcess::restore() {
  requireRunning("mirror restore");
  if (linked()) throw BadInput("the mirror's connection is not broken");
  if (demuxer_) sentBefore_ += demuxer_->writer()->sent();
  connect();
}

bool MirrorProcess::stop() {
  requireRunning("mirror stop");
  return end();
}

bool MirrorProcess::end() {
  if (!running()) return true;
  if (demuxer_) {
    sentBefore_ += demuxer_->writer()->sent();
    demuxer_->close("finished");
    demuxer_ = nullptr;
  }
  control_->send("bye");
  int status = 0;
  auto const start = std::chrono::steady_clock::now();
  pid_t r;
  while ((r = ::waitpid(child_, &status, WNOHANG)) == 0 && since(start) < 10.0) ::usleep(1000);
  if (r == 0) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, &status, 0);
  }
  bool const ended = r == child_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  child_ = -1;
  control_ = nullptr;
  return ended;
}

bool MirrorProcess::pumpUntil(std::function<bool()> const& done, double timeout) {
  auto const start = std::chrono::steady_clock::now();
  auto& loop = Kiv::eventLoop();
  for (;;) {
    if (done()) return true;
    if (since(start) >= timeout) return false;
    loop.runOnce();
    if (control_) {
      control_->receive();
      if (control_->hasLine()) continue;
      pollfd p{control_->fd(), POLLIN, 0};
      ::poll(&p, 1, 1);
    } else {
      ::usleep(1000);
    }
  }
}

std::string MirrorProcess::await(std::string const& query, std::string const& expected, double timeout) {
  requireRunning("expect mirror");
  control_->send("await " + query + "\t" + expected + "\t" + std::to_string(timeout));
  if (!pumpUntil([&] { return control_->hasLine(); }, timeout + 5.0)) return "no answer from the mirror process";
  return control_->nextLine();
}

std::string MirrorProcess::mirroredModel(double timeout) {
  requireRunning("mirror start and restore");
  if (!linked()) return "no connection";
  Kiv::Ptr<Kiv::NboAttrLog::Out> const out = demuxer_->writer();
  pumpUntil([&] { return !linked() || (out->pending() == 0 && out->flowOutsWaiting() == 0 && !out->runningFlowOut()); },
            timeout);
  control_->send("sync " + std::to_string(out->sent()) + "\t" + std::to_string(timeout));
  if (!pumpUntil([&] { return control_->hasLine(); }, timeout + 5.0)) return "no answer from the mirror process";
  return control_->nextLine();
}

void MirrorProcess::change(std::string const& line) {
  requireRunning("a mirror change");
  control_->send(line);
  if (!pumpUntil([&] { return control_->hasLine(); }, 10.0)) throw BadInput("no answer from the mirror process");
  std::string const reply = control_->nextLine();
  if (reply != "done") throw BadInput("the mirror could not make the change: " + reply);
}

int mirrorProcessMain(int controlFd) {
  auto& loop = Kiv::eventLoop();
  loop.reset();
  loop.realTimeIs(true);
  auto const dir = Kiv::Dir::DirIs("mirror");
  ControlChannel control(controlFd);
  Kiv::Ptr<Demuxer> demuxer;
  struct {
    std::string query, expected;
    double deadline = 0.0;
    bool on = false;
  } awaiting;
  // A sync: report the model once the connection has brought `bytes`.
  struct {
    std::uint64_t bytes = 0;
    double deadline = 0.0;
    bool on = false;
  } syncing;
  auto value = [&](std::string const& query) {
    return agentValue(mirrorOf<Bridging::Orva::Config>(dir, "agentConfig"),
                      mirrorOf<Bridging::Orva::Status>(dir, "agentStatus"), query);
  };
  bool quit = false;
  while (!quit) {
    if (!control.receive()) break;  // the source has gone
    while (control.hasLine() && !quit) {
      std::string const line = control.nextLine();
      std::string const verb = line.substr(0, line.find(' '));
      std::string const rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
      if (verb == "connect") {
        if (demuxer) demuxer->close("replaced by a new connection");
        demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(control.nextFd()), Demuxer::second);
        demuxer->mirrorDirIs(dir);
      } else if (verb == "await") {
        std::size_t const a = rest.find('\t'), b = rest.rfind('\t');
        awaiting.query = rest.substr(0, a);
        awaiting.expected = rest.substr(a + 1, b - a - 1);
        awaiting.deadline = Kiv::now() + std::atof(rest.c_str() + b + 1);
        awaiting.on = true;
      } else if (verb == "sync") {
        syncing.bytes = std::strtoull(rest.c_str(), nullptr, 10);
        syncing.deadline = Kiv::now() + std::atof(rest.c_str() + rest.find('\t') + 1);
        syncing.on = true;
      } else if (verb == "bye") {
        quit = true;
      } else {
        auto config = Kiv::Ptr<Bridging::Orva::Config>(
            const_cast<Bridging::Orva::Config*>(mirrorOf<Bridging::Orva::Config>(dir, "agentConfig")));
        auto status = Kiv::Ptr<Bridging::Orva::Status>(
            const_cast<Bridging::Orva::Status*>(mirrorOf<Bridging::Orva::Status>(dir, "agentStatus")));
        try {
          Tokens tokens(rest);
          auto const apply = agentChange(verb, tokens);
          if (!config || !status) throw BadInput("nothing is mirrored yet");
          apply(*config, *status);
          control.send("done");
        } catch (BadInput const& e) {
          control.send(e.what());
        }
      }
    }
    if (awaiting.on) {
      std::string const v = value(awaiting.query);
      if (v == awaiting.expected || Kiv::now() >= awaiting.deadline) {
        control.send(v);
        awaiting.on = false;
      }
    }
    if (syncing.on) {
      std::uint64_t const read = demuxer ? demuxer->offset() : 0;
      if (read >= syncing.bytes || Kiv::now() >= syncing.deadline) {
        std::string const v = value("model");
        control.send(read >= syncing.bytes ? v
                                           : v + " after reading " + std::to_string(read) + " of the " +
                                                 std::to_string(syncing.bytes) + " bytes sent");
        syncing.on = false;
      }
    }
    loop.runUntil(Kiv::now() + 0.001);
  }
  if (demuxer) demuxer->close("finished");
  return 0;
}

}  // namespace BridgeSim
