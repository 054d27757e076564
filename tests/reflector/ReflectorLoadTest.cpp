// The reflector types as a process that knows none of the product's
// classes sees them. This program links only the runtime and loads the
// library with dlopen: the reflector types are found by their qualified
// names with every attribute as registered, and ids of no attribute go to
// the base. (The not-ready path of the registration and the ".kiv.type"
// section are checked by agent_load_tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "support/AttributeListing.h"
#include "support/GenericIfError.h"
#include "support/ProductLibrary.h"

namespace {

using Kiv::GenericIf;
using Kiv::KivType;
using Kiv::Ptr;
using Kiv::String8;
using TestSupport::loadProduct;

// The expected attribute lines (support/AttributeListing.h) by kind of
// attribute. Introspection bits: 1 independent, 2 function, 4 internal
// index.
std::string ref(char const* name, Kiv::AttributeId id, char const* type, bool wrapped) {
  return std::to_string(id) + " " + name + " : " + type + (wrapped ? " 08220109 00000400 1" : " 08220109 40000400 1");
}
std::string key(char const* name, char const* type) {
  return std::string("130 ") + name + " : " + type + " 00220109 40000400 1";
}
std::string handler(char const* name, Kiv::AttributeId id, char const* args = nullptr) {
  return std::to_string(id) + " " + name + " : void* 00020001 00000400 2" +
         (args ? " (" + std::string(args) + ")" : "");
}
std::string state(char const* name, Kiv::AttributeId id, char const* type) {
  return std::to_string(id) + " " + name + " : " + type + " 00220103 00000400 1";
}
std::string fwkKey(char const* type) { return std::string("0 fwkKey : ") + type + " 00200001 00000400 0"; }
std::string collection(char const* name, Kiv::AttributeId id, char const* type, char const* key, char const* member) {
  return std::to_string(id) + " " + name + " : " + type + " by " + key + " 09a20103 10000400 5 (" + member + ")";
}
std::string const activity = "0 kivFwkActivity : Kiv::ActivityConfig 08000001 00000400 0";
std::string const notificationSwitch =
    "0 hasNotificationActiveIs : void* 00000001 00000400 2 (hasNotificationActiveIs: bool)";
std::string const zombieSwitch = "0 kivDoZombieReactors : void* 00000001 00000400 2 (on: bool)";

struct Type {
  char const* name;
  char const* constructor;
  std::vector<std::string> attributes;
};

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
     {
         activity,
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
         zombieSwitch,
     }},
    {"Bridging::TopoStateReflector",
     topologyConstructor,
     {
         activity,
         key("name", "Kiv::String"),
         ref("topoConfig", 131, "Bridging::Topology::TopoConfig", true),
         ref("topoStatus", 132, "Bridging::Topology::Inst::TopoStatus", true),
         ref("brConfig", 133, "Bridging::Config", true),
         ref("brStatus", 134, "Bridging::Status", true),
         ref("brTopoConfig", 135, "Bridging::Topology::Config", true),
         ref("clock", 136, "Kiv::Clock", false),
         collection("topoPortStateReflector", 137, "Bridging::TopoPortStateReflector", "Pyrel::IntfId",
                    portConstructor),
         handler("handleTopoPortConfig", 138, "intfId: Pyrel::IntfId"),
         handler("handleTopoPortStatus", 140, "intfId: Pyrel::IntfId"),
         handler("handleCollectionChange", 142),
         handler("doSyncPort", 143, "intfId: Pyrel::IntfId"),
         state("initialized", 144, "bool"),
         handler("handleInitialized", 145),
         fwkKey("Kiv::String"),
         notificationSwitch,
         zombieSwitch,
     }},
    {"Bridging::StateReflector",
     "config: Bridging::Topology::Config, status: Bridging::Topology::Inst::Status, brConfig: Bridging::Config, "
     "brStatus: Bridging::Status, clock: Kiv::Clock",
     {
         activity,
         ref("config", 130, "Bridging::Topology::Config", true),
         ref("status", 131, "Bridging::Topology::Inst::Status", true),
         ref("brConfig", 132, "Bridging::Config", true),
         ref("brStatus", 133, "Bridging::Status", true),
         ref("clock", 134, "Kiv::Clock", false),
         collection("topoStateReflector", 135, "Bridging::TopoStateReflector", "Kiv::String", topologyConstructor),
         handler("handleTopoConfig", 136, "name: Kiv::String"),
         handler("handleTopoStatus", 138, "name: Kiv::String"),
         handler("handleCollectionChange", 140),
         handler("doSyncTopo", 141, "name: Kiv::String"),
         state("initialized", 142, "bool"),
         handler("handleInitialized", 143),
         notificationSwitch,
         zombieSwitch,
     }},
};

TEST(ReflectorLoad, TypesCarryTheirAttributesIdsFlagsAndRegistrationOrder) {
  ASSERT_TRUE(loadProduct());
  std::vector<std::string> expectedTaken;
  for (Type const& e : reflectorTypes) {
    SCOPED_TRACE(e.name);
    Ptr<KivType> const t = KivType::typeNode(e.name);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isTypeNode() && t->hasGenericIfSupport() && t->size() > 0);
    EXPECT_FALSE(t->parent());
    EXPECT_EQ(TestSupport::argumentText(t->constructorArgs()), e.constructor);
    EXPECT_EQ(TestSupport::attributeLines(t), e.attributes);
    for (auto const& a : t->attrTable()->members())
      expectedTaken.push_back(t->name().stdString() + "." + a->name().stdString());
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
  // The bridging model's types come from libLumo, loaded with it.
  std::vector<std::string> nodes;
  for (auto const& t : KivType::typeNodes()) {
    std::string const name = t->qualifiedName().stdString();
    bool const product = name.rfind("Bridging::Orva::", 0) == 0 || name.find("StateReflector") != std::string::npos;
    if (t->isTypeNode() && product) nodes.push_back(name);
  }
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
    return TestSupport::failsWith(
        [&] {
          adapter->attributeOp({id, GenericIf::opGet}, args, nullptr);
        },
        Kiv::ExceptionId::opNotSupported, std::to_string(id).c_str());
  };
  Ptr<GenericIf> const root = KivType::typeNode("Bridging::StateReflector")
                                  ->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), false);
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
