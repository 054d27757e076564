#pragma once
// Tracing of the runtime and of the libraries built on it.
//
// A Kiv::TraceHandle is a named switch: an enabled flag and a set of
// enabled levels 0 to 9. Code traces through a handle with KIV_TRACE; a
// record is built only when the handle is enabled and the record's level is
// enabled in it, or when the coverage stream is set. A disabled trace costs
// two flag tests and builds no text, so traces may stay in hot paths.
//
// Records go to one process-wide sink. The default sink writes one line per
// record to standard error; a host or a test replaces it with traceSinkIs()
// or, for the length of a scope, with a TraceCapture.
//
// Handles register by name in a process-wide registry, so that a host can
// configure them by name before or after the code that owns them exists:
//
//   Kiv::TraceHandle::configure("TopoStateReflector", true, 0x0180); // 7, 8
//   Kiv::TraceCapture capture;   // or both at once:
//                                // Kiv::TraceCapture capture("TopoStateReflector", 0x0180);
//   KIV_TRACE_SRC(Kiv::traceHandle("TopoStateReflector"), "TopoStateReflector",
//                 7, "handleState", "Scheduling state update for port " << id);
//   // capture.records()[0].text == "Scheduling state update for port ..."
//
// Everything runs on the one activity thread; nothing here locks.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <sstream>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/String8.h"

namespace Kiv {

class KIV_API TraceHandle {
 public:
  static constexpr int levelCount = 10;
  static constexpr std::uint16_t allLevels = (1u << levelCount) - 1;

  // Registers the handle under `name`. A configuration given earlier with
  // configure() for that name overrides `enabled` and the level set; without
  // one the handle starts with `enabled` and every level on, so that the
  // enabled flag alone switches a handle.
  TraceHandle(String8 const& name, bool enabled);
  ~TraceHandle();
  TraceHandle(TraceHandle const&) = delete;
  TraceHandle& operator=(TraceHandle const&) = delete;

  String8 const& name() const noexcept { return name_; }
  bool enabled() const noexcept { return enabled_; }
  std::uint16_t levelMask() const noexcept { return levelMask_; }

  void enabledIs(bool enabled) noexcept;
  // Throws a range exception for a level outside 0 to 9.
  void levelIs(int level, bool on);
  // Bit L stands for level L; bits above level 9 are ignored.
  void levelMaskIs(std::uint16_t mask) noexcept;

  // Whether a record at `level` is emitted: one test of the precomputed
  // active mask (the level mask while enabled, else 0). The range test
  // folds away for the constant levels that traces use.
  bool levelEnabled(int level) const noexcept {
    return static_cast<unsigned>(level) < static_cast<unsigned>(levelCount) && ((active_ >> level) & 1u);
  }

  // Applies to every live handle named `name` and is remembered for handles
  // of that name made later.
  static void configure(String8 const& name, bool enabled, std::uint16_t levelMask);
  // The names of the live handles, sorted, each once: what a host can offer
  // its user to configure.
  static std::vector<String8> names();

 private:
  void update() noexcept { active_ = enabled_ ? levelMask_ : 0; }

  String8 name_;
  bool enabled_;
  std::uint16_t levelMask_ = allLevels;
  std::uint16_t active_ = 0;
};

// The handle named `name` that lives for the rest of the process, made
// disabled on first use.
KIV_API TraceHandle& traceHandle(String8 const& name);

struct TraceRecord {
  String8 handle;
  String8 context;
  String8 text;
  int level = 0;
  String8 source;
  int line = 0;
  String8 function;
};

using TraceSink = std::function<void(TraceRecord const&)>;

// Replaces the process-wide sink and returns the previous one. A null sink
// stands for the default sink, so a returned null restores it.
KIV_API TraceSink traceSinkIs(TraceSink sink);

// The one-line form of a record that the default sink and the coverage
// stream write: "handle[level] source:line function: text".
KIV_API String8 traceLine(TraceRecord const& record);

// When set, every trace that is reached writes its line here, whether or
// not its handle and level are enabled. Null by default.
extern KIV_API std::ostream* coverageStream_;

// Emits one record: to the sink if `enabled`, and to the coverage stream if
// that is set. Called by the trace macros.
KIV_API void traceHelper(String8 const& handleName, char const* context, std::ostringstream& text, int level,
                         bool enabled, char const* source, int line, char const* function);

// Collects records instead of the current sink while it lives, and restores
// that sink when it goes. Captures nest.
//
// Given a handle name, a capture also switches that handle on for the
// levels of `levelMask` (as configure() does), collects only its records,
// passing the others on to the sink it replaced, and puts the handle's
// configuration back when it goes: one step to watch one handle.
//
//   Kiv::TraceCapture capture("TopoStateReflector", 0x0180);  // levels 7, 8
class KIV_API TraceCapture {
 public:
  TraceCapture();
  explicit TraceCapture(String8 const& handleName, std::uint16_t levelMask = TraceHandle::allLevels);
  ~TraceCapture();
  TraceCapture(TraceCapture const&) = delete;
  TraceCapture& operator=(TraceCapture const&) = delete;

  std::vector<TraceRecord> const& records() const noexcept { return records_; }
  void clear() noexcept { records_.clear(); }

 private:
  std::vector<TraceRecord> records_;
  TraceSink previous_;
  std::function<void()> restore_;  // puts a watched handle's configuration back
};

}  // namespace Kiv

// Traces `...` (a chain of stream operands, `"port " << id`) through
// `handle` at `level` from `function`, naming `source` as the source. The
// handle and the level are evaluated once; the operands only when the
// record is built.
#define KIV_TRACE_SRC(handle, source, level, function, ...)                                             \
  do {                                                                                                  \
    ::Kiv::TraceHandle const& kivTraceHandle_ = (handle);                                               \
    int const kivTraceLevel_ = (level);                                                                 \
    if (kivTraceHandle_.levelEnabled(kivTraceLevel_) || ::Kiv::coverageStream_) {                       \
      std::ostringstream kivTraceText_;                                                                 \
      kivTraceText_.precision(12);                                                                      \
      kivTraceText_ << __VA_ARGS__;                                                                     \
      ::Kiv::traceHelper(kivTraceHandle_.name(), "<unknown>", kivTraceText_, kivTraceLevel_,            \
                         kivTraceHandle_.levelEnabled(kivTraceLevel_), (source), __LINE__, (function)); \
    }                                                                                                   \
  } while (0)

// As KIV_TRACE_SRC, with the source file as the source name.
#define KIV_TRACE(handle, level, function, ...) KIV_TRACE_SRC(handle, __FILE__, level, function, __VA_ARGS__)
