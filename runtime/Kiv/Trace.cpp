#include "Kiv/Trace.h"

#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"

namespace Kiv {

std::ostream* coverageStream_ = nullptr;

namespace {

struct Configuration {
  bool enabled;
  std::uint16_t levelMask;
};

// The process-wide state of tracing. Made on first use, so handles made by
// static initializers of other libraries find it, and never destroyed, so
// handles destroyed at exit still find it.
struct Registry {
  std::multimap<String8, TraceHandle*> handles;
  std::map<String8, Configuration> configured;
  std::map<String8, std::unique_ptr<TraceHandle>> lifetime;
  TraceSink sink;  // null: the default sink
};

Registry& registry() {
  static Registry* const r = new Registry;
  return *r;
}

void defaultSink(TraceRecord const& record) { std::cerr << traceLine(record) << '\n'; }

}  // namespace

TraceHandle::TraceHandle(String8 const& name, bool enabled) : name_(name), enabled_(enabled) {
  Registry& r = registry();
  auto c = r.configured.find(name);
  if (c != r.configured.end()) {
    enabled_ = c->second.enabled;
    levelMask_ = c->second.levelMask;
  }
  update();
  r.handles.emplace(name, this);
}

TraceHandle::~TraceHandle() {
  auto range = registry().handles.equal_range(name_);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second != this) continue;
    registry().handles.erase(it);
    return;
  }
}

void TraceHandle::enabledIs(bool enabled) noexcept {
  enabled_ = enabled;
  update();
}

void TraceHandle::levelIs(int level, bool on) {
  if (level < 0 || level >= levelCount) {
    throwRangeException("trace level " + String8(std::to_string(level)) + " is outside 0 to 9");
  }
  auto const bit = static_cast<std::uint16_t>(1u << level);
  levelMaskIs(on ? (levelMask_ | bit) : (levelMask_ & ~bit));
}

void TraceHandle::levelMaskIs(std::uint16_t mask) noexcept {
  levelMask_ = mask & allLevels;
  update();
}

void TraceHandle::configure(String8 const& name, bool enabled, std::uint16_t levelMask) {
  Registry& r = registry();
  r.configured[name] = Configuration{enabled, static_cast<std::uint16_t>(levelMask & allLevels)};
  auto range = r.handles.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) {
    it->second->enabledIs(enabled);
    it->second->levelMaskIs(levelMask);
  }
}

std::vector<String8> TraceHandle::names() {
  std::vector<String8> result;
  for (auto const& h : registry().handles) {
    if (result.empty() || result.back() != h.first) result.push_back(h.first);
  }
  return result;
}

TraceHandle& traceHandle(String8 const& name) {
  auto& lifetime = registry().lifetime;
  auto it = lifetime.find(name);
  if (it == lifetime.end()) it = lifetime.emplace(name, std::make_unique<TraceHandle>(name, false)).first;
  return *it->second;
}

TraceSink traceSinkIs(TraceSink sink) {
  TraceSink previous = std::move(registry().sink);
  registry().sink = std::move(sink);
  return previous;
}

String8 traceLine(TraceRecord const& record) {
  std::ostringstream line;
  line << record.handle << '[' << record.level << "] " << record.source << ':' << record.line << ' '
       << record.function << ": " << record.text;
  return line.str();
}

void traceHelper(String8 const& handleName, char const* context, std::ostringstream& text, int level, bool enabled,
                 char const* source, int line, char const* function) {
  if (!enabled && !coverageStream_) return;
  TraceRecord record{handleName,        String8(context ? context : ""), String8(text.str()), level,
                     String8(source ? source : ""), line, String8(function ? function : "")};
  if (coverageStream_) *coverageStream_ << traceLine(record) << '\n';
  if (!enabled) return;
  // A copy, so that a sink replacing itself while it runs stays alive.
  TraceSink sink = registry().sink;
  if (sink) sink(record);
  else defaultSink(record);
}

TraceCapture::TraceCapture()
    : previous_(traceSinkIs([this](TraceRecord const& record) { records_.push_back(record); })) {}

TraceCapture::TraceCapture(String8 const& handleName, std::uint16_t levelMask) {
  Registry& r = registry();
  // What configure() is about to change: the remembered configuration of
  // the name and the state of each live handle of that name.
  auto const was = r.configured.find(handleName);
  std::optional<Configuration> configured;
  if (was != r.configured.end()) configured = was->second;
  std::vector<std::pair<TraceHandle*, Configuration>> live;
  auto range = r.handles.equal_range(handleName);
  for (auto it = range.first; it != range.second; ++it)
    live.emplace_back(it->second, Configuration{it->second->enabled(), it->second->levelMask()});
  restore_ = [handleName, configured, live] {
    Registry& r = registry();
    if (configured) r.configured[handleName] = *configured;
    else r.configured.erase(handleName);
    auto range = r.handles.equal_range(handleName);
    for (auto it = range.first; it != range.second; ++it) {
      for (auto const& [handle, state] : live) {
        if (handle != it->second) continue;
        handle->enabledIs(state.enabled);
        handle->levelMaskIs(state.levelMask);
      }
    }
  };
  TraceHandle::configure(handleName, true, levelMask);
  previous_ = traceSinkIs([this, handleName](TraceRecord const& record) {
    if (record.handle == handleName) records_.push_back(record);
    else if (previous_) previous_(record);
    else defaultSink(record);
  });
}

TraceCapture::~TraceCapture() {
  traceSinkIs(std::move(previous_));
  if (restore_) restore_();
}

}  // namespace Kiv
