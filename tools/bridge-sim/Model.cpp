#include "Model.h"

#include "BadInput.h"

#include <sstream>

#include "Kiv/Exception.h"
#include "Lumo/Types.h"

namespace BridgeSim {

namespace {

std::string quoted(Kiv::Name const& n) { return Kiv::valueToStrep(n).stdString(); }
std::string quoted(Pyrel::IntfId const& i) { return Kiv::valueToStrep(i).stdString(); }

}  // namespace

std::string stateName(PortState s) {
  std::ostringstream os;
  os << s;
  return os.str();
}

PortState stateNamed(std::string const& text) {
  try {
    return Bridging::Topology::portStateNamed(Kiv::String8(text));
  } catch (Kiv::RangeException const& e) {
    throw BadInput(e.message().stdString());
  }
}

Model::Model()
    : topoConfig(Bridging::Topology::Config::ConfigIs("topoConfig")),
      topoStatus(Bridging::Topology::Inst::Status::StatusIs("topoStatus")),
      brConfig(Bridging::Config::ConfigIs("brConfig")),
      brStatus(Bridging::Status::StatusIs("brStatus")),
      clock(Kiv::Clock::ClockIs("clock")),
      agentConfig(Bridging::Orva::configFactory("agentConfig")),
      agentStatus(Bridging::Orva::statusFactory("agentStatus")),
      root_(Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock)) {}

Model::~Model() { root_ = nullptr; }

Pyrel::IntfId Model::portName(std::uint32_t i) { return Pyrel::IntfId("Ethernet" + std::to_string(i + 1)); }
Pyrel::EthAddr Model::hostAddr(std::uint64_t i) { return Pyrel::EthAddr(0x001c73000000ull + i); }
Kiv::Name Model::topologyName(std::uint32_t i) { return Kiv::Name(("topo" + std::to_string(i)).c_str()); }

void Model::build(Sizes const& sizes, std::function<void(double)> const& progress) {
  for (std::uint32_t t = 0; t < sizes.topologies; ++t) {
    topologyIs(topologyName(t));
    for (std::uint32_t p = 0; p < sizes.ports; ++p) portIs(topologyName(t), portName(p));
  }
  for (std::uint32_t p = 0; p < sizes.ports; ++p) {
    agentConfig->extTapDeviceIs("et" + std::to_string(p + 1),
                                TapDevice("tap" + std::to_string(p + 1), static_cast<std::uint16_t>(100 + p)));
  }
  if (sizes.topologies == 0 || sizes.vlans == 0) return;
  for (std::uint32_t v = 0; v < sizes.vlans; ++v) {
    vlanIs(Bridging::VlanId(static_cast<std::uint16_t>(v + 1)), topologyName(v % sizes.topologies));
  }
  if (sizes.ports == 0) return;
  std::uint64_t const step = sizes.hosts / 100 + 1;
  for (std::uint64_t h = 0; h < sizes.hosts; ++h) {
    auto const vid = Bridging::VlanId(static_cast<std::uint16_t>(h % sizes.vlans + 1));
    auto const port = portName(static_cast<std::uint32_t>((h / sizes.vlans) % sizes.ports));
    brStatus->fdbStatus(Bridging::Fid(vid.value()))->learnedHostIs(Bridging::LearnedHost(hostAddr(h), port));
    if (progress && h % step == 0) progress(static_cast<double>(h) / static_cast<double>(sizes.hosts));
  }
}

Kiv::Ptr<Bridging::Topology::TopoConfig> Model::topology(Kiv::Name const& topo) const {
  auto t = topoConfig->topoConfig(topo);
  if (!t) throw BadInput("no topology " + quoted(topo));
  return t;
}

Kiv::Ptr<Bridging::Topology::TopoPortConfig> Model::port(Kiv::Name const& topo, Pyrel::IntfId const& port) const {
  auto p = topology(topo)->topoPortConfig(port);
  if (!p) throw BadInput("no port " + quoted(port) + " in topology " + quoted(topo));
  return p;
}

Kiv::Ptr<Bridging::FdbStatus> Model::fdb(Bridging::VlanId vid) const {
  auto f = brStatus->fdbStatus(Bridging::Fid(vid.value()));
  if (!f) throw BadInput("no VLAN " + std::to_string(vid.value()));
  return f;
}

void Model::topologyIs(Kiv::Name const& topo) {
  topoConfig->topoConfigIs(topo);
  topoStatus->topoStatusIs(topo);
}

void Model::topologyDel(Kiv::Name const& topo) {
  topology(topo);
  topoConfig->topoConfigDel(topo);
  topoStatus->topoStatusDel(topo);
}

void Model::topologyConfigDel(Kiv::Name const& topo) {
  topology(topo);
  topoConfig->topoConfigDel(topo);
}

void Model::topologyStatusDel(Kiv::Name const& topo) {
  if (!topoStatus->topoStatusDel(topo)) throw BadInput("no status of topology " + quoted(topo));
}

