#include "Pyrel/EthAddr.h"

#include <ostream>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/Hash.h"

namespace Pyrel {

namespace {

// Reads the twelve hex digits of an address written as `groups` groups of
// `digits` digits joined by `separator`; false unless `text` is exactly
// that.
bool parseGroups(Kiv::String8 const& text, std::size_t groups, std::size_t digits, char separator,
                 EthAddr::Bytes& out) {
  if (text.size() != groups * digits + groups - 1) return false;
  EthAddr::Bytes bytes{};
  std::size_t pos = 0, nibble = 0;
  for (std::size_t g = 0; g < groups; ++g) {
    if (g > 0 && text[pos++] != static_cast<unsigned char>(separator)) return false;
    for (std::size_t d = 0; d < digits; ++d, ++nibble) {
      int const v = Kiv::hexDigitValue(text[pos++]);
      if (v < 0) return false;
      bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 ? v : v << 4));
    }
  }
  out = bytes;
  return true;
}

bool parseText(Kiv::String8 const& text, EthAddr::Bytes& out) {
  return parseGroups(text, 6, 2, ':', out) || parseGroups(text, 3, 4, '.', out);
}

Kiv::String8 badAddress(Kiv::String8 const& text) { return "bad Ethernet address " + Kiv::valueToStrep(text); }

}  // namespace

EthAddr::EthAddr(std::uint64_t value) : bytes_{} {
  if (value >> 48) {
    Kiv::throwRangeException(
        Kiv::format("Ethernet address out of range: %llu", static_cast<unsigned long long>(value)));
  }
  for (std::size_t i = 0; i < 6; ++i) bytes_[i] = static_cast<std::uint8_t>(value >> (8 * (5 - i)));
}

EthAddr::EthAddr(Kiv::String8 const& text) : bytes_{} {
  if (!parseText(text, bytes_)) Kiv::throwRangeException(badAddress(text));
}

std::uint64_t EthAddr::value() const noexcept {
  std::uint64_t v = 0;
  for (std::uint8_t b : bytes_) v = (v << 8) | b;
  return v;
}

Kiv::String8 EthAddr::stringValue() const {
  static char const hex[] = "0123456789abcdef";
  char text[17];
  for (std::size_t i = 0; i < 6; ++i) {
    text[3 * i] = hex[bytes_[i] >> 4];
    text[3 * i + 1] = hex[bytes_[i] & 0xf];
    if (i < 5) text[3 * i + 2] = ':';
  }
  return Kiv::String8(text, sizeof text);
}

std::uint32_t EthAddr::hash() const noexcept { return Kiv::hashBytes(bytes_.data(), bytes_.size()); }

std::ostream& operator<<(std::ostream& os, EthAddr const& v) { return os << v.stringValue(); }

Kiv::Ptr<Kiv::KivType> EthAddr::_fwkType() {
  // Type objects are nondestructing and live for the whole process.
  static Kiv::Ptr<Kiv::KivType> const type = Kiv::make<Kiv::BuiltinType<EthAddr>>("Pyrel::EthAddr", nullptr);
  return type;
}

Kiv::String8 valueToStrep(EthAddr const& v) { return Kiv::valueToStrep(v.stringValue()); }

EthAddr sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, EthAddr*) {
  // Read on a copy, so that text that is no address leaves `it` in place.
  Kiv::String8::IteratorConst at = it;
  Kiv::String8 const text = Kiv::sequenceToValue<Kiv::String8>(at, end);
  EthAddr::Bytes bytes;
  if (!parseText(text, bytes)) {
    Kiv::throwRangeException(badAddress(text) +
                             Kiv::format(" at column %lld", static_cast<long long>(it.position())));
  }
  it = at;
  return EthAddr(bytes);
}

}  // namespace Pyrel

namespace Kiv {

template <>
Pyrel::EthAddr strepToValue<Pyrel::EthAddr>(String8 const& s) {
  return parseWholeStrep<Pyrel::EthAddr>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    return sequenceToValue<Pyrel::EthAddr>(it, end);
  });
}

}  // namespace Kiv
