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
//
// Text forms (Kiv/Strep.h): a VLAN id and a forwarding database id are
// their decimal number (10); a port state is its name as a quoted string
// ('forwarding'). The readers take what the writers write.
#include <cstdint>
#include <iosfwd>

#include "Kiv/Export.h"
#include "Kiv/Hash.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

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
  // The process-lifetime type object "Bridging::VlanId".
  LUMO_API static Kiv::Ptr<Kiv::KivType> _fwkType();
};

// The id of a forwarding database.
class Fid : public detail::Number16<Fid> {
 public:
  using Number16::Number16;
  // The process-lifetime type object "Bridging::Fid".
  LUMO_API static Kiv::Ptr<Kiv::KivType> _fwkType();
};

// Prints the decimal number.
LUMO_API std::ostream& operator<<(std::ostream& os, VlanId v);
LUMO_API std::ostream& operator<<(std::ostream& os, Fid v);

LUMO_API Kiv::String8 valueToStrep(VlanId v);
LUMO_API Kiv::String8 valueToStrep(Fid v);
// A decimal number from 0 to 65535.
LUMO_API VlanId sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, VlanId*);
LUMO_API Fid sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, Fid*);

namespace Topology {

enum class PortState : std::uint8_t { disabled, discarding, learning, forwarding };

// Prints "disabled", "discarding", "learning" or "forwarding"; a value
// outside the enumeration prints as "PortState(n)".
LUMO_API std::ostream& operator<<(std::ostream& os, PortState s);

// The state named `name` ("forwarding"); any other text throws
// Kiv::RangeException "no port state '<name>' (disabled, discarding,
// learning or forwarding)".
LUMO_API PortState portStateNamed(Kiv::String8 const& name);
LUMO_API Kiv::String8 valueToStrep(PortState s);
// A quoted string that names a state.
LUMO_API PortState sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, PortState*);

}  // namespace Topology
}  // namespace Bridging

namespace Kiv {
template <>
LUMO_API Bridging::VlanId strepToValue<Bridging::VlanId>(String8 const& s);
template <>
LUMO_API Bridging::Fid strepToValue<Bridging::Fid>(String8 const& s);
template <>
LUMO_API Bridging::Topology::PortState strepToValue<Bridging::Topology::PortState>(String8 const& s);
}  // namespace Kiv
