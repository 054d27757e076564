#include "Lumo/Types.h"

#include <cstddef>
#include <ostream>
#include <sstream>

#include "Kiv/Exception.h"

namespace Bridging {

namespace {

char const* const portStateNames[] = {"disabled", "discarding", "learning", "forwarding"};

template <class N>
N readNumber16(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end) {
  Kiv::String8::IteratorConst const start = it;
  unsigned long long const v = Kiv::sequenceToValue<unsigned long long>(it, end);
  if (v > 0xFFFFu) {
    it = start;
    Kiv::throwRangeException("number " + Kiv::valueToStrep(v) + " is beyond 65535");
  }
  return N(static_cast<std::uint16_t>(v));
}

}  // namespace

std::ostream& operator<<(std::ostream& os, VlanId v) { return os << unsigned{v.value()}; }
std::ostream& operator<<(std::ostream& os, Fid v) { return os << unsigned{v.value()}; }

Kiv::String8 valueToStrep(VlanId v) { return Kiv::valueToStrep(v.value()); }
Kiv::String8 valueToStrep(Fid v) { return Kiv::valueToStrep(v.value()); }

VlanId sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, VlanId*) {
  return readNumber16<VlanId>(it, end);
}
Fid sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, Fid*) {
  return readNumber16<Fid>(it, end);
}

namespace Topology {

std::ostream& operator<<(std::ostream& os, PortState s) {
  auto const i = static_cast<std::size_t>(s);
  if (i < 4) return os << portStateNames[i];
  return os << "PortState(" << unsigned{static_cast<std::uint8_t>(s)} << ")";
}

PortState portStateNamed(Kiv::String8 const& name) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (name == portStateNames[i]) return static_cast<PortState>(i);
  }
  Kiv::throwRangeException("no port state " + Kiv::valueToStrep(name) +
                           " (disabled, discarding, learning or forwarding)");
}

Kiv::String8 valueToStrep(PortState s) {
  std::ostringstream os;
  os << s;
  return Kiv::valueToStrep(Kiv::String8(os.str()));
}

PortState sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, PortState*) {
  Kiv::String8::IteratorConst const start = it;
  Kiv::String8 const name = Kiv::sequenceToValue<Kiv::String8>(it, end);
  try {
    return portStateNamed(name);
  } catch (...) {
    it = start;
    throw;
  }
}

}  // namespace Topology
}  // namespace Bridging

namespace Kiv {

template <>
Bridging::VlanId strepToValue<Bridging::VlanId>(String8 const& s) {
  return parseWholeStrep<Bridging::VlanId>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    return sequenceToValue<Bridging::VlanId>(it, end);
  });
}

template <>
Bridging::Fid strepToValue<Bridging::Fid>(String8 const& s) {
  return parseWholeStrep<Bridging::Fid>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    return sequenceToValue<Bridging::Fid>(it, end);
  });
}

template <>
Bridging::Topology::PortState strepToValue<Bridging::Topology::PortState>(String8 const& s) {
  return parseWholeStrep<Bridging::Topology::PortState>(
      s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
        return sequenceToValue<Bridging::Topology::PortState>(it, end);
      });
}

}  // namespace Kiv
