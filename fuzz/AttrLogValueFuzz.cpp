// Feeds arbitrary bytes to the attribute-log readers: a tap device value,
// then every primitive in turn, each inside a size anchor of the first
// byte's length. A short or malformed input must be refused with a range
// exception and nothing may be read past the bytes (the sanitizers watch).
#include <cstddef>
#include <cstdint>

#include "Kiv/ByteConnection.h"
#include "Kiv/Exception.h"
#include "Kiv/NboAttrLog.h"
#include "agent/Config.h"

using Bridging::Orva::Config;

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  auto in = Kiv::make<Kiv::NboAttrLog::In>(data, size);
  try {
    Config::TapDevice const v(in.ptr(), Kiv::StreamBogon{});
    // What was read writes back to the same bytes.
    auto out = Kiv::make<Kiv::NboAttrLog::Out>();
    out << v;
    auto back = Kiv::make<Kiv::NboAttrLog::In>(out->bytes());
    if (Config::TapDevice(back.ptr(), Kiv::StreamBogon{}) != v) __builtin_trap();
  } catch (Kiv::RangeException const&) {
  }
  auto primitives = Kiv::make<Kiv::NboAttrLog::In>(data, size);
  try {
    Kiv::ConnectionInSizeAnchor anchor(primitives, size ? data[0] : 0);
    for (;;) {
      (void)primitives->nextbool();
      (void)primitives->nextU16();
      (void)primitives->nextU32();
      (void)primitives->nextI32();
      (void)primitives->nextU64();
      (void)primitives->nextString();
    }
  } catch (Kiv::RangeException const&) {
  }
  return 0;
}
