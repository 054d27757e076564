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
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"

#ifndef BTS_PRODUCT_PATH
#error "BTS_PRODUCT_PATH names the product library file"
#endif

namespace {

using Kiv::GenericIf;
using Kiv::KivType;
using Kiv::Ptr;
using Kiv::String8;

char const* const productPath = BTS_PRODUCT_PATH;
char const* const reflectorTypeNames[] = {"Bridging::TopoPortStateReflector", "Bridging::TopoStateReflector",
                                          "Bridging::StateReflector"};

bool productLoaded() { return dlopen(productPath, RTLD_NOW | RTLD_NOLOAD) != nullptr; }

// The library stays loaded for the rest of the process: its type objects
// must outlive every use.
::testing::AssertionResult loadProduct() {
  if (dlopen(productPath, RTLD_NOW | RTLD_GLOBAL)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << dlerror();
}

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
  for (char const* name : reflectorTypeNames) {
    Ptr<KivType> const t = KivType::typeNode(name);
    ASSERT_TRUE(t) << name;
    EXPECT_TRUE(t->attrTable()->members().empty()) << name;
    EXPECT_TRUE(t->constructorArgs().empty()) << name;
    EXPECT_TRUE(t->isTypeNode()) << name;
    types.push_back(t);
  }
  // Still refused: the adapter's type query (the class's _fwkType()) gives
  // the bare type and registers nothing.
  Ptr<GenericIf> const root = emptyStateReflector();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->objectType(), types[2]);
  EXPECT_TRUE(types[2]->attrTable()->members().empty());
  EXPECT_THROW(root->attributeId("doSyncTopo"), GenericIf::Error);

  Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true);
  EXPECT_EQ(root->objectType(), types[2]) << "the later query registers the same type objects";
  EXPECT_EQ(root->attributeId("doSyncTopo"), 141u);
  EXPECT_EQ(types[0]->attrTable()->members().size(), 21u);
  EXPECT_EQ(types[1]->attr("topoPortStateReflector")->id(), 137u);
  EXPECT_EQ(types[2]->constructorArgs().size(), 5u);
  EXPECT_EQ(Kiv::IntrospectionReactor::global()->openScopes(), 0u);
}

struct ExpectedAttr {
  char const* name;
  Kiv::AttributeId id;
  char const* type;
  char const* keyType;  // "" for none
  Kiv::KivAttrFlags flags;
  Kiv::KivAttrIntrospectionFlags introspection;
  std::vector<std::string> arguments;  // "name: type" for built attributes
};

constexpr Kiv::KivAttrIntrospectionFlags none{};
constexpr Kiv::KivAttrIntrospectionFlags independent = Kiv::KivAttrIntrospectionFlags::isIndependentDomainAttr_();
constexpr Kiv::KivAttrIntrospectionFlags function = Kiv::KivAttrIntrospectionFlags::isFunction_();
constexpr Kiv::KivAttrIntrospectionFlags indexed =
    Kiv::KivAttrIntrospectionFlags::hasInternalIndex_() | Kiv::KivAttrIntrospectionFlags::isIndependentDomainAttr_();
constexpr Kiv::KivAttrFlags handlerFlags{0x00020001u, 0x00000400u};

std::vector<std::string> argumentsOf(std::vector<Kiv::KivAttr::Argument> const& args) {
  std::vector<std::string> r;
  for (auto const& a : args) r.push_back(a.name.stdString() + ": " + a.typeName.stdString());
  return r;
}

void expectType(char const* qualifiedName, std::vector<std::string> const& constructor,
                std::vector<ExpectedAttr> const& expected) {
  SCOPED_TRACE(qualifiedName);
  Ptr<KivType> const t = KivType::typeNode(qualifiedName);
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->isTypeNode());
  EXPECT_TRUE(t->hasGenericIfSupport());
  EXPECT_GT(t->size(), 0u);
  EXPECT_FALSE(t->parent());
  EXPECT_EQ(argumentsOf(t->constructorArgs()), constructor);
  auto const& members = t->attrTable()->members();
  ASSERT_EQ(members.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    Kiv::KivAttr const& a = *members[i];
    ExpectedAttr const& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(a.name(), String8(e.name));
    EXPECT_EQ(a.id(), e.id);
    EXPECT_EQ(a.type() ? a.type()->qualifiedName() : String8(), String8(e.type));
    EXPECT_EQ(a.keyType() ? a.keyType()->qualifiedName() : String8(), String8(e.keyType));
    EXPECT_EQ(a.flags(), e.flags);
    EXPECT_EQ(a.introspectionFlags(), e.introspection);
    EXPECT_EQ(argumentsOf(a.arguments()), e.arguments);
    EXPECT_EQ(a.owner(), t.ptr());
  }
}

