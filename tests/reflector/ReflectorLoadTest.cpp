// The reflector types as a process that knows none of the product's
// classes sees them. This program links only the runtime and loads the
// library with dlopen, so it decides when the library's initializers run:
// the reflector types are then found by their qualified names with every
// attribute as registered, ids of no attribute go to the base, and a
// registry that refuses at load leaves bare types that a later type query
// registers. (The ".kiv.type" section is checked by agent_load_tests.)
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "support/GenericIfError.h"

#ifndef BTS_PRODUCT_PATH
#error "BTS_PRODUCT_PATH names the product library file"
#endif

namespace {

using Kiv::GenericIf;
using Kiv::KivType;
using Kiv::Ptr;
using Kiv::String8;

char const* const productPath = BTS_PRODUCT_PATH;

bool productLoaded() { return dlopen(productPath, RTLD_NOW | RTLD_NOLOAD) != nullptr; }

// The library stays loaded for the rest of the process: its type objects
// must outlive every use.
::testing::AssertionResult loadProduct() {
  if (productLoaded() || dlopen(productPath, RTLD_NOW | RTLD_GLOBAL)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << dlerror();
}

// Makes the registry refuse registrations for its lifetime.
struct Refusing {
  Refusing() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(false); }
  ~Refusing() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true); }
};

// A new system reflector with no references, made by its type alone.
Ptr<GenericIf> emptyStateReflector() {
  return KivType::typeNode("Bridging::StateReflector")
      ->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), false);
}

// Declared first: when all tests run in one process, this one must load the
// library itself.
TEST(ReflectorLoad, RefusingRegistryLeavesBareTypesThatALaterTypeQueryRegisters) {
  if (productLoaded()) GTEST_SKIP() << "needs a process that has not loaded the library yet";
  Refusing refusing;
  ASSERT_TRUE(loadProduct());
  std::vector<Ptr<KivType>> types;
  for (char const* name :
       {"Bridging::TopoPortStateReflector", "Bridging::TopoStateReflector", "Bridging::StateReflector"}) {
    types.push_back(KivType::typeNode(name));
    ASSERT_TRUE(types.back()) << name;
    EXPECT_TRUE(types.back()->attrTable()->members().empty()) << name;
    EXPECT_TRUE(types.back()->constructorArgs().empty()) << name;
    EXPECT_TRUE(types.back()->isTypeNode()) << name;
  }
  // Still refused: the adapter's type query (the class's _fwkType()) gives
  // the bare type and registers nothing.
  Ptr<GenericIf> const root = emptyStateReflector();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->objectType(), types[2]);
  EXPECT_THROW(root->attributeId("doSyncTopo"), GenericIf::Error);
  EXPECT_TRUE(types[2]->attrTable()->members().empty());

  Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true);
  EXPECT_EQ(root->objectType(), types[2]) << "the later query registers the same type objects";
  EXPECT_EQ(root->attributeId("doSyncTopo"), 141u);
  EXPECT_EQ(types[0]->attrTable()->members().size(), 21u);
  EXPECT_EQ(types[1]->attr("topoPortStateReflector")->id(), 137u);
  EXPECT_EQ(types[2]->constructorArgs().size(), 5u);
  EXPECT_EQ(Kiv::IntrospectionReactor::global()->openScopes(), 0u);
}

struct Attr {
  char const* name;
  Kiv::AttributeId id;
  char const* type;
  char const* keyType;  // "" for none
  Kiv::KivAttrFlags flags;
  Kiv::KivAttrIntrospectionFlags introspection;
  char const* arguments;  // "name: type, ..." for built attributes
};
struct Type {
  char const* name;
  char const* constructor;
  std::vector<Attr> attributes;
};

using Introspection = Kiv::KivAttrIntrospectionFlags;
constexpr Introspection independent = Introspection::isIndependentDomainAttr_();
constexpr Introspection indexed = Introspection::hasInternalIndex_() | independent;
constexpr Kiv::KivAttrFlags collectionFlags{0x09a20103u, 0x10000400u};

Attr ref(char const* name, Kiv::AttributeId id, char const* type, bool wrapped) {
  return {name, id, type, "", {0x08220109u, wrapped ? 0x00000400u : 0x40000400u}, independent, ""};
}
Attr key(char const* name, char const* type) {
  return {name, 130, type, "", {0x00220109u, 0x40000400u}, independent, ""};
}
Attr handler(char const* name, Kiv::AttributeId id, char const* args = "") {
  return {name, id, "void*", "", {0x00020001u, 0x00000400u}, Introspection::isFunction_(), args};
}
Attr state(char const* name, Kiv::AttributeId id, char const* type) {
  return {name, id, type, "", {0x00220103u, 0x00000400u}, independent, ""};
}
Attr fwkKey(char const* type) { return {"fwkKey", 0, type, "", {0x00200001u, 0x00000400u}, {}, ""}; }
Attr const activity{"kivFwkActivity", 0, "Kiv::ActivityConfig", "", {0x08000001u, 0x00000400u}, {}, ""};
Attr const notificationSwitch{"hasNotificationActiveIs", 0, "void*", "", {0x00000001u, 0x00000400u},
                              Introspection::isFunction_(), "hasNotificationActiveIs: bool"};
