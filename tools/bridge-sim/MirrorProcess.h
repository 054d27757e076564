#pragma once
// MirrorProcess is the second process of a run: bridge-sim forks it, and
// it mirrors the agent's Config and Status over an attribute-log
// connection (a socket pair) into its own directory "mirror". The two talk
// over a control channel: the source asks for mirrored values (waiting,
// within a bound, until they hold what it expects), tells the mirror to
// change its side, and hands it a new connection after a break, which
// resynchronises the same mirrors.
#include <string>
#include <sys/types.h>

#include "Capture.h"
#include "ControlChannel.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "Model.h"

namespace BridgeSim {

class MirrorProcess {
 public:
  MirrorProcess(Model& model, Capture& capture) : model_(model), capture_(capture) {}
  ~MirrorProcess();
  MirrorProcess(MirrorProcess const&) = delete;
  MirrorProcess& operator=(MirrorProcess const&) = delete;

  bool running() const noexcept { return child_ > 0; }
  bool linked() const noexcept { return demuxer_ && demuxer_->open(); }
  // Forks the mirror and connects it. Throws BadInput when one runs.
  void start();
  // Closes the connection at this end (the mirror sees it end).
  void breakLink();
  // A new connection, on which the agent entities are mounted again.
  void restore();
  // Ends the mirror process; returns false when it did not end well.
  // Throws BadInput when none runs.
  bool stop();
  // Ends the mirror process, if one runs, at the end of a run.
  bool end();

  // Once this side has handed every byte of the connection to the stream,
  // the mirror's agent model (the "model" query of AgentQuery.h) when it
  // has read them all, or what it holds after `timeout` seconds: after
  // start() and restore(), equal to this side's once the mirror holds the
  // model, so that the next change can rely on it.
  std::string mirroredModel(double timeout);

  // The mirror's value of `query` (AgentQuery.h), once it equals
  // `expected` or `timeout` seconds have passed.
  std::string await(std::string const& query, std::string const& expected, double timeout);
  // Has the mirror make a change (an agent change line).
  void change(std::string const& line);
  // Runs this side's loop turns (without moving simulated time) until
  // `done` or `timeout` seconds have passed.
  bool pumpUntil(std::function<bool()> const& done, double timeout);
  std::uint64_t bytesSent() const noexcept { return sentBefore_ + (demuxer_ ? demuxer_->writer()->sent() : 0); }

 private:
  void connect();
  void requireRunning(char const* what) const;

  Model& model_;
  Capture& capture_;
  pid_t child_ = -1;
  std::unique_ptr<ControlChannel> control_;
  Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer_;
  std::uint64_t sentBefore_ = 0;
};

// The mirror process's body: mirrors the connections handed to it over
// `control` until told to end. Returns its exit status.
int mirrorProcessMain(int control);

}  // namespace BridgeSim
