#pragma once
// Observers of the agent entities for the tests: each writes what it hears
// to a shared log, reading the entity's state at the time of the call, and
// runs an optional hook so that a test can make it hostile (throw, release
// or register observers, call mutators).
//
// Entries: "tag:id=value" for a change of attribute id, "tag:5" for
// onZeroReferences(), "tag!id" for onNotificationException(id).
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/StreamAdapter.h"
#include "Kiv/Ptr.h"
#include "agent/Config.h"
#include "agent/Status.h"

namespace agent_test {

using Log = std::vector<std::string>;

template <class E>
struct Watcher : E::Notifiee {
  Watcher(Log* log, std::string tag) : log(log), tag(std::move(tag)) {}
  void heard(std::string const& what) {
    log->push_back(tag + ":" + what);
    if (hook) hook();
  }
  void onIsNondestructing() override { heard("6=" + std::to_string(this->notifier()->isNondestructing())); }
  void onZeroReferences() override { heard("5"); }
  void onNotificationException(Kiv::AttributeId id) override {
    log->push_back(tag + "!" + std::to_string(id));
    if (exceptionHook) exceptionHook();
  }
  Log* log;
  std::string tag;
  std::function<void()> hook;
  std::function<void()> exceptionHook;
};

struct ConfigWatcher : Watcher<Bridging::Orva::Config> {
  using Watcher::Watcher;
  void onExtTapDevice(Kiv::String8 key) override {
    auto const v = notifier()->extTapDevice(key);
    heard("258=" + key.stdString() + "/" + v.name().stdString() + "/" + std::to_string(v.fileno()));
  }
  void onComplete() override { heard("259=" + std::to_string(notifier()->complete())); }
};

struct StatusWatcher : Watcher<Bridging::Orva::Status> {
  using Watcher::Watcher;
  void onInitialized() override { heard("258=" + std::to_string(notifier()->initialized())); }
  void onFabricDeviceName() override { heard("259=" + notifier()->fabricDeviceName().stdString()); }
};

// The reactor type that the notifiee list links at the front.
struct FakeStreamAdapter : Kiv::Entity::KivNboAttrLogSa {
  FakeStreamAdapter() : Kiv::Entity::KivNboAttrLogSa(defaultBits(), 0, nullptr, nullptr) {}
};

// An observer acting for an attribute-log stream adapter.
template <class W>
struct StreamAdapterWatcher : W {
  using W::W;
  Kiv::PtrInterface* kivRawReactor() const override { return adapter.ptr(); }
  Kiv::Ptr<FakeStreamAdapter> adapter = Kiv::make<FakeStreamAdapter>();
};

template <class W, class E>
Kiv::Ptr<W> watch(Kiv::Ptr<E> const& entity, Log* log, std::string tag) {
  auto w = Kiv::make<W>(log, std::move(tag));
  w->notifierIs(entity);
  return w;
}

}  // namespace agent_test
