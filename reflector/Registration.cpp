// The reflector types' objects, their registration routine, the module
// initializer and the reflector block of the ".kiv.type" section.
#include "reflector/Registration.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "Kiv/Activity.h"
#include "Kiv/Clock.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"
#include "Kiv/Trace.h"
#include "Kiv/TypeRegistration.h"
#include "Kiv/Types.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/IntfId.h"
#include "reflector/GenericAdapters.h"
#include "reflector/TopoStateReflector.h"

namespace Bridging {

namespace {

void registerReflectors(Kiv::IntrospectionReactor& reactor);

// Every object here up to the module initializer is constant-initialized:
// ready before anything of the library asks for a type.
Kiv::ModuleRegistration registration(&registerReflectors);
Kiv::TypeSlot<TopoPortStateReflector::_Type> topoPortStateReflectorType(registration, "TopoPortStateReflector");
Kiv::TypeSlot<TopoStateReflector::_Type> topoStateReflectorType(registration, "TopoStateReflector");
Kiv::TypeSlot<StateReflector::_Type> stateReflectorType(registration, "StateReflector");

// The type names of the reflectors: 87 bytes of NUL-terminated names. The
// reflector sources are linked after the agent model's, so this block
// follows the agent's 96 bytes, at offset 0x60, and the section is 183
// bytes long. Tools read it from the file.
KIV_TYPE_SECTION char reflectorTypeNames[87] =
    "Bridging::TopoPortStateReflector\0"
    "Bridging::TopoStateReflector\0"
    "Bridging::StateReflector";

using Introspection = Kiv::KivAttrIntrospectionFlags;
using TypeOf = Kiv::Ptr<Kiv::KivType> (*)();
constexpr Introspection none{};
constexpr Introspection independent = Introspection::isIndependentDomainAttr_();
constexpr Introspection function = Introspection::isFunction_();
constexpr Introspection indexedCollection = Introspection::hasInternalIndex_() | independent;

// One attribute of a reflector type, in the type's table order.
using Attribute = Kiv::TableAttribute;

constexpr Attribute defined(char const* name, TypeOf type, Kiv::AttributeId id, Kiv::KivAttrFlags flags,
                            Introspection introspection) {
  return Kiv::definedAttribute(name, type, id, flags, introspection);
}

// A handler without arguments.
constexpr Attribute handler(char const* name, Kiv::AttributeId id) {
  return defined(name, &Kiv::Builtin<void*>::_fwkType, id, {0x00020001u, 0x00000400u}, function);
}

// A handler that takes arguments.
template <std::size_t N>
constexpr Attribute handler(char const* name, Kiv::AttributeId id, Kiv::ArgumentRow const (&arguments)[N]) {
  return Attribute{
      {name, &Kiv::Builtin<void*>::_fwkType, nullptr, id, {0x00020001u, 0x00000400u}, function}, true, arguments, N};
}

// A child collection of members of type `member`, keyed by their argument
// `arguments[0]` of type `keyType`.
template <std::size_t N>
constexpr Attribute collection(char const* name, TypeOf member, TypeOf keyType, Kiv::AttributeId id,
                               Kiv::ArgumentRow const (&arguments)[N]) {
  return Kiv::builtCollection(name, member, keyType, id, {0x09a20103u, 0x10000400u}, indexedCollection, arguments);
}

// The two notification switches that every reflector type lists last.
constexpr Kiv::ArgumentRow notificationArguments[] = {{"hasNotificationActiveIs", "bool"}};
constexpr Kiv::ArgumentRow zombieArguments[] = {{"on", "bool"}};
constexpr Attribute notificationSwitch(char const* name, Kiv::ArgumentRow const (&arguments)[1]) {
  return Attribute{
      {name, &Kiv::Builtin<void*>::_fwkType, nullptr, 0, {0x00000001u, 0x00000400u}, function}, true, arguments, 1};
}

constexpr Attribute activity =
    defined("kivFwkActivity", &Kiv::ActivityConfig::_fwkType, 0, {0x08000001u, 0x00000400u}, none);

// Flag words of a constructor parameter: observed through a notifiee
// wrapper, or held as a plain reference (0x40000000 in the second word).
constexpr Kiv::KivAttrFlags observed{0x08220109u, 0x00000400u};
constexpr Kiv::KivAttrFlags held{0x08220109u, 0x40000400u};
constexpr Kiv::KivAttrFlags heldKey{0x00220109u, 0x40000400u};
constexpr Kiv::KivAttrFlags state{0x00220103u, 0x00000400u};
constexpr Kiv::KivAttrFlags key{0x00200001u, 0x00000400u};

using P = TopoPortStateReflector;
Attribute const topoPortStateReflectorAttributes[] = {
    activity,
    defined("intfId", &Pyrel::IntfId::_fwkType, P::intfIdAttrId, heldKey, independent),
    defined("topoPortConfig", &Topology::TopoPortConfig::_fwkType, P::topoPortConfigAttrId, observed, independent),
    defined("topoPortStatus", &Topology::TopoPortStatus::_fwkType, P::topoPortStatusAttrId, held, independent),
    defined("brConfig", &Config::_fwkType, P::brConfigAttrId, held, independent),
    defined("brStatus", &Status::_fwkType, P::brStatusAttrId, held, independent),
    defined("brTopoConfig", &Topology::Config::_fwkType, P::brTopoConfigAttrId, held, independent),
    defined("topoConfig", &Topology::TopoConfig::_fwkType, P::topoConfigAttrId, held, independent),
    defined("clock", &Kiv::Clock::_fwkType, P::clockAttrId, observed, independent),
    defined("fdbClock", &Kiv::Clock::_fwkType, P::fdbClockAttrId, observed, independent),
    defined("lastFdbFlush", &Kiv::Builtin<double>::_fwkType, P::lastFdbFlushAttrId, state, independent),
    handler("handleState", P::handleStateAttrId),
    handler("handleFdbFlush", P::handleFdbFlushAttrId),
    handler("handleClock", P::handleClockAttrId),
    handler("handleFdbClock", P::handleFdbClockAttrId),
    handler("doAddressTableFlush", P::doAddressTableFlushAttrId),
    defined("initialized", &Kiv::Builtin<bool>::_fwkType, P::initializedAttrId, state, independent),
    handler("handleInitialized", P::handleInitializedAttrId),
    defined("fwkKey", &Pyrel::IntfId::_fwkType, 0, key, none),
    notificationSwitch("hasNotificationActiveIs", notificationArguments),
    notificationSwitch("kivDoZombieReactors", zombieArguments),
};

using T = TopoStateReflector;
Attribute const topoStateReflectorAttributes[] = {
    activity,
    defined("name", &Kiv::Builtin<Kiv::String8>::_fwkType, T::nameAttrId, heldKey, independent),
    defined("topoConfig", &Topology::TopoConfig::_fwkType, T::topoConfigAttrId, observed, independent),
    defined("topoStatus", &Topology::Inst::TopoStatus::_fwkType, T::topoStatusAttrId, observed, independent),
    defined("brConfig", &Config::_fwkType, T::brConfigAttrId, observed, independent),
    defined("brStatus", &Status::_fwkType, T::brStatusAttrId, observed, independent),
    defined("brTopoConfig", &Topology::Config::_fwkType, T::brTopoConfigAttrId, observed, independent),
    defined("clock", &Kiv::Clock::_fwkType, T::clockAttrId, held, independent),
    collection("topoPortStateReflector", &P::_fwkType, &Pyrel::IntfId::_fwkType, T::topoPortStateReflectorAttrId,
               P::_Type::constructorArguments),
    handler("handleTopoPortConfig", T::handleTopoPortConfigAttrId, T::_Type::portArguments),
    handler("handleTopoPortStatus", T::handleTopoPortStatusAttrId, T::_Type::portArguments),
    handler("handleCollectionChange", T::handleCollectionChangeAttrId),
    handler("doSyncPort", T::doSyncPortAttrId, T::_Type::portArguments),
    defined("initialized", &Kiv::Builtin<bool>::_fwkType, T::initializedAttrId, state, independent),
    handler("handleInitialized", T::handleInitializedAttrId),
    defined("fwkKey", &Kiv::Builtin<Kiv::String8>::_fwkType, 0, key, none),
    notificationSwitch("hasNotificationActiveIs", notificationArguments),
    notificationSwitch("kivDoZombieReactors", zombieArguments),
};

using S = StateReflector;
Attribute const stateReflectorAttributes[] = {
    activity,
    defined("config", &Topology::Config::_fwkType, S::configAttrId, observed, independent),
    defined("status", &Topology::Inst::Status::_fwkType, S::statusAttrId, observed, independent),
    defined("brConfig", &Config::_fwkType, S::brConfigAttrId, observed, independent),
    defined("brStatus", &Status::_fwkType, S::brStatusAttrId, observed, independent),
    defined("clock", &Kiv::Clock::_fwkType, S::clockAttrId, held, independent),
    collection("topoStateReflector", &T::_fwkType, &Kiv::Builtin<Kiv::String8>::_fwkType, S::topoStateReflectorAttrId,
               T::_Type::constructorArguments),
    handler("handleTopoConfig", S::handleTopoConfigAttrId, S::_Type::topologyArguments),
    handler("handleTopoStatus", S::handleTopoStatusAttrId, S::_Type::topologyArguments),
    handler("handleCollectionChange", S::handleCollectionChangeAttrId),
    handler("doSyncTopo", S::doSyncTopoAttrId, S::_Type::topologyArguments),
    defined("initialized", &Kiv::Builtin<bool>::_fwkType, S::initializedAttrId, state, independent),
    handler("handleInitialized", S::handleInitializedAttrId),
    notificationSwitch("hasNotificationActiveIs", notificationArguments),
    notificationSwitch("kivDoZombieReactors", zombieArguments),
};

// The kept attribute descriptors, one per table row. Released at unload.
Kiv::Ptr<Kiv::KivAttr> topoPortStateReflectorKept[std::size(topoPortStateReflectorAttributes)];
Kiv::Ptr<Kiv::KivAttr> topoStateReflectorKept[std::size(topoStateReflectorAttributes)];
Kiv::Ptr<Kiv::KivAttr> stateReflectorKept[std::size(stateReflectorAttributes)];

// One reflector type as this module registers it.
struct ReflectorTypeTable {
  char const* qualifiedName;
  TypeOf type;
  std::uint32_t size;
  Kiv::ArgumentRow const* constructorArguments;
  std::size_t constructorArgumentCount;
  Attribute const* attributes;
  std::size_t attributeCount;
  Kiv::Ptr<Kiv::KivAttr>* kept;  // attributeCount descriptors, in table order
};

template <class R, std::size_t A>
constexpr ReflectorTypeTable table(char const* qualifiedName, Attribute const (&attributes)[A],
                                   Kiv::Ptr<Kiv::KivAttr> (&kept)[A]) {
  return ReflectorTypeTable{qualifiedName,
                            &R::_fwkType,
                            static_cast<std::uint32_t>(sizeof(R)),
                            R::_Type::constructorArguments,
                            std::size(R::_Type::constructorArguments),
                            attributes,
                            A,
                            kept};
}

// In registration order.
ReflectorTypeTable const reflectorTypes[] = {
    table<TopoPortStateReflector>("Bridging::TopoPortStateReflector", topoPortStateReflectorAttributes,
                                  topoPortStateReflectorKept),
    table<TopoStateReflector>("Bridging::TopoStateReflector", topoStateReflectorAttributes, topoStateReflectorKept),
    table<StateReflector>("Bridging::StateReflector", stateReflectorAttributes, stateReflectorKept),
};

// Declares one type in its own scope: its size, its constructor
// parameters (each name, then its type name) and its attributes in table
// order.
void declareType(Kiv::IntrospectionReactor& reactor, ReflectorTypeTable const& t) {
  Kiv::Ptr<Kiv::KivType> const type = t.type();
  reactor.handleType(type, nullptr);
  type->sizeIs(t.size);
  type->hasGenericIfSupportIs(true);
  Kiv::declareConstructorArguments(*type, t.constructorArguments, t.constructorArgumentCount);
  Kiv::declareAttributes(reactor, type, t.attributes, t.attributeCount);
  reactor.handleScopeExit();
}

// Looks up the type's attributes by name and keeps them.
void keepAttributes(ReflectorTypeTable const& t) {
  Kiv::Ptr<Kiv::KivType> const type = t.type();
  for (std::size_t i = 0; i < t.attributeCount; ++i) t.kept[i] = type->attr(Kiv::String8(t.attributes[i].row.name));
}

void registerReflectors(Kiv::IntrospectionReactor& reactor) {
  // The three type objects exist before any scope opens.
  StateReflector::_fwkType();
  TopoPortStateReflector::_fwkType();
  TopoStateReflector::_fwkType();
  reactor.handleNameSpace("Bridging");
  for (ReflectorTypeTable const& t : reflectorTypes) declareType(reactor, t);
  reactor.handleScopeExit();
  // A registration that comes after the module initializer (the registry
  // refused at load) leaves the descriptors in place too.
  for (ReflectorTypeTable const& t : reflectorTypes) keepAttributes(t);
}

// The module initializer, run when the library is loaded: the trace handle
// first; then each type becomes a type node of the library (the first
// type query runs the registration, if the registry takes it now) and its
// descriptors are kept; then a last try at the registration.
struct ReflectorModuleInitializer {
  ReflectorModuleInitializer() : rootPathBaseTrace("RootPathBase::Kiv", false) {
    for (ReflectorTypeTable const& t : reflectorTypes) {
      Kiv::libraryTypeNodeIs(t.type(), t.qualifiedName);
      keepAttributes(t);
    }
    registration.run();
  }

  // Lives as long as the library is loaded.
  Kiv::TraceHandle rootPathBaseTrace;
};
[[maybe_unused]] ReflectorModuleInitializer const reflectorModuleInitializer;

}  // namespace

Kiv::Ptr<Kiv::KivType> TopoPortStateReflector::_fwkType() { return topoPortStateReflectorType.get(); }
Kiv::Ptr<Kiv::KivType> TopoStateReflector::_fwkType() { return topoStateReflectorType.get(); }
Kiv::Ptr<Kiv::KivType> StateReflector::_fwkType() { return stateReflectorType.get(); }

Kiv::Ptr<Kiv::KivAttr> reflectorAttribute(Kiv::String8 const& qualifiedTypeName, Kiv::String8 const& attributeName) {
  for (ReflectorTypeTable const& t : reflectorTypes) {
    if (qualifiedTypeName != Kiv::String8(t.qualifiedName)) continue;
    for (std::size_t i = 0; i < t.attributeCount; ++i)
      if (attributeName == Kiv::String8(t.attributes[i].row.name)) return t.kept[i];
  }
  return nullptr;
}

}  // namespace Bridging