ExpectedAttr ref(char const* name, Kiv::AttributeId id, char const* type, bool wrapped) {
  return {name, id, type, "", {0x08220109u, wrapped ? 0x00000400u : 0x40000400u}, independent, {}};
}
ExpectedAttr handler(char const* name, Kiv::AttributeId id, std::vector<std::string> args = {}) {
  return {name, id, "void*", "", handlerFlags, function, std::move(args)};
}
ExpectedAttr state(char const* name, Kiv::AttributeId id, char const* type) {
  return {name, id, type, "", {0x00220103u, 0x00000400u}, independent, {}};
}
ExpectedAttr const activity{"kivFwkActivity", 0, "Kiv::ActivityConfig", "", {0x08000001u, 0x00000400u}, none, {}};
ExpectedAttr const notificationSwitch{
    "hasNotificationActiveIs", 0, "void*", "", {0x00000001u, 0x00000400u}, function, {"hasNotificationActiveIs: bool"}};
ExpectedAttr const zombieSwitch{"kivDoZombieReactors",      0,        "void*",     "",
                                {0x00000001u, 0x00000400u}, function, {"on: bool"}};

std::vector<std::string> const portConstructor = {"intfId: Pyrel::IntfId",
                                                  "topoPortConfig: Bridging::Topology::TopoPortConfig",
                                                  "topoPortStatus: Bridging::Topology::TopoPortStatus",
                                                  "brConfig: Bridging::Config",
                                                  "brStatus: Bridging::Status",
                                                  "brTopoConfig: Bridging::Topology::Config",
                                                  "topoConfig: Bridging::Topology::TopoConfig",
                                                  "clock: Kiv::Clock",
                                                  "fdbClock: Kiv::Clock"};
std::vector<std::string> const topologyConstructor = {"name: Kiv::String",
                                                      "topoConfig: Bridging::Topology::TopoConfig",
                                                      "topoStatus: Bridging::Topology::Inst::TopoStatus",
                                                      "brConfig: Bridging::Config",
                                                      "brStatus: Bridging::Status",
                                                      "brTopoConfig: Bridging::Topology::Config",
                                                      "clock: Kiv::Clock"};

