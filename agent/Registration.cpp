// The agent model's type objects, its registration routine, its module
// initializer and its block of the ".kiv.type" section.
#include "agent/Registration.h"

#include <cstdint>

#include "Kiv/Entity.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"
#include "Kiv/String8.h"
#include "Kiv/TypeRegistration.h"
#include "Kiv/Types.h"
#include "agent/Config.h"
#include "agent/GenericAdapters.h"
#include "agent/Status.h"

namespace Bridging::Orva {

namespace {

void registerAgentModel(Kiv::IntrospectionReactor& reactor);

// Every object here is constant-initialized: ready before any initializer
// of the library asks for a type.
Kiv::ModuleRegistration registration(&registerAgentModel);
Kiv::TypeSlot<Config::TapDevice::_Type> tapDeviceType(registration, "TapDevice");
Kiv::TypeSlot<Config::_Type> configType(registration, "Config", &Kiv::Entity::_fwkType);
Kiv::TypeSlot<Status::_Type> statusType(registration, "Status", &Kiv::Entity::_fwkType);

ConfigAttributes configAttributes_;
StatusAttributes statusAttributes_;

// The type names of the agent model: 80 bytes of names, padded with zeros
// to 96, so that the next block of the section starts at offset 0x60.
// Tools read it from the file; the agent's sources are linked first, so
// this block comes first.
KIV_TYPE_SECTION char agentTypeNames[96] =
    "Bridging::Orva::Config::TapDevice\0"
    "Bridging::Orva::Config\0"
    "Bridging::Orva::Status";

using Introspection = Kiv::KivAttrIntrospectionFlags;
constexpr Introspection none{};
constexpr Introspection independent = Introspection::isIndependentDomainAttr_();
constexpr Introspection function = Introspection::isFunction_();

Kiv::AttributeRow const tapDeviceRows[] = {
    {"name", &Kiv::Builtin<Kiv::String8>::_fwkType, nullptr, Config::TapDevice::nameAttrId,
     {0x00220107u, 0x00000400u}, independent},
    {"fileno", &Kiv::Builtin<unsigned short>::_fwkType, nullptr, Config::TapDevice::filenoAttrId,
     {0x00220107u, 0x00000400u}, independent},
};

// The attributes that both entities declare first.
Kiv::AttributeRow const entityRows[] = {
    {"isNondestructing", &Kiv::Builtin<bool>::_fwkType, nullptr, Kiv::Attr::isNondestructing,
     {0x00002043u, 0x01000000u}, none},
    {"kivHasAttrLogInterface", &Kiv::Builtin<bool>::_fwkType, nullptr, Kiv::Attr::kivHasAttrLogInterface,
     {0x00022001u, 0x00000400u}, function},
};

Kiv::AttributeRow const configRows[] = {
    {"extTapDevice", &Config::TapDevice::_fwkType, &Kiv::Builtin<Kiv::String8>::_fwkType, Config::extTapDeviceAttrId,
     {0x01a20143u, 0x01000400u}, independent},
    {"complete", &Kiv::Builtin<bool>::_fwkType, nullptr, Config::completeAttrId, {0x00220143u, 0x01000400u},
     independent},
};

Kiv::AttributeRow const statusRows[] = {
    {"initialized", &Kiv::Builtin<bool>::_fwkType, nullptr, Status::initializedAttrId, {0x00220143u, 0x01000400u},
     independent},
    {"fabricDeviceName", &Kiv::Builtin<Kiv::String8>::_fwkType, nullptr, Status::fabricDeviceNameAttrId,
     {0x00220143u, 0x01000400u}, independent},
};

// Opens the scope of an entity type: its base, size, kind, constructor
// argument and the attributes it inherits from Kiv::Entity.
void declareEntityType(Kiv::IntrospectionReactor& reactor, Kiv::Ptr<Kiv::KivType> const& type,
                       Kiv::Ptr<Kiv::KivType> const& entity, std::uint32_t size) {
  Kiv::openEntityType(reactor, type, entity, size, {{"name", "Kiv::Name"}});
}

void keepConfigAttributes() {
  Kiv::Ptr<Kiv::KivType> const t = Config::_fwkType();
  configAttributes_ = ConfigAttributes{t->attr("isNondestructing"), t->attr("kivNboAttrLogSaForMsgChannel"),
                                       t->attr("kivHasAttrLogInterface"), t->attr("extTapDevice"),
                                       t->attr("complete")};
}

void keepStatusAttributes() {
  Kiv::Ptr<Kiv::KivType> const t = Status::_fwkType();
  statusAttributes_ = StatusAttributes{t->attr("isNondestructing"), t->attr("kivNboAttrLogSaForMsgChannel"),
                                       t->attr("kivHasAttrLogInterface"), t->attr("initialized"),
                                       t->attr("fabricDeviceName")};
}

void registerAgentModel(Kiv::IntrospectionReactor& reactor) {
  Kiv::Ptr<Kiv::KivType> const config = Config::_fwkType();
  Kiv::Ptr<Kiv::KivType> const tapDevice = Config::TapDevice::_fwkType();
  Kiv::Ptr<Kiv::KivType> const status = Status::_fwkType();
  Kiv::Ptr<Kiv::KivType> const entity = Kiv::Entity::_fwkType();

  reactor.handleNameSpace("Bridging");
  reactor.handleNameSpace("Orva");

  declareEntityType(reactor, config, entity, static_cast<std::uint32_t>(sizeof(Config)));
  reactor.handleType(tapDevice, nullptr);
  tapDevice->sizeIs(static_cast<std::uint32_t>(sizeof(Config::TapDevice)));
  tapDevice->isValueIs(true);
  tapDevice->hasGenericIfSupportIs(true);
  Kiv::defineAttributes(reactor, tapDevice, tapDeviceRows);
  reactor.handleScopeExit();
  Kiv::defineAttributes(reactor, config, entityRows);
  Kiv::defineAttributes(reactor, config, configRows);
  reactor.handleScopeExit();

  declareEntityType(reactor, status, entity, static_cast<std::uint32_t>(sizeof(Status)));
  Kiv::defineAttributes(reactor, status, entityRows);
  Kiv::defineAttributes(reactor, status, statusRows);
  reactor.handleScopeExit();

  reactor.handleScopeExit();  // Orva
  reactor.handleScopeExit();  // Bridging

  // A registration that comes after the module initializer (the registry
  // refused at load) still leaves the descriptors in place.
  keepConfigAttributes();
  keepStatusAttributes();
}

// The module initializer, run when the library is loaded. The first type
// query runs the registration, if the registry takes it now.
struct AgentModuleInitializer {
  AgentModuleInitializer() {
    Kiv::libraryTypeNodeIs(Config::TapDevice::_fwkType(), "Bridging::Orva::Config::TapDevice");
    Kiv::libraryTypeNodeIs(Config::_fwkType(), "Bridging::Orva::Config");
    keepConfigAttributes();
    Kiv::libraryTypeNodeIs(Status::_fwkType(), "Bridging::Orva::Status");
    keepStatusAttributes();
    registration.run();
  }
};
[[maybe_unused]] AgentModuleInitializer const agentModuleInitializer;

}  // namespace

Kiv::Ptr<Kiv::KivType> Config::TapDevice::_fwkType() { return tapDeviceType.get(); }
Kiv::Ptr<Kiv::KivType> Config::_fwkType() { return configType.get(); }
Kiv::Ptr<Kiv::KivType> Status::_fwkType() { return statusType.get(); }

ConfigAttributes const& configAttributes() noexcept { return configAttributes_; }
StatusAttributes const& statusAttributes() noexcept { return statusAttributes_; }

}  // namespace Bridging::Orva
