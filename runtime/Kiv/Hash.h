#pragma once
// Fixed hash functions of key bytes. They are the same on every platform
// and word size, so every collection iterates in the same order everywhere.
#include <cstddef>
#include <cstdint>

#include "Kiv/Export.h"

namespace Kiv {

// Spreads every input bit over the whole word (the 32-bit finaliser of
// MurmurHash3), so that bit-reversed ordering sees well-mixed high bits.
constexpr std::uint32_t hashMix(std::uint32_t h) noexcept {
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

// FNV-1a over the bytes, then hashMix.
KIV_API std::uint32_t hashBytes(void const* data, std::size_t n) noexcept;

// Integers hash as their value, independent of byte order.
constexpr std::uint32_t hashU32(std::uint32_t v) noexcept { return hashMix(v ^ 0x9e3779b9u); }

constexpr std::uint32_t bitReverse(std::uint32_t v) noexcept {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
  v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
  return (v >> 16) | (v << 16);
}

}  // namespace Kiv
