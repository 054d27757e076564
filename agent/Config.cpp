#include "agent/Config.h"

#include <utility>

namespace Bridging::Orva {

void Config::NotifieeConst::onExtTapDevice(Kiv::String8) {}
void Config::NotifieeConst::onExtTapDevicekivImmediate() {}
void Config::NotifieeConst::onExtTapDevice() {}
void Config::NotifieeConst::onComplete() {}

Kiv::Ptr<Config> Config::ConfigIs(Kiv::Name name) { return Kiv::ValidPtr<Config>(Kiv::make<Config>(name)); }

Config::Config(Kiv::Name name) : AgentEntity<Config>(name) {}

Config::~Config() = default;

Kiv::String8 Config::attributeString(Kiv::AttributeId id) const {
  switch (id) {
    case extTapDeviceAttrId: return "extTapDevice";
    case completeAttrId: return "complete";
    default: return Kiv::Entity::attributeString(id);
  }
}

void Config::completeIs(bool complete) {
  if (complete_ == complete) return;
  complete_ = complete;
  kivNotify(completeAttrId, &NotifieeConst::onComplete);
}

void Config::extTapDeviceNotify(Kiv::String8 key, Kiv::Ptr<KivExtTapDevice> const&) {
  kivNotify<NotifieeConst, Kiv::String8>(extTapDeviceAttrId, &NotifieeConst::onExtTapDevice, key);
}

Config::TapDevice Config::extTapDevice(Kiv::String8 const& key) const {
  KivExtTapDevice const* m = extTapDevice_.find(key);
  return m ? m->value() : TapDevice();
}

void Config::extTapDeviceIs(Kiv::String8 key, TapDevice const& value) { kivExtTapDeviceIs(std::move(key), value); }

Kiv::Ptr<Config::KivExtTapDevice> Config::kivExtTapDeviceIs(Kiv::String8 key, TapDevice const& value) {
  Kiv::Ptr<KivExtTapDevice> m = extTapDevice_.member(key);
  if (m) {
    if (m->value() == value) return m;
    m->valueIs(value);
  } else {
    m = newExtTapDevice(key, value);
  }
  extTapDeviceNotify(key, m);
  return m;
}

Kiv::Ptr<Config::KivExtTapDevice> Config::newExtTapDevice(Kiv::String8 key, TapDevice const& value) {
  Kiv::Ptr<KivExtTapDevice> m = Kiv::make<KivExtTapDevice>(key, value);
  extTapDevice_.insert(m);
  return m;
}

Config::TapDevice Config::extTapDeviceDel(Kiv::String8 key) {
  Kiv::Ptr<KivExtTapDevice> m = extTapDevice_.remove(key);
  if (!m) return TapDevice();
  // Taken before the observers run: one of them may end this entity.
  TapDevice removed = m->value();
  extTapDeviceNotify(key, m);
  return removed;
}

void Config::extTapDeviceDelAll() {
  // The iterator counts this entity, so it stays while observers run.
  extTapDeviceIterator().deleteAll();
}

Config::ExtTapDeviceIterator Config::extTapDeviceIterator() {
  return ExtTapDeviceIterator(Kiv::Ptr<Config>(this), extTapDevice_, extTapDevice_.first());
}

Config::ExtTapDeviceIterator Config::extTapDeviceIterator(Kiv::String8 const& key) {
  return ExtTapDeviceIterator(Kiv::Ptr<Config>(this), extTapDevice_, extTapDevice_.iterator(key).ptr());
}

Config::KivExtTapDeviceIterator Config::kivExtTapDeviceIterator() {
  return KivExtTapDeviceIterator(Kiv::Ptr<Config>(this), extTapDevice_, extTapDevice_.first());
}

Kiv::Ptr<Config> configFactory(Kiv::Name name) { return Config::ConfigIs(name); }

}  // namespace Bridging::Orva

namespace Kiv {

template <>
Ptr<Bridging::Orva::Config> strepToValue<Ptr<Bridging::Orva::Config>>(String8 const& s) {
  return strepToEntity<Bridging::Orva::Config>(s);
}

}  // namespace Kiv
