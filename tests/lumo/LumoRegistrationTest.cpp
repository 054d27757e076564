// The bridging model built, driven and read through the type registry and
// generic access alone, as a script or a binding does: no model class is
// named here, only type and attribute names, and the product is loaded as
// a binding loads it.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "support/GenericCalls.h"
#include "support/GenericIfError.h"
#include "support/ProductLibrary.h"

namespace {

using namespace TestSupport;
using Kiv::GenericIf;

// The registered type of that name, the product loaded.
Kiv::Ptr<Kiv::KivType> typeNamed(char const* type) {
  static bool const loaded = loadProduct();
  if (!loaded) throw std::runtime_error("the product does not load");
  Kiv::Ptr<Kiv::KivType> const t = Kiv::KivType::typeNode(type);
  if (!t) throw std::runtime_error(std::string("no type ") + type);
  return t;
}

G make(char const* type, std::initializer_list<G> arguments) {
  return typeNamed(type)->genericIf(GenericIf::list(arguments), false);
}

G attr(G const& a, char const* name, std::uint32_t code, GC const& index = nullptr, G const& value = nullptr) {
  return op(a, a->attributeId(name), code, index, value);
}
G get(G const& a, char const* name, GC const& key = nullptr) { return attr(a, name, GenericIf::opGet, key); }
void set(G const& a, char const* name, G const& v) { attr(a, name, GenericIf::opSet, nullptr, v); }
// The member of `key` in an entity collection, made when absent.
G add(G const& a, char const* name, G const& key) {
  return attr(a, name, GenericIf::opSet, nullptr, GenericIf::list({key}));
}
void put(G const& a, char const* name, G const& key, G const& v) { attr(a, name, GenericIf::opSet, key, v); }
std::string text(GC const& g) { return g ? g->strRep().stdString() : "null"; }

// The keys and members of a collection, walked in the model's order.
std::string walk(G const& a, char const* name) {
  std::string out;
  for (Kiv::GenericIterator it(a->attributeIteratorConst(a->attributeId(name))); it.nonNull(); ++it) {
    out += (out.empty() ? "" : " ") + text(it.key()) + "=" + text(it.obj());
  }
  return out;
}

// The flush scenario of bridge-sim: two topologies, three VLANs, four
// hosts, the reflector tree over them.
struct FlushModel {
  G topoConfig = make("Bridging::Topology::Config", {str("topoConfig")});
  G topoStatus = make("Bridging::Topology::Inst::Status", {str("topoStatus")});
  G brConfig = make("Bridging::Config", {str("brConfig")});
  G brStatus = make("Bridging::Status", {str("brStatus")});
  G clock = make("Kiv::Clock", {str("clock")});
  G root;

  FlushModel() {
    Kiv::eventLoop().reset();
    root = make("Bridging::StateReflector", {topoConfig, topoStatus, brConfig, brStatus, clock});
    for (char const* t : {"blue", "green"}) {
      add(topoConfig, "topoConfig", str(t));
      add(topoStatus, "topoStatus", str(t));
    }
    for (auto [t, p] : {std::pair{"blue", "Ethernet1"}, {"blue", "Ethernet2"}, {"green", "Ethernet1"}}) {
      add(get(topoConfig, "topoConfig", str(t)), "topoPortConfig", str(p));
      add(get(topoStatus, "topoStatus", str(t)), "topoPortStatus", str(p));
    }
    for (auto [v, t] : {std::pair{10, "blue"}, {20, "blue"}, {30, "green"}}) {
      add(brConfig, "vlanConfig", integer(v));
      put(topoConfig, "vidToTopoMap", integer(v), get(topoConfig, "topoConfig", str(t)));
      add(brStatus, "fdbStatus", integer(v));
    }
    // A host as the interface it was learned on, or as a learned host value.
    put(fdb(10), "learnedHost", str("00:1c:73:00:00:01"), str("Ethernet1"));
    put(fdb(10), "learnedHost", str("00:1c:73:00:00:02"),
        make("Bridging::LearnedHost", {str("00:1c:73:00:00:02"), str("Ethernet2")}));
    put(fdb(20), "learnedHost", str("001c.7300.0003"), str("Ethernet1"));
    put(fdb(30), "learnedHost", str("00:1c:73:00:00:04"), str("Ethernet1"));
    Kiv::eventLoop().advance(0.001);
  }
  ~FlushModel() {
    root = nullptr;
    Kiv::eventLoop().reset();
  }

