#include "Kiv/Hash.h"

namespace Kiv {

std::uint32_t hashBytes(void const* data, std::size_t n) noexcept {
  auto const* p = static_cast<unsigned char const*>(data);
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 16777619u;
  }
  return hashMix(h);
}

}  // namespace Kiv