Attr const zombieSwitch{"kivDoZombieReactors", 0, "void*", "", {0x00000001u, 0x00000400u},
                        Introspection::isFunction_(), "on: bool"};

char const* const portConstructor =
    "intfId: Pyrel::IntfId, topoPortConfig: Bridging::Topology::TopoPortConfig, "
    "topoPortStatus: Bridging::Topology::TopoPortStatus, brConfig: Bridging::Config, brStatus: Bridging::Status, "
    "brTopoConfig: Bridging::Topology::Config, topoConfig: Bridging::Topology::TopoConfig, clock: Kiv::Clock, "
    "fdbClock: Kiv::Clock";
char const* const topologyConstructor =
    "name: Kiv::String, topoConfig: Bridging::Topology::TopoConfig, topoStatus: Bridging::Topology::Inst::TopoStatus, "
    "brConfig: Bridging::Config, brStatus: Bridging::Status, brTopoConfig: Bridging::Topology::Config, "
    "clock: Kiv::Clock";

// The three types in registration order, each with its attributes in
// registration order.
std::vector<Type> const reflectorTypes = {
    {"Bridging::TopoPortStateReflector",
     portConstructor,
     {activity,
      key("intfId", "Pyrel::IntfId"),
      ref("topoPortConfig", 131, "Bridging::Topology::TopoPortConfig", true),
      ref("topoPortStatus", 132, "Bridging::Topology::TopoPortStatus", false),
      ref("brConfig", 133, "Bridging::Config", false),
      ref("brStatus", 134, "Bridging::Status", false),
      ref("brTopoConfig", 135, "Bridging::Topology::Config", false),
      ref("topoConfig", 136, "Bridging::Topology::TopoConfig", false),
      ref("clock", 137, "Kiv::Clock", true),
      ref("fdbClock", 138, "Kiv::Clock", true),
      state("lastFdbFlush", 139, "double"),
      handler("handleState", 140),
      handler("handleFdbFlush", 141),
      handler("handleClock", 142),
      handler("handleFdbClock", 143),
      handler("doAddressTableFlush", 144),
      state("initialized", 145, "bool"),
      handler("handleInitialized", 146),
      fwkKey("Pyrel::IntfId"),
      notificationSwitch,
      zombieSwitch}},
    {"Bridging::TopoStateReflector",
     topologyConstructor,
     {activity,
      key("name", "Kiv::String"),
      ref("topoConfig", 131, "Bridging::Topology::TopoConfig", true),
      ref("topoStatus", 132, "Bridging::Topology::Inst::TopoStatus", true),
      ref("brConfig", 133, "Bridging::Config", true),
      ref("brStatus", 134, "Bridging::Status", true),
      ref("brTopoConfig", 135, "Bridging::Topology::Config", true),
      ref("clock", 136, "Kiv::Clock", false),
      {"topoPortStateReflector", 137, "Bridging::TopoPortStateReflector", "Pyrel::IntfId", collectionFlags, indexed,
       portConstructor},
      handler("handleTopoPortConfig", 138, "intfId: Pyrel::IntfId"),
      handler("handleTopoPortStatus", 140, "intfId: Pyrel::IntfId"),
      handler("handleCollectionChange", 142),
      handler("doSyncPort", 143, "intfId: Pyrel::IntfId"),
      state("initialized", 144, "bool"),
      handler("handleInitialized", 145),
      fwkKey("Kiv::String"),
      notificationSwitch,
      zombieSwitch}},
    {"Bridging::StateReflector",
     "config: Bridging::Topology::Config, status: Bridging::Topology::Inst::Status, brConfig: Bridging::Config, "
     "brStatus: Bridging::Status, clock: Kiv::Clock",
     {activity,
      ref("config", 130, "Bridging::Topology::Config", true),
      ref("status", 131, "Bridging::Topology::Inst::Status", true),
      ref("brConfig", 132, "Bridging::Config", true),
      ref("brStatus", 133, "Bridging::Status", true),
      ref("clock", 134, "Kiv::Clock", false),
      {"topoStateReflector", 135, "Bridging::TopoStateReflector", "Kiv::String", collectionFlags, indexed,
       topologyConstructor},
      handler("handleTopoConfig", 136, "name: Kiv::String"),
      handler("handleTopoStatus", 138, "name: Kiv::String"),
      handler("handleCollectionChange", 140),
      handler("doSyncTopo", 141, "name: Kiv::String"),
      state("initialized", 142, "bool"),
      handler("handleInitialized", 143),
      notificationSwitch,
      zombieSwitch}},
};

