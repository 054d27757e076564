#include "Lumo/Bridging.h"

#include <string>

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"

namespace Bridging {

namespace {

// Members keyed by a number are named by it in decimal ("10").
Kiv::Name decimalName(std::uint16_t v) { return Kiv::String8(std::to_string(v)); }

}  // namespace

// LearnedHost

Kiv::String8 valueToStrep(LearnedHost const& v) {
  return Kiv::valueFieldsToStrep("Bridging::LearnedHost",
                                 {{"addr", Kiv::valueToStrep(v.addr())}, {"intf", Kiv::valueToStrep(v.intf())}});
}

// VlanConfig

VlanConfig::VlanConfig(VlanId vlanId) : Kiv::Entity(decimalName(vlanId.value())), vlanId_(vlanId) {}
VlanConfig::~VlanConfig() = default;

Kiv::Ptr<Kiv::KivType> VlanConfig::fwkType() const { return _fwkType(); }

// Config

void Config::NotifieeConst::onVlanConfig(VlanId) {}
void Config::NotifieeConst::onVlanConfigkivImmediate() {}
void Config::NotifieeConst::onVlanConfig() {}

Kiv::Ptr<Config> Config::ConfigIs(Kiv::Name const& name) { return Kiv::make<Config>(name); }

Config::Config(Kiv::Name const& name) : Kiv::Entity(name), vlanConfig_(this, vlanConfigAttrId) {}
Config::~Config() = default;

Kiv::Ptr<Kiv::KivType> Config::fwkType() const { return _fwkType(); }

Kiv::String8 Config::attributeString(Kiv::AttributeId id) const {
  return id == vlanConfigAttrId ? Kiv::String8("vlanConfig") : Kiv::Entity::attributeString(id);
}

void Config::vlanConfigNotify(VlanId vlanId, Kiv::Ptr<VlanConfig> const& member) {
  vlanConfig_.released(member);
  kivNotify<NotifieeConst, VlanId>(vlanConfigAttrId, &NotifieeConst::onVlanConfig, vlanId);
}

// FdbStatus

void FdbStatus::NotifieeConst::onLearnedHost(Pyrel::EthAddr) {}
void FdbStatus::NotifieeConst::onLearnedHostkivImmediate() {}
void FdbStatus::NotifieeConst::onLearnedHost() {}

FdbStatus::FdbStatus(Fid fid) : Kiv::Entity(decimalName(fid.value())), fid_(fid), learnedHost_(this) {}
FdbStatus::~FdbStatus() = default;

Kiv::Ptr<Kiv::KivType> FdbStatus::fwkType() const { return _fwkType(); }

Kiv::String8 FdbStatus::attributeString(Kiv::AttributeId id) const {
  return id == learnedHostAttrId ? Kiv::String8("learnedHost") : Kiv::Entity::attributeString(id);
}

void FdbStatus::learnedHostIs(Pyrel::EthAddr const& addr, LearnedHost const& host) {
  if (host.addr() != addr) {
    Kiv::throwRangeException("learned host " + host.addr().stringValue() + " stored under address " +
                             addr.stringValue());
  }
  learnedHost_.valueIs(addr, host);
}

void FdbStatus::learnedHostNotify(Pyrel::EthAddr addr, Kiv::Ptr<LearnedHostEntry> const&) {
  kivNotify<NotifieeConst, Pyrel::EthAddr>(learnedHostAttrId, &NotifieeConst::onLearnedHost, addr);
}

// Status

void Status::NotifieeConst::onFdbStatus(Fid) {}
void Status::NotifieeConst::onFdbStatuskivImmediate() {}
void Status::NotifieeConst::onFdbStatus() {}

Kiv::Ptr<Status> Status::StatusIs(Kiv::Name const& name) { return Kiv::make<Status>(name); }

Status::Status(Kiv::Name const& name) : Kiv::Entity(name), fdbStatus_(this, fdbStatusAttrId) {}
Status::~Status() = default;

Kiv::Ptr<Kiv::KivType> Status::fwkType() const { return _fwkType(); }

Kiv::String8 Status::attributeString(Kiv::AttributeId id) const {
  return id == fdbStatusAttrId ? Kiv::String8("fdbStatus") : Kiv::Entity::attributeString(id);
}

void Status::fdbStatusNotify(Fid fid, Kiv::Ptr<FdbStatus> const& member) {
  fdbStatus_.released(member);
  kivNotify<NotifieeConst, Fid>(fdbStatusAttrId, &NotifieeConst::onFdbStatus, fid);
}

}  // namespace Bridging

namespace Kiv {

template <>
Bridging::LearnedHost strepToValue<Bridging::LearnedHost>(String8 const& s) {
  return parseWholeStrep<Bridging::LearnedHost>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    Pyrel::EthAddr addr;
    Pyrel::IntfId intf;
    readValueFields(it, end, "Bridging::LearnedHost", "LearnedHost",
                    [&](String8 const& field, String8::IteratorConst& at, String8::IteratorConst const& stop) {
                      if (field == "addr") {
                        addr = deserializeAttr<Pyrel::EthAddr>(at, stop, &addr, field);
                      } else if (field == "intf") {
                        intf = deserializeAttr<Pyrel::IntfId>(at, stop, &intf, field);
                      } else {
                        return false;
                      }
                      return true;
                    });
    return Bridging::LearnedHost(addr, intf);
  });
}

}  // namespace Kiv
