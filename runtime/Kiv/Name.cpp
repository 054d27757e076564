#include "Kiv/Name.h"

#include <ostream>

namespace Kiv {

std::ostream& operator<<(std::ostream& os, Name const& n) { return os << n.string(); }

}  // namespace Kiv
