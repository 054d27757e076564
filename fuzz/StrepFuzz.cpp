// Feeds arbitrary text to the runtime's text readers (strings, integers,
// booleans, doubles, names and patterns). Each must read a value or throw a
// range exception, and never read past the input.
#include <cstddef>
#include <cstdint>

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

namespace {

template <class T>
void readAll(Kiv::String8 const& text) {
  try {
    T const v = Kiv::strepToValue<T>(text);
    // A value read back from its own text form is the same value.
    if (!(Kiv::strepToValue<T>(Kiv::valueToStrep(v)) == v)) __builtin_trap();
  } catch (Kiv::RangeException const&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  Kiv::String8 const text(reinterpret_cast<char const*>(data), size);
  readAll<Kiv::String8>(text);
  readAll<long long>(text);
  readAll<unsigned long long>(text);
  readAll<unsigned short>(text);
  readAll<bool>(text);
  try {
    (void)Kiv::strepToValue<double>(text);
  } catch (Kiv::RangeException const&) {
  }
  auto it = text.iterator();
  try {
    Kiv::needString(it, text.end(), " Value ( 'x' , ** { } ) ");
  } catch (Kiv::RangeException const&) {
    if (it.position() != 0) __builtin_trap();
  }
  return 0;
}
