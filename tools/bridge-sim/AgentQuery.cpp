#include "AgentQuery.h"

#include <cstdio>

#include "BadInput.h"
#include "Kiv/Hash.h"
#include "Kiv/Strep.h"
#include "Tokens.h"

namespace BridgeSim {

using Bridging::Orva::Config;
using Bridging::Orva::Status;
using Change = std::function<void(Config&, Status&)>;

namespace {

std::string text(Kiv::String8 const& s) { return Kiv::valueToStrep(s).stdString(); }
std::string text(bool b) { return Kiv::valueToStrep(b).stdString(); }

bool tapPresent(Config const& c, Kiv::String8 const& key) {
  for (auto it = c.extTapDeviceIteratorConst(); it; ++it) {
    if (it->key() == key) return true;
  }
  return false;
}

std::string hex(std::uint32_t h) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(h));
  return buf;
}

std::uint32_t hashOf(std::string const& s) { return Kiv::hashBytes(s.data(), s.size()); }

// The whole agent model in one short line: equal on both sides once the
// mirror holds every value. Tap devices add up their hashes, so the map's
// order does not matter.
std::string modelSummary(Config const* config, Status const* status) {
  if (!config || !status) return "nothing mirrored";
  std::uint32_t taps = 0;
  for (auto it = config->extTapDeviceIteratorConst(); it; ++it) {
    taps += hashOf(text(it->key()) + Bridging::Orva::valueToStrep(it->value()).stdString());
  }
  std::string const name = status->fabricDeviceName().stdString();
  return std::to_string(config->extTapDevices()) + " tap devices (hash " + hex(taps) + "), complete " +
         text(config->complete()) + ", initialized " + text(status->initialized()) + ", fabric-device-name of " +
         std::to_string(name.size()) + " bytes (hash " + hex(hashOf(name)) + ")";
}

}  // namespace

bool agentChangeVerb(std::string const& verb) {
  return verb == "tap" || verb == "tap-del" || verb == "complete" || verb == "initialized" ||
         verb == "fabric-device-name";
}

Change agentChange(std::string const& verb, Tokens& tokens) {
  if (verb == "tap") {
    Kiv::String8 const key = tokens.string("a tap device key");
    auto const value = tokens.tapDevice();
    return [key, value](Config& c, Status&) { c.extTapDeviceIs(key, value); };
  }
  if (verb == "tap-del") {
    Kiv::String8 const key = tokens.string("a tap device key");
    return [key](Config& c, Status&) {
      if (!tapPresent(c, key)) throw BadInput("no tap device " + text(key));
      c.extTapDeviceDel(key);
    };
  }
  if (verb == "complete") {
    bool const v = tokens.boolean("complete");
    return [v](Config& c, Status&) { c.completeIs(v); };
  }
  if (verb == "initialized") {
    bool const v = tokens.boolean("initialized");
    return [v](Config&, Status& s) { s.initializedIs(v); };
  }
  if (verb == "fabric-device-name") {
    Kiv::String8 const v = tokens.string("a fabric device name");
    return [v](Config&, Status& s) { s.fabricDeviceNameIs(v); };
  }
  throw BadInput("unknown agent change '" + verb + "'");
}

std::string agentQuery(Tokens& tokens) {
  std::string const what = tokens.word("tap, taps, complete, initialized or fabric-device-name");
  if (what == "tap") return "tap " + text(tokens.string("a tap device key"));
  if (what == "taps" || what == "complete" || what == "initialized" || what == "fabric-device-name") return what;
  throw BadInput("unknown agent value '" + what + "' (tap, taps, complete, initialized or fabric-device-name)");
}

std::string agentExpected(std::string const& query, Tokens& tokens) {
  if (query.rfind("tap ", 0) == 0) {
    if (tokens.accept("absent")) return "absent";
    return Bridging::Orva::valueToStrep(tokens.tapDevice()).stdString();
  }
  if (query == "taps") return std::to_string(tokens.number("a number of tap devices", 0xFFFFFFFFu));
  if (query == "fabric-device-name") return text(tokens.string("a fabric device name"));
  return text(tokens.boolean(query.c_str()));
}

std::string agentValue(Config const* config, Status const* status, std::string const& query) {
  if (query.rfind("tap ", 0) == 0) {
    if (!config) return "absent";
    Tokens t(query.substr(4));
    Kiv::String8 const key = t.string("a tap device key");
    for (auto it = config->extTapDeviceIteratorConst(); it; ++it) {
      if (it->key() == key) return Bridging::Orva::valueToStrep(it->value()).stdString();
    }
    return "absent";
  }
  if (query == "taps") return std::to_string(config ? config->extTapDevices() : 0u);
  if (query == "model") return modelSummary(config, status);
  if (query == "complete") return config ? text(config->complete()) : "absent";
  if (query == "initialized") return status ? text(status->initialized()) : "absent";
  if (query == "fabric-device-name") return status ? text(status->fabricDeviceName()) : "absent";
  throw BadInput("unknown agent value '" + query + "'");
}

struct AgentWatch::ConfigWatch : Config::Notifiee {
  explicit ConfigWatch(AgentWatch* w) : owner(w) {}
  void onExtTapDevice(Kiv::String8 key) override {
    auto const c = notifier();
    owner->print_("tap " + text(key) + (tapPresent(*c, key) ? " = " + Bridging::Orva::valueToStrep(c->extTapDevice(key)).stdString()
                                                : std::string(" removed")));
  }
  void onComplete() override { owner->print_("complete = " + text(notifier()->complete())); }
  AgentWatch* owner;  // non-owning: the watch that made it outlives it
};

struct AgentWatch::StatusWatch : Status::Notifiee {
  explicit StatusWatch(AgentWatch* w) : owner(w) {}
  void onInitialized() override { owner->print_("initialized = " + text(notifier()->initialized())); }
  void onFabricDeviceName() override {
    owner->print_("fabric-device-name = " + text(notifier()->fabricDeviceName()));
  }
  AgentWatch* owner;  // non-owning, as above
};

AgentWatch::AgentWatch(std::function<void(std::string const&)> print)
    : print_(std::move(print)), config_(Kiv::make<ConfigWatch>(this)), status_(Kiv::make<StatusWatch>(this)) {}

AgentWatch::~AgentWatch() {
  config_->notifierIs(nullptr);
  status_->notifierIs(nullptr);
}

void AgentWatch::watch(Kiv::Ptr<Kiv::Entity> const& entity) {
  if (auto c = Kiv::Ptr<Config>(dynamic_cast<Config*>(entity.ptr()))) config_->notifierIs(c);
  if (auto s = Kiv::Ptr<Status>(dynamic_cast<Status*>(entity.ptr()))) status_->notifierIs(s);
}

}  // namespace BridgeSim
