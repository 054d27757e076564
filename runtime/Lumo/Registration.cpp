// The bridging model's type objects, its registration with the runtime's
// registry, its module initializer and its block of the ".kiv.type"
// section. Registered, with attribute ids (constructor arguments in
// parentheses):
//
//   Bridging
//     VlanId, Fid                      values: decimal numbers
//     LearnedHost (addr, intf)         value: 2 addr, 3 intf
//     VlanConfig (vlanId)              257 vlanId
//     Config (name)                    258 vlanConfig[VlanId]: VlanConfig (vlanId)
//     FdbStatus (fid)                  257 fid, 258 learnedHost[Pyrel::EthAddr]: LearnedHost
//     Status (name)                    258 fdbStatus[Fid]: FdbStatus (fid)
//     Topology
//       PortState                      value: 'disabled', 'discarding', 'learning', 'forwarding'
//       TopoPortConfig (intfId)        257 intfId, 258 state, 259 fdbFlush, 260 lowerAgingTime
//       TopoConfig (name)              258 topoPortConfig[Pyrel::IntfId]: TopoPortConfig (intfId)
//       Config (name)                  258 topoConfig[Kiv::Name]: TopoConfig (name),
//                                      259 vidToTopoMap[VlanId]: a TopoConfig of topoConfig
//       TopoPortStatus (intfId)        257 intfId, 258 state, 259 fdbFlushReport
//       Inst
//         TopoStatus (name)            258 topoPortStatus[Pyrel::IntfId]: TopoPortStatus (intfId)
//         Status (name)                258 topoStatus[Kiv::Name]: TopoStatus (name)
//
// Every entity type also has what it inherits from Kiv::Entity (1 name, 2
// parent). The generic adapters are in Lumo/GenericAdapters.h.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "Kiv/Entity.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"
#include "Kiv/TypeRegistration.h"
#include "Kiv/Types.h"
#include "Lumo/Bridging.h"
#include "Lumo/GenericAdapters.h"
#include "Lumo/Topology.h"
#include "Lumo/Types.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"

