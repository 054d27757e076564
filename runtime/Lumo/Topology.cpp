#include "Lumo/Topology.h"

namespace Bridging::Topology {

// TopoPortConfig

void TopoPortConfig::NotifieeConst::onState() {}
void TopoPortConfig::NotifieeConst::onFdbFlush() {}
void TopoPortConfig::NotifieeConst::onLowerAgingTime() {}

TopoPortConfig::TopoPortConfig(Pyrel::IntfId const& intfId) : Kiv::Entity(intfId.stringValue()), intfId_(intfId) {}
TopoPortConfig::~TopoPortConfig() = default;

Kiv::Ptr<Kiv::KivType> TopoPortConfig::fwkType() const { return _fwkType(); }

Kiv::String8 TopoPortConfig::attributeString(Kiv::AttributeId id) const {
  switch (id) {
    case stateAttrId: return "state";
    case fdbFlushAttrId: return "fdbFlush";
    case lowerAgingTimeAttrId: return "lowerAgingTime";
    default: return Kiv::Entity::attributeString(id);
  }
}

void TopoPortConfig::stateIs(PortState state) {
  if (state_ == state) return;
  state_ = state;
  kivNotify(stateAttrId, &NotifieeConst::onState);
}

void TopoPortConfig::fdbFlushIs(std::uint32_t fdbFlush) {
  if (fdbFlush_ == fdbFlush) return;
  fdbFlush_ = fdbFlush;
  kivNotify(fdbFlushAttrId, &NotifieeConst::onFdbFlush);
}

void TopoPortConfig::lowerAgingTimeIs(bool lowerAgingTime) {
  if (lowerAgingTime_ == lowerAgingTime) return;
  lowerAgingTime_ = lowerAgingTime;
  kivNotify(lowerAgingTimeAttrId, &NotifieeConst::onLowerAgingTime);
}

// TopoConfig

void TopoConfig::NotifieeConst::onTopoPortConfig(Pyrel::IntfId) {}
void TopoConfig::NotifieeConst::onTopoPortConfigkivImmediate() {}
void TopoConfig::NotifieeConst::onTopoPortConfig() {}

TopoConfig::TopoConfig(Kiv::Name const& name) : Kiv::Entity(name), topoPortConfig_(this, topoPortConfigAttrId) {}
TopoConfig::~TopoConfig() = default;

Kiv::Ptr<Kiv::KivType> TopoConfig::fwkType() const { return _fwkType(); }

Kiv::String8 TopoConfig::attributeString(Kiv::AttributeId id) const {
  return id == topoPortConfigAttrId ? Kiv::String8("topoPortConfig") : Kiv::Entity::attributeString(id);
}

void TopoConfig::topoPortConfigNotify(Pyrel::IntfId intfId, Kiv::Ptr<TopoPortConfig> const& member) {
  topoPortConfig_.released(member);
  kivNotify<NotifieeConst, Pyrel::IntfId>(topoPortConfigAttrId, &NotifieeConst::onTopoPortConfig, intfId);
}

// Config

void Config::NotifieeConst::onTopoConfig(Kiv::Name) {}
void Config::NotifieeConst::onTopoConfigkivImmediate() {}
void Config::NotifieeConst::onTopoConfig() {}
void Config::NotifieeConst::onVidToTopoMap(VlanId) {}
void Config::NotifieeConst::onVidToTopoMapkivImmediate() {}
void Config::NotifieeConst::onVidToTopoMap() {}

Kiv::Ptr<Config> Config::ConfigIs(Kiv::Name const& name) { return Kiv::make<Config>(name); }

Config::Config(Kiv::Name const& name)
    : Kiv::Entity(name), topoConfig_(this, topoConfigAttrId), vidToTopoMap_(this) {}
Config::~Config() = default;

Kiv::Ptr<Kiv::KivType> Config::fwkType() const { return _fwkType(); }

Kiv::String8 Config::attributeString(Kiv::AttributeId id) const {
  switch (id) {
    case topoConfigAttrId: return "topoConfig";
    case vidToTopoMapAttrId: return "vidToTopoMap";
    default: return Kiv::Entity::attributeString(id);
  }
}

void Config::topoConfigNotify(Kiv::Name name, Kiv::Ptr<TopoConfig> const& member) {
  topoConfig_.released(member);
  kivNotify<NotifieeConst, Kiv::Name>(topoConfigAttrId, &NotifieeConst::onTopoConfig, name);
}

void Config::vidToTopoMapNotify(VlanId vid, Kiv::Ptr<VidToTopoMapEntry> const&) {
  kivNotify<NotifieeConst, VlanId>(vidToTopoMapAttrId, &NotifieeConst::onVidToTopoMap, vid);
}

// TopoPortStatus

void TopoPortStatus::NotifieeConst::onState() {}
void TopoPortStatus::NotifieeConst::onFdbFlushReport() {}

TopoPortStatus::TopoPortStatus(Pyrel::IntfId const& intfId) : Kiv::Entity(intfId.stringValue()), intfId_(intfId) {}
TopoPortStatus::~TopoPortStatus() = default;

Kiv::Ptr<Kiv::KivType> TopoPortStatus::fwkType() const { return _fwkType(); }

Kiv::String8 TopoPortStatus::attributeString(Kiv::AttributeId id) const {
  switch (id) {
    case stateAttrId: return "state";
    case fdbFlushReportAttrId: return "fdbFlushReport";
    default: return Kiv::Entity::attributeString(id);
  }
}

void TopoPortStatus::stateIs(PortState state) {
  if (state_ == state) return;
  state_ = state;
  kivNotify(stateAttrId, &NotifieeConst::onState);
}

void TopoPortStatus::fdbFlushReportIs(unsigned int fdbFlushReport) {
  if (fdbFlushReport_ == fdbFlushReport) return;
  fdbFlushReport_ = fdbFlushReport;
  kivNotify(fdbFlushReportAttrId, &NotifieeConst::onFdbFlushReport);
}

namespace Inst {

// TopoStatus

void TopoStatus::NotifieeConst::onTopoPortStatus(Pyrel::IntfId) {}
void TopoStatus::NotifieeConst::onTopoPortStatuskivImmediate() {}
void TopoStatus::NotifieeConst::onTopoPortStatus() {}

TopoStatus::TopoStatus(Kiv::Name const& name) : Kiv::Entity(name), topoPortStatus_(this, topoPortStatusAttrId) {}
TopoStatus::~TopoStatus() = default;

Kiv::Ptr<Kiv::KivType> TopoStatus::fwkType() const { return _fwkType(); }

Kiv::String8 TopoStatus::attributeString(Kiv::AttributeId id) const {
  return id == topoPortStatusAttrId ? Kiv::String8("topoPortStatus") : Kiv::Entity::attributeString(id);
}

void TopoStatus::topoPortStatusNotify(Pyrel::IntfId intfId, Kiv::Ptr<TopoPortStatus> const& member) {
  topoPortStatus_.released(member);
  kivNotify<NotifieeConst, Pyrel::IntfId>(topoPortStatusAttrId, &NotifieeConst::onTopoPortStatus, intfId);
}

// Status

void Status::NotifieeConst::onTopoStatus(Kiv::Name) {}
void Status::NotifieeConst::onTopoStatuskivImmediate() {}
void Status::NotifieeConst::onTopoStatus() {}

Kiv::Ptr<Status> Status::StatusIs(Kiv::Name const& name) { return Kiv::make<Status>(name); }

Status::Status(Kiv::Name const& name) : Kiv::Entity(name), topoStatus_(this, topoStatusAttrId) {}
Status::~Status() = default;

Kiv::Ptr<Kiv::KivType> Status::fwkType() const { return _fwkType(); }

Kiv::String8 Status::attributeString(Kiv::AttributeId id) const {
  return id == topoStatusAttrId ? Kiv::String8("topoStatus") : Kiv::Entity::attributeString(id);
}

void Status::topoStatusNotify(Kiv::Name name, Kiv::Ptr<TopoStatus> const& member) {
  topoStatus_.released(member);
  kivNotify<NotifieeConst, Kiv::Name>(topoStatusAttrId, &NotifieeConst::onTopoStatus, name);
}

}  // namespace Inst
}  // namespace Bridging::Topology