  G fdb(int vlan) const { return get(brStatus, "fdbStatus", integer(vlan)); }
  G portConfig(char const* t, char const* p) const {
    return get(get(topoConfig, "topoConfig", str(t)), "topoPortConfig", str(p));
  }
  G portStatus(char const* t, char const* p) const {
    return get(get(topoStatus, "topoStatus", str(t)), "topoPortStatus", str(p));
  }
  // Everything a refused change must leave as it was.
  std::string summary() const {
    return walk(topoConfig, "topoConfig") + " | " + walk(get(topoConfig, "topoConfig", str("blue")), "topoPortConfig") +
           " | " + walk(topoConfig, "vidToTopoMap") + " | " + walk(brConfig, "vlanConfig") + " | " +
           walk(fdb(10), "learnedHost") + " | " + text(get(portConfig("blue", "Ethernet1"), "state"));
  }
};

TEST(LumoRegistration, FlushScenarioBuiltThroughTheRegistryRemovesOnlyTheFlushedPortsHostsInItsTopology) {
  FlushModel m;
  G const port = m.portConfig("blue", "Ethernet1");
  set(port, "fdbFlush", integer(valueOf<unsigned int>(get(port, "fdbFlush")) + 1));
  EXPECT_EQ(text(get(m.portStatus("blue", "Ethernet1"), "fdbFlushReport")), "0");  // reported 2^-20 s later
  Kiv::eventLoop().advance(0.001);
  EXPECT_EQ(text(get(m.portStatus("blue", "Ethernet1"), "fdbFlushReport")), "1");

  EXPECT_EQ(
      walk(m.fdb(10), "learnedHost"),
      "'00:1c:73:00:00:02'=Value('Bridging::LearnedHost', ** {'addr': '00:1c:73:00:00:02', 'intf': 'Ethernet2'})");
  EXPECT_EQ(text(attr(m.fdb(20), "learnedHost", GenericIf::opCount)), "0");
  EXPECT_EQ(text(attr(m.fdb(30), "learnedHost", GenericIf::opExists, str("00:1c:73:00:00:04"))), "True");
  EXPECT_EQ(text(get(m.fdb(10), "learnedHost", str("00:1c:73:00:00:01"))), "null");
}

TEST(LumoRegistration, PortStateWrittenAsTextIsReflectedIntoTheStatus) {
  FlushModel m;
  set(m.portConfig("green", "Ethernet1"), "state", str("forwarding"));
  Kiv::eventLoop().advance(0.001);
  EXPECT_EQ(text(get(m.portStatus("green", "Ethernet1"), "state")), "'forwarding'");
  EXPECT_EQ(text(get(m.portStatus("blue", "Ethernet1"), "state")), "'disabled'");
}

TEST(LumoRegistration, CollectionsWalkAndChangeInTheModelsOrder) {
  FlushModel m;
  EXPECT_EQ(walk(m.topoConfig, "vidToTopoMap"), "30='topoConfig/green' 20='topoConfig/blue' 10='topoConfig/blue'");
  EXPECT_EQ(walk(m.brStatus, "fdbStatus"), "30='brStatus/30' 20='brStatus/20' 10='brStatus/10'");
  // A key iterator stands on its key, or at the end.
  Kiv::GenericIterator at(
      m.topoConfig->attributeIteratorKeyConst(m.topoConfig->attributeId("topoConfig"), str("green")));
  EXPECT_EQ(text(at.key()), "'green'");
  EXPECT_FALSE(
      Kiv::GenericIterator(m.topoConfig->attributeIteratorKeyConst(m.topoConfig->attributeId("topoConfig"), str("red")))
          .nonNull());
  // Removing a topology removes its reflector; the removed member comes
  // back, no longer a child of the configuration.
  EXPECT_EQ(text(attr(m.topoConfig, "topoConfig", GenericIf::opDel, str("green"))), "'green'");
  EXPECT_EQ(walk(m.root, "topoStateReflector"), "'blue'='<TopoStateReflector>'");
  EXPECT_EQ(text(attr(m.topoConfig, "vidToTopoMap", GenericIf::opDel, integer(30))), "'green'");
  EXPECT_EQ(text(attr(m.topoConfig, "vidToTopoMap", GenericIf::opDel, integer(30))), "null");
}

TEST(LumoRegistration, AnAdapterHearsEveryChangeOfItsEntityWithTheMembersKey) {
  FlushModel m;
  std::vector<std::string> heard;
  auto const sink = [&](Kiv::AttributeId id, GC const& key) { heard.push_back(std::to_string(id) + " " + text(key)); };
  m.topoConfig->attributeSinkIs(sink);
  G const port = m.portConfig("blue", "Ethernet2");
  port->attributeSinkIs(sink);
  add(m.topoConfig, "topoConfig", str("red"));
  put(m.topoConfig, "vidToTopoMap", integer(40), get(m.topoConfig, "topoConfig", str("red")));
  set(port, "state", str("learning"));
  // A change through another adapter of the port, dropped since.
  set(m.portConfig("blue", "Ethernet2"), "lowerAgingTime", boolean(true));
  EXPECT_EQ(heard, (std::vector<std::string>{"258 'red'", "259 40", "258 null", "260 null"}));
}

TEST(LumoRegistration, ValuesReadBackFromTheirTextForms) {
  for (auto [type, form] :
       {std::pair{"Bridging::VlanId", "4094"},
        {"Bridging::Fid", "7"},
        {"Bridging::Topology::PortState", "'learning'"},
        {"Pyrel::EthAddr", "'00:1c:73:00:00:0a'"},
        {"Pyrel::IntfId", "'Ethernet3/1'"},
        {"Bridging::LearnedHost",
         "Value('Bridging::LearnedHost', ** {'addr': '00:1c:73:00:00:01', 'intf': 'Ethernet1'})"}}) {
    EXPECT_EQ(text(typeNamed(type)->genericIfFromStrep(form, false)), form) << type;
  }
}

// Each bad input is refused with the error naming the attribute or
// argument, and leaves the model as it was.
TEST(LumoRegistration, BadInputIsRefusedNamingItAndChangesNothing) {
  FlushModel m;
  G const port = m.portConfig("blue", "Ethernet1");
  G const blue = get(m.topoConfig, "topoConfig", str("blue"));
  G const elsewhere = add(make("Bridging::Topology::Config", {str("other")}), "topoConfig", str("blue"));
  struct Row {
    char const* what;
    std::function<void()> call;
    std::uint32_t id;
    char const* subject;
  };
  using namespace Kiv::ExceptionId;
  Row const rows[] = {
      {"VLAN 0", [&] { add(m.brConfig, "vlanConfig", integer(0)); }, range, "vlanId"},
      {"VLAN 4095", [&] { add(m.brConfig, "vlanConfig", integer(4095)); }, range, "vlanId"},
      {"VLAN -1 in the map", [&] { put(m.topoConfig, "vidToTopoMap", integer(-1), blue); }, range, "vid"},
      {"VLAN as text", [&] { put(m.topoConfig, "vidToTopoMap", str("10"), blue); }, type, "vid"},
      {"topology of another configuration", [&] { put(m.topoConfig, "vidToTopoMap", integer(40), elsewhere); }, range,
       "vidToTopoMap"},
      {"a port as a topology", [&] { put(m.topoConfig, "vidToTopoMap", integer(40), port); }, type, "vidToTopoMap"},
      {"empty interface name", [&] { add(blue, "topoPortConfig", str("")); }, range, "intfId"},
      {"interface name with a blank", [&] { add(blue, "topoPortConfig", str("Ethernet 1")); }, range, "intfId"},
      {"interface as a number", [&] { add(blue, "topoPortConfig", integer(1)); }, type, "intfId"},
      {"a second argument",
       [&] {
         attr(blue, "topoPortConfig", GenericIf::opSet, nullptr, GenericIf::list({str("Ethernet9"), str("x")}));
       },
       unknownArg, "topoPortConfig"},
      {"unknown port state", [&] { set(port, "state", str("up")); }, range, "state"},
      {"port state as a number", [&] { set(port, "state", integer(3)); }, type, "state"},
      {"port state with an index", [&] { attr(port, "state", GenericIf::opSet, str("x"), str("forwarding")); },
       badIndex, "state"},
      {"flush counter as text", [&] { set(port, "fdbFlush", str("1")); }, type, "fdbFlush"},
      {"read-only interface", [&] { set(port, "intfId", str("Ethernet9")); }, opNotSupported, "intfId"},
      {"bad address", [&] { put(m.fdb(10), "learnedHost", str("00:1c:73"), str("Ethernet1")); }, range, "addr"},
      {"host under another address",
       [&] {
         put(m.fdb(10), "learnedHost", str("00:1c:73:00:00:09"),
             make("Bridging::LearnedHost", {str("00:1c:73:00:00:01"), str("Ethernet1")}));
       },
       range, "learnedHost"},
      {"host on no interface", [&] { put(m.fdb(10), "learnedHost", str("00:1c:73:00:00:09"), str("")); }, range,
       "learnedHost"},
      {"host without its interface", [&] { make("Bridging::LearnedHost", {str("00:1c:73:00:00:09")}); }, type, "intf"},
      {"configuration without a name", [&] { make("Bridging::Topology::Config", {}); }, type, "name"},
      {"clock with two names",
       [&] {
         make("Kiv::Clock", {str("a"), str("b")});
       },
       unknownArg, "Clock"},
      {"const adapter", [&] { set(Kiv::KivType::genericIf(port->object(), true), "state", str("forwarding")); },
       constInstance, constMessage},
  };
  std::string const before = m.summary();
  for (Row const& row : rows) {
    EXPECT_TRUE(failsWith(row.call, row.id, row.subject)) << row.what;
    EXPECT_EQ(m.summary(), before) << row.what;
  }
}

}  // namespace