namespace Bridging {

namespace {

using detail::LearnedHostType;
using detail::ModelEntityType;
using Topology::PortState;
using TypeOf = Kiv::Ptr<Kiv::KivType> (*)();

void registerModel(Kiv::IntrospectionReactor& reactor);

// Every object here up to the module initializer is constant-initialized:
// ready before anything asks for a type.
Kiv::ModuleRegistration registration(&registerModel);
Kiv::TypeSlot<Kiv::BuiltinType<VlanId>> vlanIdType(registration, "VlanId");
Kiv::TypeSlot<Kiv::BuiltinType<Fid>> fidType(registration, "Fid");
Kiv::TypeSlot<LearnedHostType> learnedHostType(registration, "LearnedHost");
Kiv::TypeSlot<ModelEntityType<VlanConfig, VlanId>> vlanConfigType(registration, "VlanConfig", &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Config, Kiv::Name>> configType(registration, "Config", &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<FdbStatus, Fid>> fdbStatusType(registration, "FdbStatus", &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Status, Kiv::Name>> statusType(registration, "Status", &Kiv::Entity::_fwkType);
Kiv::TypeSlot<Kiv::BuiltinType<PortState>> portStateType(registration, "PortState");
Kiv::TypeSlot<ModelEntityType<Topology::TopoPortConfig, Pyrel::IntfId>> topoPortConfigType(registration,
                                                                                           "TopoPortConfig",
                                                                                           &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Topology::TopoConfig, Kiv::Name>> topoConfigType(registration, "TopoConfig",
                                                                               &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Topology::Config, Kiv::Name>> topologyConfigType(registration, "Config",
                                                                               &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Topology::TopoPortStatus, Pyrel::IntfId>> topoPortStatusType(registration,
                                                                                           "TopoPortStatus",
                                                                                           &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Topology::Inst::TopoStatus, Kiv::Name>> topoStatusType(registration, "TopoStatus",
                                                                                     &Kiv::Entity::_fwkType);
Kiv::TypeSlot<ModelEntityType<Topology::Inst::Status, Kiv::Name>> instStatusType(registration, "Status",
                                                                                 &Kiv::Entity::_fwkType);

// The type names of the bridging model, for tools that read the file.
KIV_TYPE_SECTION char modelTypeNames[] =
    "Bridging::VlanId\0"
    "Bridging::Fid\0"
    "Bridging::LearnedHost\0"
    "Bridging::VlanConfig\0"
    "Bridging::Config\0"
    "Bridging::FdbStatus\0"
    "Bridging::Status\0"
    "Bridging::Topology::PortState\0"
    "Bridging::Topology::TopoPortConfig\0"
    "Bridging::Topology::TopoConfig\0"
    "Bridging::Topology::Config\0"
    "Bridging::Topology::TopoPortStatus\0"
    "Bridging::Topology::Inst::TopoStatus\0"
    "Bridging::Topology::Inst::Status";

using Introspection = Kiv::KivAttrIntrospectionFlags;
constexpr Introspection independent = Introspection::isIndependentDomainAttr_();
constexpr Introspection indexedCollection = Introspection::hasInternalIndex_() | independent;

constexpr Kiv::KivAttrFlags field{0x00220107u, 0x00000400u};
constexpr Kiv::KivAttrFlags key{0x00200001u, 0x00000400u};
constexpr Kiv::KivAttrFlags state{0x00220143u, 0x01000400u};
constexpr Kiv::KivAttrFlags values{0x01a20143u, 0x01000400u};
constexpr Kiv::KivAttrFlags members{0x09a20103u, 0x10000400u};
constexpr Kiv::AttributeId keyAttrId = 257;

template <std::size_t N>
constexpr Kiv::TableAttribute collection(char const* name, TypeOf member, TypeOf keyType, Kiv::AttributeId id,
                                         Kiv::ArgumentRow const (&arguments)[N]) {
  return Kiv::builtCollection(name, member, keyType, id, members, indexedCollection, arguments);
}

constexpr Kiv::ArgumentRow nameArgument[] = {{"name", "Kiv::Name"}};
constexpr Kiv::ArgumentRow intfIdArgument[] = {{"intfId", "Pyrel::IntfId"}};
constexpr Kiv::ArgumentRow vlanIdArgument[] = {{"vlanId", "Bridging::VlanId"}};
constexpr Kiv::ArgumentRow fidArgument[] = {{"fid", "Bridging::Fid"}};
constexpr Kiv::ArgumentRow learnedHostArguments[] = {{"addr", "Pyrel::EthAddr"}, {"intf", "Pyrel::IntfId"}};

TypeOf const nameType = &Kiv::Builtin<Kiv::Name>::_fwkType;
Kiv::Ptr<Kiv::KivType> portStateTypeOf() { return Kiv::ValueType<PortState>::type(); }

Kiv::TableAttribute const learnedHostAttributes[] = {
    Kiv::definedAttribute("addr", &Pyrel::EthAddr::_fwkType, detail::LearnedHostGenericIf::addrAttrId, field,
                          independent),
    Kiv::definedAttribute("intf", &Pyrel::IntfId::_fwkType, detail::LearnedHostGenericIf::intfAttrId, field,
                          independent),
};
Kiv::TableAttribute const vlanConfigAttributes[] = {
    Kiv::definedAttribute("vlanId", &VlanId::_fwkType, keyAttrId, key, independent),
};
Kiv::TableAttribute const configAttributes[] = {
    collection("vlanConfig", &VlanConfig::_fwkType, &VlanId::_fwkType, Config::vlanConfigAttrId, vlanIdArgument),
};
Kiv::TableAttribute const fdbStatusAttributes[] = {
    Kiv::definedAttribute("fid", &Fid::_fwkType, keyAttrId, key, independent),
    Kiv::definedAttribute("learnedHost", &LearnedHost::_fwkType, FdbStatus::learnedHostAttrId, values, independent,
                          &Pyrel::EthAddr::_fwkType),
};
Kiv::TableAttribute const statusAttributes[] = {
    collection("fdbStatus", &FdbStatus::_fwkType, &Fid::_fwkType, Status::fdbStatusAttrId, fidArgument),
};

using Topology::TopoConfig;
using Topology::TopoPortConfig;
using Topology::TopoPortStatus;
Kiv::TableAttribute const topoPortConfigAttributes[] = {
    Kiv::definedAttribute("intfId", &Pyrel::IntfId::_fwkType, keyAttrId, key, independent),
    Kiv::definedAttribute("state", &portStateTypeOf, TopoPortConfig::stateAttrId, state, independent),
    Kiv::definedAttribute("fdbFlush", &Kiv::Builtin<unsigned int>::_fwkType, TopoPortConfig::fdbFlushAttrId, state,
                          independent),
    Kiv::definedAttribute("lowerAgingTime", &Kiv::Builtin<bool>::_fwkType, TopoPortConfig::lowerAgingTimeAttrId, state,
                          independent),
};
Kiv::TableAttribute const topoConfigAttributes[] = {
    collection("topoPortConfig", &TopoPortConfig::_fwkType, &Pyrel::IntfId::_fwkType, TopoConfig::topoPortConfigAttrId,
               intfIdArgument),
};
Kiv::TableAttribute const topologyConfigAttributes[] = {
    collection("topoConfig", &TopoConfig::_fwkType, nameType, Topology::Config::topoConfigAttrId, nameArgument),
    Kiv::definedAttribute("vidToTopoMap", &TopoConfig::_fwkType, Topology::Config::vidToTopoMapAttrId, values,
                          independent, &VlanId::_fwkType),
};
Kiv::TableAttribute const topoPortStatusAttributes[] = {
    Kiv::definedAttribute("intfId", &Pyrel::IntfId::_fwkType, keyAttrId, key, independent),
    Kiv::definedAttribute("state", &portStateTypeOf, TopoPortStatus::stateAttrId, state, independent),
    Kiv::definedAttribute("fdbFlushReport", &Kiv::Builtin<unsigned int>::_fwkType, TopoPortStatus::fdbFlushReportAttrId,
                          state, independent),
};
Kiv::TableAttribute const topoStatusAttributes[] = {
    collection("topoPortStatus", &TopoPortStatus::_fwkType, &Pyrel::IntfId::_fwkType,
               Topology::Inst::TopoStatus::topoPortStatusAttrId, intfIdArgument),
};
Kiv::TableAttribute const instStatusAttributes[] = {
    collection("topoStatus", &Topology::Inst::TopoStatus::_fwkType, nameType, Topology::Inst::Status::topoStatusAttrId,
               nameArgument),
};

// One type as this module registers it, in the namespace its qualified
// name ends in.
struct ModelTypeTable {
  char const* qualifiedName;
  TypeOf type;
  std::uint32_t size;
  bool entity;
  Kiv::ArgumentRow const* constructorArguments;
  std::size_t constructorArgumentCount;
  Kiv::TableAttribute const* attributes;
  std::size_t attributeCount;
};

template <class T, std::size_t C, std::size_t A>
constexpr ModelTypeTable table(char const* qualifiedName, TypeOf type, Kiv::ArgumentRow const (&arguments)[C],
                               Kiv::TableAttribute const (&attributes)[A]) {
  return ModelTypeTable{
      qualifiedName, type, static_cast<std::uint32_t>(sizeof(T)), std::is_base_of<Kiv::Entity, T>::value, arguments, C,
      attributes,    A};
}
template <class T>
constexpr ModelTypeTable value(char const* qualifiedName, TypeOf type) {
  return ModelTypeTable{qualifiedName, type, static_cast<std::uint32_t>(sizeof(T)), false, nullptr, 0, nullptr, 0};
}

ModelTypeTable const bridgingTypes[] = {
    value<VlanId>("Bridging::VlanId", &VlanId::_fwkType),
    value<Fid>("Bridging::Fid", &Fid::_fwkType),
    table<LearnedHost>("Bridging::LearnedHost", &LearnedHost::_fwkType, learnedHostArguments, learnedHostAttributes),
    table<VlanConfig>("Bridging::VlanConfig", &VlanConfig::_fwkType, vlanIdArgument, vlanConfigAttributes),
    table<Config>("Bridging::Config", &Config::_fwkType, nameArgument, configAttributes),
    table<FdbStatus>("Bridging::FdbStatus", &FdbStatus::_fwkType, fidArgument, fdbStatusAttributes),
    table<Status>("Bridging::Status", &Status::_fwkType, nameArgument, statusAttributes),
};
ModelTypeTable const topologyTypes[] = {
    value<PortState>("Bridging::Topology::PortState", &portStateTypeOf),
    table<TopoPortConfig>("Bridging::Topology::TopoPortConfig", &TopoPortConfig::_fwkType, intfIdArgument,
                          topoPortConfigAttributes),
    table<TopoConfig>("Bridging::Topology::TopoConfig", &TopoConfig::_fwkType, nameArgument, topoConfigAttributes),
    table<Topology::Config>("Bridging::Topology::Config", &Topology::Config::_fwkType, nameArgument,
                            topologyConfigAttributes),
    table<TopoPortStatus>("Bridging::Topology::TopoPortStatus", &TopoPortStatus::_fwkType, intfIdArgument,
                          topoPortStatusAttributes),
};
ModelTypeTable const instTypes[] = {
    table<Topology::Inst::TopoStatus>("Bridging::Topology::Inst::TopoStatus", &Topology::Inst::TopoStatus::_fwkType,
                                      nameArgument, topoStatusAttributes),
    table<Topology::Inst::Status>("Bridging::Topology::Inst::Status", &Topology::Inst::Status::_fwkType, nameArgument,
                                  instStatusAttributes),
};

// Declares one type in its own scope: an entity with its base, size,
// constructor argument and inherited attributes, or a value with its size
// and constructor arguments; then its attributes in table order.
void declareType(Kiv::IntrospectionReactor& reactor, ModelTypeTable const& t) {
  Kiv::Ptr<Kiv::KivType> const type = t.type();
  if (t.entity) {
    Kiv::openEntityType(reactor, type, Kiv::Entity::_fwkType(), t.size, t.constructorArguments,
                        t.constructorArgumentCount);
  } else {
    reactor.handleType(type, nullptr);
    type->sizeIs(t.size);
    type->isValueIs(true);
    type->hasGenericIfSupportIs(true);
    Kiv::declareConstructorArguments(*type, t.constructorArguments, t.constructorArgumentCount);
  }
  Kiv::declareAttributes(reactor, type, t.attributes, t.attributeCount);
  reactor.handleScopeExit();
}

template <std::size_t N>
void declareTypes(Kiv::IntrospectionReactor& reactor, ModelTypeTable const (&types)[N]) {
  for (ModelTypeTable const& t : types) declareType(reactor, t);
}

void registerModel(Kiv::IntrospectionReactor& reactor) {
  reactor.handleNameSpace("Bridging");
  declareTypes(reactor, bridgingTypes);
  reactor.handleNameSpace("Topology");
  declareTypes(reactor, topologyTypes);
  reactor.handleNameSpace("Inst");
  declareTypes(reactor, instTypes);
  reactor.handleScopeExit();  // Inst
  reactor.handleScopeExit();  // Topology
  reactor.handleScopeExit();  // Bridging
}

// The module initializer, run when the library is loaded: each type
// becomes a type node of the library (the first type query runs the
// registration, if the registry takes it now); then a last try at the
// registration.
struct ModelModuleInitializer {
  ModelModuleInitializer() {
    for (ModelTypeTable const& t : bridgingTypes) Kiv::libraryTypeNodeIs(t.type(), t.qualifiedName);
    for (ModelTypeTable const& t : topologyTypes) Kiv::libraryTypeNodeIs(t.type(), t.qualifiedName);
    for (ModelTypeTable const& t : instTypes) Kiv::libraryTypeNodeIs(t.type(), t.qualifiedName);
    registration.run();
  }
};
[[maybe_unused]] ModelModuleInitializer const modelModuleInitializer;

}  // namespace

Kiv::Ptr<Kiv::KivType> VlanId::_fwkType() { return vlanIdType.get(); }
Kiv::Ptr<Kiv::KivType> Fid::_fwkType() { return fidType.get(); }
Kiv::Ptr<Kiv::KivType> LearnedHost::_fwkType() { return learnedHostType.get(); }
Kiv::Ptr<Kiv::KivType> VlanConfig::_fwkType() { return vlanConfigType.get(); }
Kiv::Ptr<Kiv::KivType> Config::_fwkType() { return configType.get(); }
Kiv::Ptr<Kiv::KivType> FdbStatus::_fwkType() { return fdbStatusType.get(); }
Kiv::Ptr<Kiv::KivType> Status::_fwkType() { return statusType.get(); }

namespace Topology {
Kiv::Ptr<Kiv::KivType> TopoPortConfig::_fwkType() { return topoPortConfigType.get(); }
Kiv::Ptr<Kiv::KivType> TopoConfig::_fwkType() { return topoConfigType.get(); }
Kiv::Ptr<Kiv::KivType> Config::_fwkType() { return topologyConfigType.get(); }
Kiv::Ptr<Kiv::KivType> TopoPortStatus::_fwkType() { return topoPortStatusType.get(); }
namespace Inst {
Kiv::Ptr<Kiv::KivType> TopoStatus::_fwkType() { return topoStatusType.get(); }
Kiv::Ptr<Kiv::KivType> Status::_fwkType() { return instStatusType.get(); }
}  // namespace Inst
}  // namespace Topology

}  // namespace Bridging

namespace Kiv {
Ptr<KivType> ValueType<Bridging::Topology::PortState, void>::type() { return Bridging::portStateType.get(); }
}  // namespace Kiv
