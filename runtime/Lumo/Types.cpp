#include "Lumo/Types.h"

#include <ostream>

namespace Bridging {

std::ostream& operator<<(std::ostream& os, VlanId v) { return os << unsigned{v.value()}; }
std::ostream& operator<<(std::ostream& os, Fid v) { return os << unsigned{v.value()}; }

namespace Topology {

std::ostream& operator<<(std::ostream& os, PortState s) {
  switch (s) {
    case PortState::disabled: return os << "disabled";
    case PortState::discarding: return os << "discarding";
    case PortState::learning: return os << "learning";
    case PortState::forwarding: return os << "forwarding";
  }
  return os << "PortState(" << unsigned{static_cast<std::uint8_t>(s)} << ")";
}

}  // namespace Topology
}  // namespace Bridging
