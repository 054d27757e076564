#pragma once
// The small value types of the bridging model.
//
// Bridging::VlanId and Bridging::Fid are 16-bit numbers with types of their
// own, so that a VLAN id is never passed where a forwarding database id is
// meant. A VLAN's forwarding database status is kept under the Fid of equal
// value: `Bridging::Fid(vlan.value())`. Both hash as their value and print
// as decimal numbers.
//
// Bridging::Topology::PortState is the spanning-tree state of a port in a
// topology.
#include <cstdint>
#include <iosfwd>

#include "Kiv/Export.h"
#include "Kiv/Hash.h"

namespace Bridging {

namespace detail {

// The shape shared by VlanId and Fid. Each derives from its own instance,
// so a VlanId never compares with or converts to a Fid.
template <class Derived>
class Number16 {
 public:
  constexpr Number16() noexcept = default;
  constexpr explicit Number16(std::uint16_t v) noexcept : v_(v) {}

  constexpr std::uint16_t value() const noexcept { return v_; }
  constexpr std::uint32_t hash() const noexcept { return Kiv::hashU32(v_); }

  friend constexpr bool operator==(Derived a, Derived b) noexcept { return a.v_ == b.v_; }
  friend constexpr bool operator!=(Derived a, Derived b) noexcept { return a.v_ != b.v_; }
  friend constexpr bool operator<(Derived a, Derived b) noexcept { return a.v_ < b.v_; }

 private:
  std::uint16_t v_ = 0;
};

}  // namespace detail

// A VLAN id (802.1Q). Any 16-bit value is kept as it is.
class VlanId : public detail::Number16<VlanId> {
 public:
  using Number16::Number16;
};

// The id of a forwarding database.
class Fid : public detail::Number16<Fid> {
 public:
  using Number16::Number16;
};

// Prints the decimal number.
LUMO_API std::ostream& operator<<(std::ostream& os, VlanId v);
LUMO_API std::ostream& operator<<(std::ostream& os, Fid v);

namespace Topology {

enum class PortState : std::uint8_t { disabled, discarding, learning, forwarding };

// Prints "disabled", "discarding", "learning" or "forwarding"; a value
// outside the enumeration prints as "PortState(n)".
LUMO_API std::ostream& operator<<(std::ostream& os, PortState s);

}  // namespace Topology
}  // namespace Bridging
