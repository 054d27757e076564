// Feeds arbitrary text to the tap device's text form parser. Every input
// must either parse to a value that prints and parses back to itself, or be
// refused with a range exception; nothing may read past the input (the
// sanitizers watch) and no other exception may escape.
#include <cstddef>
#include <cstdint>

#include "Kiv/Exception.h"
#include "Kiv/String8.h"
#include "agent/Config.h"

using Bridging::Orva::Config;

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  Kiv::String8 const text(reinterpret_cast<char const*>(data), size);
  try {
    Config::TapDevice const v = Kiv::strepToValue<Config::TapDevice>(text);
    Config::TapDevice const again = Kiv::strepToValue<Config::TapDevice>(valueToStrep(v));
    if (again != v) __builtin_trap();
  } catch (Kiv::RangeException const&) {
  }
  // The iterator form stops where the value ends and never moves on failure.
  auto it = text.iterator();
  try {
    Config::TapDevice const v(it, text.end());
    (void)v;
    if (it.position() > text.size()) __builtin_trap();
  } catch (Kiv::RangeException const&) {
    if (it.position() != 0) __builtin_trap();
  }
  return 0;
}