void Model::portIs(Kiv::Name const& topo, Pyrel::IntfId const& port) {
  topology(topo)->topoPortConfigIs(port);
  auto status = topoStatus->topoStatus(topo);
  if (!status) throw BadInput("no status of topology " + quoted(topo));
  status->topoPortStatusIs(port);
}

void Model::portDel(Kiv::Name const& topo, Pyrel::IntfId const& p) {
  port(topo, p);
  portConfigDel(topo, p);
  if (auto status = topoStatus->topoStatus(topo)) status->topoPortStatusDel(p);
}

void Model::portConfigDel(Kiv::Name const& topo, Pyrel::IntfId const& p) {
  port(topo, p);
  topology(topo)->topoPortConfigDel(p);
}

void Model::portStatusDel(Kiv::Name const& topo, Pyrel::IntfId const& p) {
  if (!portStatus(topo, p)) throw BadInput("no status of port " + quoted(p) + " in topology " + quoted(topo));
  topoStatus->topoStatus(topo)->topoPortStatusDel(p);
}

void Model::vlanIs(Bridging::VlanId vid, Kiv::Name const& topo) {
  if (vid.value() == 0 || vid.value() > 4094) throw BadInput("no VLAN " + std::to_string(vid.value()) + " (1 to 4094)");
  auto t = topology(topo);
  brConfig->vlanConfigIs(vid);
  topoConfig->vidToTopoMapIs(vid, t);
  brStatus->fdbStatusIs(Bridging::Fid(vid.value()));
}

void Model::vlanDel(Bridging::VlanId vid) {
  fdb(vid);
  topoConfig->vidToTopoMapDel(vid);
  brConfig->vlanConfigDel(vid);
  brStatus->fdbStatusDel(Bridging::Fid(vid.value()));
}

void Model::hostIs(Bridging::VlanId vid, Pyrel::EthAddr const& addr, Pyrel::IntfId const& port) {
  fdb(vid)->learnedHostIs(Bridging::LearnedHost(addr, port));
}

void Model::hostDel(Bridging::VlanId vid, Pyrel::EthAddr const& addr) {
  auto f = fdb(vid);
  if (!hostLearned(vid, addr)) {
    throw BadInput("no host " + Kiv::valueToStrep(addr).stdString() + " in VLAN " + std::to_string(vid.value()));
  }
  f->learnedHostDel(addr);
}

void Model::stateIs(Kiv::Name const& topo, Pyrel::IntfId const& p, PortState state) { port(topo, p)->stateIs(state); }

std::uint32_t Model::flush(Kiv::Name const& topo, Pyrel::IntfId const& p) {
  auto c = port(topo, p);
  c->fdbFlushIs(c->fdbFlush() + 1);
  return c->fdbFlush();
}

Kiv::Ptr<Bridging::Topology::TopoPortConfig> Model::portConfig(Kiv::Name const& topo, Pyrel::IntfId const& port) const {
  auto t = topoConfig->topoConfig(topo);
  return t ? t->topoPortConfig(port) : nullptr;
}

Kiv::Ptr<Bridging::Topology::TopoPortStatus> Model::portStatus(Kiv::Name const& topo, Pyrel::IntfId const& port) const {
  auto t = topoStatus->topoStatus(topo);
  return t ? t->topoPortStatus(port) : nullptr;
}

bool Model::reflectorPresent(Kiv::Name const& topo) const { return root_->topoStateReflector(topo.string()) != nullptr; }

bool Model::reflectorPresent(Kiv::Name const& topo, Pyrel::IntfId const& port) const {
  auto t = root_->topoStateReflector(topo.string());
  return t && t->topoPortStateReflector(port) != nullptr;
}

std::uint32_t Model::reflectors() const {
  std::uint32_t n = 0;
  for (auto it = root_->topoStateReflectorIteratorConst(); it; ++it) n += it->topoPortStateReflectors();
  return n;
}

std::uint64_t Model::hosts(Bridging::VlanId vid, Pyrel::IntfId const& port) const {
  auto f = brStatus->fdbStatus(Bridging::Fid(vid.value()));
  if (!f) return 0;
  if (port == Pyrel::IntfId()) return f->learnedHosts();
  std::uint64_t n = 0;
  for (auto it = f->learnedHostIteratorConst(); it; ++it) n += it->value().intf() == port;
  return n;
}

std::uint64_t Model::hosts() const {
  std::uint64_t n = 0;
  for (auto it = brStatus->fdbStatusIteratorConst(); it; ++it) n += it->learnedHosts();
  return n;
}

bool Model::hostLearned(Bridging::VlanId vid, Pyrel::EthAddr const& addr, Pyrel::IntfId* on) const {
  auto f = brStatus->fdbStatus(Bridging::Fid(vid.value()));
  if (!f) return false;
  auto const host = f->learnedHost(addr);
  if (host.addr() != addr) return false;
  if (on) *on = host.intf();
  return true;
}

}  // namespace BridgeSim
