#pragma once
// Capture keeps the attribute-log bytes that a run sends on its
// connections (Out::tapIs) and writes them to the --capture file when the
// run ends. The file is opened when the Capture is made, before the run
// starts, so that a path that cannot be written stops the run before it
// claims anything; a run stopped by bad input removes it again.
#include <fstream>
#include <string>

#include "Kiv/NboAttrLogDemuxer.h"
#include "Kiv/Ptr.h"

namespace BridgeSim {

class Capture {
 public:
  // Opens `path` (nothing when it is empty); throws BadInput naming it
  // when it cannot be written.
  explicit Capture(std::string path);
  ~Capture();
  Capture(Capture const&) = delete;
  Capture& operator=(Capture const&) = delete;

  bool on() const noexcept { return !path_.empty(); }
  // Keeps what `demuxer` writes from now on.
  void tap(Kiv::Ptr<Kiv::NboAttrLog::Demuxer> const& demuxer);
  std::size_t bytes() const noexcept { return bytes_.size(); }
  // Writes the file; throws BadInput naming it when it cannot.
  void write();

 private:
  std::string path_;
  std::ofstream out_;
  std::string bytes_;
  bool written_ = false;
};

}  // namespace BridgeSim
