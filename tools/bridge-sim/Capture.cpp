#include "Capture.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BadInput.h"

namespace BridgeSim {

Capture::Capture(std::string path) : path_(std::move(path)) {
  if (!on()) return;
  out_.open(path_, std::ios::binary | std::ios::trunc);
  if (!out_) throw BadInput("--capture " + path_ + ": cannot write the file (" + std::strerror(errno) + ")");
}

Capture::~Capture() {
  if (!on() || written_) return;
  out_.close();
  ::unlink(path_.c_str());
}

void Capture::tap(Kiv::Ptr<Kiv::NboAttrLog::Demuxer> const& demuxer) {
  if (!on()) return;
  demuxer->writer()->tapIs(
      [this](std::uint8_t const* data, std::size_t n) { bytes_.append(reinterpret_cast<char const*>(data), n); });
}

void Capture::write() {
  if (!on()) return;
  out_.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  out_.close();
  if (!out_) throw BadInput("--capture " + path_ + ": cannot write the file (" + std::strerror(errno) + ")");
  written_ = true;
}

}  // namespace BridgeSim
