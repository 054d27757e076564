#include "reflector/ReflectorTrace.h"

namespace Bridging {

Kiv::TraceHandle& reflectorTraceHandle() {
  static Kiv::TraceHandle& handle = Kiv::traceHandle("TopoStateReflector");
  return handle;
}

namespace {
// The handle is registered when the library loads, so that a host can list
// it among the handles it offers before the first trace.
[[maybe_unused]] Kiv::TraceHandle const& reflectorTraceAtLoad = reflectorTraceHandle();
}  // namespace

}  // namespace Bridging
