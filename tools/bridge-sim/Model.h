#pragma once
// The simulated agent's model: the topology configuration and status, the
// bridging configuration and status, the clock and the state reflector tree
// over them, and the agent's own Config (a tap device per port) and
// Status. Model::build makes the standard set-up of a given size;
// the scenario commands and the default run change it one piece at a time.
//
// Entities are named as in an agent: "topoConfig", "topoStatus",
// "brConfig", "brStatus", "clock", "agentConfig", "agentStatus". A VLAN's
// forwarding database is the one under the Fid of the same number.
#include <cstdint>
#include <functional>
#include <string>

#include "Kiv/Clock.h"
#include "Kiv/Ptr.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "agent/Config.h"
#include "agent/Status.h"
#include "reflector/TopoStateReflector.h"

namespace BridgeSim {

using Bridging::Topology::PortState;
using TapDevice = Bridging::Orva::Config::TapDevice;

struct Sizes {
  std::uint32_t topologies = 2;
  std::uint32_t ports = 8;  // in every topology
  std::uint32_t vlans = 4;  // spread over the topologies in turn
  std::uint64_t hosts = 64;  // spread over the VLANs and the ports in turn
};

class Model {
 public:
  // The empty model with its reflector tree.
  Model();
  ~Model();
  Model(Model const&) = delete;
  Model& operator=(Model const&) = delete;

  // The standard set-up: topologies "topo0".., ports Ethernet1.. in each,
  // VLANs 1.. mapped to the topologies in turn, hosts 00:1c:73:00:00:00 +
  // i, and a tap device "et<n>" per port. `progress` hears the fraction done.
  void build(Sizes const& sizes, std::function<void(double)> const& progress = {});
  static Pyrel::IntfId portName(std::uint32_t i);  // Ethernet<i+1>
  static Pyrel::EthAddr hostAddr(std::uint64_t i);
  static Kiv::Name topologyName(std::uint32_t i);  // topo<i>

  // --- Changes. Each throws BadInput naming what does not exist.
  void topologyIs(Kiv::Name const& topo);  // configuration and status
  void topologyDel(Kiv::Name const& topo);
  void topologyConfigDel(Kiv::Name const& topo);
  void topologyStatusDel(Kiv::Name const& topo);
  void portIs(Kiv::Name const& topo, Pyrel::IntfId const& port);  // configuration and status
  void portDel(Kiv::Name const& topo, Pyrel::IntfId const& port);
  void portConfigDel(Kiv::Name const& topo, Pyrel::IntfId const& port);
  void portStatusDel(Kiv::Name const& topo, Pyrel::IntfId const& port);
  // VLAN configuration, its forwarding database and its topology.
  void vlanIs(Bridging::VlanId vid, Kiv::Name const& topo);
  void vlanDel(Bridging::VlanId vid);
  void hostIs(Bridging::VlanId vid, Pyrel::EthAddr const& addr, Pyrel::IntfId const& port);
  void hostDel(Bridging::VlanId vid, Pyrel::EthAddr const& addr);
  void stateIs(Kiv::Name const& topo, Pyrel::IntfId const& port, PortState state);
  // Raises the port's flush request counter; returns its new value.
  std::uint32_t flush(Kiv::Name const& topo, Pyrel::IntfId const& port);

  // --- Reading. Null or zero where nothing is.
  Kiv::Ptr<Bridging::Topology::TopoPortConfig> portConfig(Kiv::Name const& topo, Pyrel::IntfId const& port) const;
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> portStatus(Kiv::Name const& topo, Pyrel::IntfId const& port) const;
  bool reflectorPresent(Kiv::Name const& topo) const;
  bool reflectorPresent(Kiv::Name const& topo, Pyrel::IntfId const& port) const;
  std::uint32_t reflectors() const;  // port reflectors in all topologies
  // Hosts learned in `vid` (on `port` when it is not empty).
  std::uint64_t hosts(Bridging::VlanId vid, Pyrel::IntfId const& port = Pyrel::IntfId()) const;
  std::uint64_t hosts() const;  // in every VLAN
  bool hostLearned(Bridging::VlanId vid, Pyrel::EthAddr const& addr, Pyrel::IntfId* on = nullptr) const;

  Kiv::Ptr<Bridging::Topology::Config> const topoConfig;
  Kiv::Ptr<Bridging::Topology::Inst::Status> const topoStatus;
  Kiv::Ptr<Bridging::Config> const brConfig;
  Kiv::Ptr<Bridging::Status> const brStatus;
  Kiv::Ptr<Kiv::Clock> const clock;
  Kiv::Ptr<Bridging::Orva::Config> const agentConfig;
  Kiv::Ptr<Bridging::Orva::Status> const agentStatus;

 private:
  Kiv::Ptr<Bridging::Topology::TopoConfig> topology(Kiv::Name const& topo) const;  // throws
  Kiv::Ptr<Bridging::Topology::TopoPortConfig> port(Kiv::Name const& topo, Pyrel::IntfId const& port) const;
  Kiv::Ptr<Bridging::FdbStatus> fdb(Bridging::VlanId vid) const;  // throws
  Kiv::Ptr<Bridging::StateReflector> root_;
};

// The text of a port state, and the state a text names (BadInput otherwise).
std::string stateName(PortState s);
PortState stateNamed(std::string const& text);

}  // namespace BridgeSim
