#pragma once
// Pyrel::EthAddr is a 48-bit Ethernet (MAC) address, a plain value that
// address tables are keyed by: hashable, ordered by its bytes, printable.
// The default is 00:00:00:00:00:00.
//
// It prints as six lower-case hex pairs, "00:1c:73:00:00:01". Text is read
// in that form (either case) or as three groups of four hex digits,
// "001c.7300.0001"; anything else throws Kiv::RangeException naming the
// text. Its text form (Kiv/Strep.h) is the printed form, quoted.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

namespace Pyrel {

class PYREL_API EthAddr {
 public:
  using Bytes = std::array<std::uint8_t, 6>;

  EthAddr() noexcept : bytes_{} {}
  explicit EthAddr(Bytes const& bytes) noexcept : bytes_(bytes) {}
  // The low 48 bits, most significant byte first; a value of 2^48 or more
  // throws Kiv::RangeException rather than lose its high bits.
  explicit EthAddr(std::uint64_t value);
  // Parses "xx:xx:xx:xx:xx:xx" or "xxxx.xxxx.xxxx".
  explicit EthAddr(Kiv::String8 const& text);

  Bytes const& bytes() const noexcept { return bytes_; }
  std::uint8_t operator[](std::size_t i) const noexcept { return bytes_[i]; }
  // The address as a 48-bit number, first byte most significant.
  std::uint64_t value() const noexcept;
  // "00:1c:73:00:00:01".
  Kiv::String8 stringValue() const;
  // A fixed function of the six bytes, the same on every platform.
  std::uint32_t hash() const noexcept;

  // The process-lifetime type object "Pyrel::EthAddr".
  static Kiv::Ptr<Kiv::KivType> _fwkType();

  friend bool operator==(EthAddr const& a, EthAddr const& b) noexcept { return a.bytes_ == b.bytes_; }
  friend bool operator!=(EthAddr const& a, EthAddr const& b) noexcept { return a.bytes_ != b.bytes_; }
  friend bool operator<(EthAddr const& a, EthAddr const& b) noexcept { return a.bytes_ < b.bytes_; }

 private:
  Bytes bytes_;
};

// Writes "00:1c:73:00:00:01".
PYREL_API std::ostream& operator<<(std::ostream& os, EthAddr const& v);

// Text form: the printed form as a quoted string. The reader takes a quoted
// string and parses it as an address; a string that is not one throws,
// leaving `it` where it was.
PYREL_API Kiv::String8 valueToStrep(EthAddr const& v);
PYREL_API EthAddr sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end,
                                  EthAddr*);

}  // namespace Pyrel

namespace Kiv {
// As for IntfId: Kiv::valueToStrep(addr) works, and so does lookup by
// argument.
using Pyrel::sequenceToValue;
using Pyrel::valueToStrep;

template <>
PYREL_API Pyrel::EthAddr strepToValue<Pyrel::EthAddr>(String8 const& s);
}  // namespace Kiv