TEST(ReflectorLoad, TypesCarryTheirAttributesIdsFlagsAndRegistrationOrder) {
  if (!productLoaded()) {
    ASSERT_TRUE(loadProduct());
  }
  expectType("Bridging::TopoPortStateReflector", portConstructor,
             {activity,
              {"intfId", 130, "Pyrel::IntfId", "", {0x00220109u, 0x40000400u}, independent, {}},
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
              {"fwkKey", 0, "Pyrel::IntfId", "", {0x00200001u, 0x00000400u}, none, {}},
              notificationSwitch,
              zombieSwitch});
  expectType("Bridging::TopoStateReflector", topologyConstructor,
             {activity,
              {"name", 130, "Kiv::String", "", {0x00220109u, 0x40000400u}, independent, {}},
              ref("topoConfig", 131, "Bridging::Topology::TopoConfig", true),
              ref("topoStatus", 132, "Bridging::Topology::Inst::TopoStatus", true),
              ref("brConfig", 133, "Bridging::Config", true),
              ref("brStatus", 134, "Bridging::Status", true),
              ref("brTopoConfig", 135, "Bridging::Topology::Config", true),
              ref("clock", 136, "Kiv::Clock", false),
              {"topoPortStateReflector",
               137,
               "Bridging::TopoPortStateReflector",
               "Pyrel::IntfId",
               {0x09a20103u, 0x10000400u},
               indexed,
               portConstructor},
              handler("handleTopoPortConfig", 138, {"intfId: Pyrel::IntfId"}),
              handler("handleTopoPortStatus", 140, {"intfId: Pyrel::IntfId"}),
              handler("handleCollectionChange", 142),
              handler("doSyncPort", 143, {"intfId: Pyrel::IntfId"}),
              state("initialized", 144, "bool"),
              handler("handleInitialized", 145),
              {"fwkKey", 0, "Kiv::String", "", {0x00200001u, 0x00000400u}, none, {}},
              notificationSwitch,
              zombieSwitch});
  expectType("Bridging::StateReflector",
             {"config: Bridging::Topology::Config", "status: Bridging::Topology::Inst::Status",
              "brConfig: Bridging::Config", "brStatus: Bridging::Status", "clock: Kiv::Clock"},
             {activity,
              ref("config", 130, "Bridging::Topology::Config", true),
              ref("status", 131, "Bridging::Topology::Inst::Status", true),
              ref("brConfig", 132, "Bridging::Config", true),
              ref("brStatus", 133, "Bridging::Status", true),
              ref("clock", 134, "Kiv::Clock", false),
              {"topoStateReflector",
               135,
               "Bridging::TopoStateReflector",
               "Kiv::String",
               {0x09a20103u, 0x10000400u},
               indexed,
               topologyConstructor},
              handler("handleTopoConfig", 136, {"name: Kiv::String"}),
              handler("handleTopoStatus", 138, {"name: Kiv::String"}),
              handler("handleCollectionChange", 140),
              handler("doSyncTopo", 141, {"name: Kiv::String"}),
              state("initialized", 142, "bool"),
              handler("handleInitialized", 143),
              notificationSwitch,
              zombieSwitch});

  // A collection's key attribute is the owner's descriptor of the key's
  // name: a detached one, since the owner has no attribute of that name.
  Ptr<Kiv::KivAttr> const members = KivType::typeNode("Bridging::StateReflector")->attr("topoStateReflector");
  ASSERT_TRUE(members->keyAttr());
  EXPECT_EQ(members->keyAttr()->name(), String8("name"));
  EXPECT_EQ(members->keyName(), String8("name"));
  EXPECT_FALSE(members->option());

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
  std::vector<std::string> taken;
  for (auto const& a : Kiv::IntrospectionReactor::global()->attributesTaken()) {
    Kiv::KivType const* owner = a->owner();
    if (owner && owner->qualifiedName().stdString().find("StateReflector") != std::string::npos)
      taken.push_back(owner->name().stdString() + "." + a->name().stdString());
  }
  ASSERT_EQ(taken.size(), 21u + 18u + 15u);
  EXPECT_EQ(taken[0], "TopoPortStateReflector.kivFwkActivity");
  EXPECT_EQ(taken[20], "TopoPortStateReflector.kivDoZombieReactors");
  EXPECT_EQ(taken[21], "TopoStateReflector.kivFwkActivity");
  EXPECT_EQ(taken[29], "TopoStateReflector.topoPortStateReflector");
  EXPECT_EQ(taken[39], "StateReflector.kivFwkActivity");
  EXPECT_EQ(taken.back(), "StateReflector.kivDoZombieReactors");
}

// Whether operation 0 of `id` is the "operation not supported" error that
// the base gives for an id of no attribute, naming the id.
::testing::AssertionResult refusedByTheBase(Ptr<GenericIf> const& adapter, Kiv::AttributeId id) {
  try {
    adapter->attributeOp({id, GenericIf::opGet}, GenericIf::list({Kiv::Builtin<String8>::genericIf("t")}), nullptr);
  } catch (GenericIf::Error const& e) {
    if (e.hasId(Kiv::ExceptionId::opNotSupported) && e.subject() == String8(std::to_string(id)))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << e.message();
  }
  return ::testing::AssertionFailure() << "served " << id;
}

TEST(ReflectorLoad, IdsOfNoAttributeGoToTheBase) {
  if (!productLoaded()) {
    ASSERT_TRUE(loadProduct());
  }
  Ptr<GenericIf> const root = emptyStateReflector();
  EXPECT_TRUE(refusedByTheBase(root, 137)) << "not handleTopoConfig";
  EXPECT_TRUE(refusedByTheBase(root, 139)) << "not handleTopoStatus";
  EXPECT_FALSE(
      root->attributeOp({136, GenericIf::opGet}, GenericIf::list({Kiv::Builtin<String8>::genericIf("t")}), nullptr))
      << "136 is handleTopoConfig";

  Ptr<GenericIf> const topology = root->attributeOp(
      {135, GenericIf::opSet}, nullptr,
      GenericIf::list({Kiv::Builtin<String8>::genericIf("t"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}));
  ASSERT_TRUE(topology);
  EXPECT_EQ(topology->objectType()->qualifiedName(), String8("Bridging::TopoStateReflector"));
  EXPECT_TRUE(refusedByTheBase(topology, 139));
  EXPECT_TRUE(refusedByTheBase(topology, 141));
}

}  // namespace
