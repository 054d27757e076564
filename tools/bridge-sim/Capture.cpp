#include "Capture.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "BadInput.h"

namespace BridgeSim {

void Capture::tap(Kiv::Ptr<Kiv::NboAttrLog::Demuxer> const& demuxer) {
  if (!on()) return;
  demuxer->writer()->tapIs(
      [this](std::uint8_t const* data, std::size_t n) { bytes_.append(reinterpret_cast<char const*>(data), n); });
}

void Capture::write() const {
  if (!on()) return;
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  out.close();
  if (!out) throw BadInput("--capture " + path_ + ": cannot write the file (" + std::strerror(errno) + ")");
}

}  // namespace BridgeSim
