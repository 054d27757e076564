#pragma once
// Trace records of the reflector tree. Every record goes through the trace
// handle "TopoStateReflector" with the source name "TopoStateReflector" and
// the handler's short name as its function. Levels: 8 for the entry of every
// handler (its full signature as text), 7 for actions, 3 for each deleted
// learned host.
#include "Kiv/Trace.h"

namespace Bridging {

// The handle, created on first use and kept for the process lifetime.
Kiv::TraceHandle& reflectorTraceHandle();

}  // namespace Bridging

#define REFLECTOR_TRACE(level, function, ...) \
  KIV_TRACE_SRC(::Bridging::reflectorTraceHandle(), "TopoStateReflector", level, function, __VA_ARGS__)
