#pragma once
// Capture keeps the attribute-log bytes that a run sends on its
// connections (Out::tapIs), and writes them to the --capture file when the
// run ends, so that a run stopped by bad input leaves no file behind.
#include <string>

#include "Kiv/NboAttrLogDemuxer.h"
#include "Kiv/Ptr.h"

namespace BridgeSim {

class Capture {
 public:
  explicit Capture(std::string path) : path_(std::move(path)) {}
  bool on() const noexcept { return !path_.empty(); }
  // Keeps what `demuxer` writes from now on.
  void tap(Kiv::Ptr<Kiv::NboAttrLog::Demuxer> const& demuxer);
  std::size_t bytes() const noexcept { return bytes_.size(); }
  // Writes the file; throws BadInput naming it when it cannot.
  void write() const;

 private:
  std::string path_;
  std::string bytes_;
};

}  // namespace BridgeSim
