#include "reflector/ReflectorTrace.h"

namespace Bridging {

Kiv::TraceHandle& reflectorTraceHandle() {
  static Kiv::TraceHandle& handle = Kiv::traceHandle("TopoStateReflector");
  return handle;
}

}  // namespace Bridging