std::string argumentsOf(std::vector<Kiv::KivAttr::Argument> const& args) {
  std::string r;
  for (auto const& a : args) r += (r.empty() ? "" : ", ") + a.name.stdString() + ": " + a.typeName.stdString();
  return r;
}
String8 qualifiedName(Ptr<KivType> const& t) { return t ? t->qualifiedName() : String8(); }

TEST(ReflectorLoad, TypesCarryTheirAttributesIdsFlagsAndRegistrationOrder) {
  ASSERT_TRUE(loadProduct());
  std::vector<std::string> expectedTaken;
  for (Type const& e : reflectorTypes) {
    SCOPED_TRACE(e.name);
    Ptr<KivType> const t = KivType::typeNode(e.name);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isTypeNode());
    EXPECT_TRUE(t->hasGenericIfSupport());
    EXPECT_GT(t->size(), 0u);
    EXPECT_FALSE(t->parent());
    EXPECT_EQ(argumentsOf(t->constructorArgs()), e.constructor);
    auto const& members = t->attrTable()->members();
    ASSERT_EQ(members.size(), e.attributes.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
      Kiv::KivAttr const& a = *members[i];
      Attr const& want = e.attributes[i];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(a.name(), String8(want.name));
      EXPECT_EQ(a.id(), want.id);
      EXPECT_EQ(qualifiedName(a.type()), String8(want.type));
      EXPECT_EQ(qualifiedName(a.keyType()), String8(want.keyType));
      EXPECT_EQ(a.flags(), want.flags);
      EXPECT_EQ(a.introspectionFlags(), want.introspection);
      EXPECT_EQ(argumentsOf(a.arguments()), want.arguments);
      EXPECT_EQ(a.owner(), t.ptr());
      expectedTaken.push_back(t->name().stdString() + "." + want.name);
    }
  }

  // A collection's key attribute is the owner's descriptor of the key's
  // name: a detached one, since the owner has no attribute of that name.
  Ptr<Kiv::KivAttr> const members = KivType::typeNode("Bridging::StateReflector")->attr("topoStateReflector");
  ASSERT_TRUE(members->keyAttr());
  EXPECT_EQ(members->keyAttr()->name(), String8("name"));
  EXPECT_EQ(members->keyName(), String8("name"));
  EXPECT_FALSE(members->option());

  // The registry took the attributes one type after the other.
  std::vector<std::string> taken;
  for (auto const& a : Kiv::IntrospectionReactor::global()->attributesTaken()) {
    Kiv::KivType const* owner = a->owner();
    if (owner && owner->qualifiedName().stdString().find("StateReflector") != std::string::npos)
      taken.push_back(owner->name().stdString() + "." + a->name().stdString());
  }
  EXPECT_EQ(taken, expectedTaken);

  // The six types of the library: the agent model's first (its sources
  // are linked first), then the reflectors' in their registration order.
  std::vector<std::string> nodes;
  for (auto const& t : KivType::typeNodes())
    if (t->isTypeNode() && t->qualifiedName().stdString().rfind("Bridging::", 0) == 0)
      nodes.push_back(t->qualifiedName().stdString());
  ASSERT_EQ(nodes.size(), 6u);
  std::sort(nodes.begin(), nodes.begin() + 3);
  EXPECT_EQ(nodes, (std::vector<std::string>{"Bridging::Orva::Config", "Bridging::Orva::Config::TapDevice",
                                             "Bridging::Orva::Status", "Bridging::TopoPortStateReflector",
                                             "Bridging::TopoStateReflector", "Bridging::StateReflector"}));
}

TEST(ReflectorLoad, IdsOfNoAttributeGoToTheBase) {
  ASSERT_TRUE(loadProduct());
  auto const args = GenericIf::list({Kiv::Builtin<String8>::genericIf("t")});
  // The base refuses operation 0 of an id it does not serve, naming the id.
  auto refusedByTheBase = [&](Ptr<GenericIf> const& adapter, Kiv::AttributeId id) {
    return TestSupport::failsWith([&] { adapter->attributeOp({id, GenericIf::opGet}, args, nullptr); },
                                  Kiv::ExceptionId::opNotSupported, std::to_string(id).c_str());
  };
  Ptr<GenericIf> const root = emptyStateReflector();
  EXPECT_TRUE(refusedByTheBase(root, 137)) << "not handleTopoConfig";
  EXPECT_TRUE(refusedByTheBase(root, 139)) << "not handleTopoStatus";
  EXPECT_FALSE(root->attributeOp({136, GenericIf::opGet}, args, nullptr)) << "136 is handleTopoConfig";

  Ptr<GenericIf> const topology = root->attributeOp(
      {135, GenericIf::opSet}, nullptr,
      GenericIf::list({Kiv::Builtin<String8>::genericIf("t"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}));
  ASSERT_TRUE(topology);
  EXPECT_EQ(topology->objectType()->qualifiedName(), String8("Bridging::TopoStateReflector"));
  EXPECT_TRUE(refusedByTheBase(topology, 139));
  EXPECT_TRUE(refusedByTheBase(topology, 141));
}

}  // namespace
