#include "DefaultRun.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "AgentQuery.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Strep.h"
#include "MirrorProcess.h"

namespace BridgeSim {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Stamps the loop time at which each port status takes a new state.
struct StateStamp : Bridging::Topology::TopoPortStatus::Notifiee {
  void onState() override { at = Kiv::now(); }
  double at = -1.0;
};

std::string q(Kiv::Name const& n) { return Kiv::valueToStrep(n).stdString(); }
std::string q(Pyrel::IntfId const& i) { return Kiv::valueToStrep(i).stdString(); }

void reflectStates(Model& model, Sizes const& sizes, Account& account) {
  std::vector<Kiv::Ptr<StateStamp>> stamps;
  for (std::uint32_t t = 0; t < sizes.topologies; ++t) {
    for (std::uint32_t p = 0; p < sizes.ports; ++p) {
      stamps.push_back(Kiv::make<StateStamp>());
      stamps.back()->notifierIs(model.portStatus(Model::topologyName(t), Model::portName(p)));
    }
  }
  double const setAt = Kiv::now();
  auto const start = Clock::now();
  for (std::uint32_t t = 0; t < sizes.topologies; ++t) {
    for (std::uint32_t p = 0; p < sizes.ports; ++p) model.stateIs(Model::topologyName(t), Model::portName(p), PortState::forwarding);
  }
  Kiv::eventLoop().advance(0.001);
  double const took = since(start);
  double least = 1.0, most = 0.0;
  std::uint32_t reflected = 0;
  for (std::uint32_t t = 0, i = 0; t < sizes.topologies; ++t) {
    for (std::uint32_t p = 0; p < sizes.ports; ++p, ++i) {
      auto status = model.portStatus(Model::topologyName(t), Model::portName(p));
      reflected += status->state() == PortState::forwarding;
      double const delay = stamps[i]->at - setAt;
      least = std::min(least, delay);
      most = std::max(most, delay);
      stamps[i]->notifierIs(nullptr);
    }
  }
  std::uint32_t const ports = sizes.topologies * sizes.ports;
  account.check(reflected == ports, "port states reflected", std::to_string(ports), std::to_string(reflected));
  // On simulated time each reflection comes exactly 2^-20 s after its
  // change; on real time, no earlier.
  bool const exact = !Kiv::eventLoop().realTime();
  if (ports) {
    account.check(exact ? least == 0x1p-20 && most == 0x1p-20 : least >= 0x1p-20, "loop time of each reflection",
                  exact ? "2^-20 s" : "at least 2^-20 s", seconds(least) + " to " + seconds(most));
  }
  account.line("reflected " + std::to_string(reflected) + " port states to forwarding, each at most " +
               (ports ? seconds(most) : std::string("-")) + " of loop time after its configuration (the delay is 2^-20 s); " +
               seconds(took) + " of real time in all");
  account.figure("reflect_seconds", took);
}

void flushPort(Model& model, Sizes const& sizes, Account& account) {
  if (sizes.topologies == 0 || sizes.ports == 0) return;
  auto const topo = Model::topologyName(0);
  auto const port = Model::portName(0);
  std::uint64_t onPort = 0;
  std::string vlans;
  for (std::uint32_t v = 0; v < sizes.vlans; v += sizes.topologies) {
    auto const vid = Bridging::VlanId(static_cast<std::uint16_t>(v + 1));
    onPort += model.hosts(vid, port);
    vlans += (vlans.empty() ? "" : ", ") + std::to_string(v + 1);
  }
  std::uint64_t const before = model.hosts();
  auto const start = Clock::now();
  std::uint32_t const request = model.flush(topo, port);
  Kiv::eventLoop().advance(0.001);
  double const took = since(start);
  std::uint64_t const after = model.hosts();
  std::uint64_t left = 0;
  for (std::uint32_t v = 0; v < sizes.vlans; v += sizes.topologies) {
    left += model.hosts(Bridging::VlanId(static_cast<std::uint16_t>(v + 1)), port);
  }
  account.check(left == 0, "hosts left on the flushed port", "0", std::to_string(left));
  account.check(before - after == onPort, "hosts removed by the flush", std::to_string(onPort), std::to_string(before - after));
  account.check(model.portStatus(topo, port)->fdbFlushReport() == request, "flush report",
                std::to_string(request), std::to_string(model.portStatus(topo, port)->fdbFlushReport()));
  account.line("flushed port " + q(port) + " of " + q(topo) + ": removed the " + std::to_string(before - after) +
               " hosts learned on it in VLANs " + (vlans.empty() ? "-" : vlans) + ", " + std::to_string(after) +
               " hosts remain, report " + std::to_string(request) + "; " + seconds(took) + " of real time");
  account.figure("flush_seconds", took);
  account.figure("hosts_removed", static_cast<double>(before - after));
}

void topologyComesAndGoes(Model& model, Account& account) {
  Kiv::Name const topo("transient");
  auto const a = Model::portName(0), b = Model::portName(1);
  model.topologyIs(topo);
  model.portIs(topo, a);
  model.portIs(topo, b);
  model.stateIs(topo, a, PortState::learning);
  Kiv::eventLoop().advance(0.001);
  bool const appeared = model.reflectorPresent(topo, a) && model.reflectorPresent(topo, b);
  account.check(appeared, "reflectors of a new topology", "present", appeared ? "present" : "absent");
  account.check(model.portStatus(topo, a)->state() == PortState::learning, "state in the new topology", "learning",
                stateName(model.portStatus(topo, a)->state()));
  model.topologyStatusDel(topo);
  Kiv::eventLoop().advance(0.001);
  bool const gone = !model.reflectorPresent(topo);
  account.check(gone, "reflector of a topology without status", "absent", gone ? "absent" : "present");
  model.topologyConfigDel(topo);
  account.line("topology " + q(topo) + " appeared with 2 port reflectors (state learning reflected) and lost them "
               "when its status went");
}

void mirror(Model& model, Sizes const& sizes, Account& account, Capture& capture) {
  MirrorProcess mirror(model, capture);
  auto const start = Clock::now();
  mirror.start();
  std::string const taps = std::to_string(model.agentConfig->extTapDevices());
  auto const first = agentValue(model.agentConfig.ptr(), model.agentStatus.ptr(), "tap 'et1'");
  account.check(mirror.await("taps", taps, 20.0) == taps, "tap devices mirrored", taps, mirror.await("taps", taps, 0.0));
  account.check(mirror.await("tap 'et1'", first, 10.0) == first, "mirrored tap device 'et1'", first,
                mirror.await("tap 'et1'", first, 0.0));
  double const took = since(start);
  account.line("mirror process (fork, socket pair) holds the agent Config's " + taps + " tap devices and its Status; " +
               seconds(took) + " to start and converge");
  account.figure("mirror_seconds", took);

  TapDevice const added("tapNew", 4000);
  model.agentConfig->extTapDeviceIs("etNew", added);
  model.agentStatus->fabricDeviceNameIs("fabric0");
  model.agentStatus->initializedIs(true);
  std::string const addedText = Bridging::Orva::valueToStrep(added).stdString();
  account.check(mirror.await("tap 'etNew'", addedText, 10.0) == addedText, "source change on the mirror", addedText,
                mirror.await("tap 'etNew'", addedText, 0.0));
  account.check(mirror.await("fabric-device-name", "'fabric0'", 10.0) == "'fabric0'", "mirrored fabric device name",
                "'fabric0'", mirror.await("fabric-device-name", "'fabric0'", 0.0));
  account.line("a tap device and the fabric device name set here reached the mirror");

  mirror.change("tap 'fromMirror' Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tapM', 'fileno': 3})");
  std::string const back = "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tapM', 'fileno': 3})";
  auto value = [&] { return agentValue(model.agentConfig.ptr(), model.agentStatus.ptr(), "tap 'fromMirror'"); };
  mirror.pumpUntil([&] { return value() == back; }, 10.0);
  account.check(value() == back, "mirror change here", back, value());
  account.line("a tap device set on the mirror reached this process");
  account.check(mirror.stop(), "mirror process exit", "status 0", "another status");
  account.figure("mirror_bytes", static_cast<double>(mirror.bytesSent()));
  (void)sizes;
}

}  // namespace

int defaultRun(Model& model, Sizes const& sizes, Account& account, Capture& capture, bool showProgress) {
  auto const start = Clock::now();
  model.build(sizes, [&](double done) {
    if (showProgress) std::fprintf(stderr, "\rbuilding the model: %3.0f%%", done * 100.0);
  });
  if (showProgress) std::fprintf(stderr, "\r%30s\r", "");
  Kiv::eventLoop().advance(0.001);  // the reflectors' first turn
  double const built = since(start);
  std::uint32_t const ports = sizes.topologies * sizes.ports;
  account.line("built " + std::to_string(sizes.topologies) + " topologies of " + std::to_string(sizes.ports) +
               " ports, " + std::to_string(sizes.vlans) + " VLANs, " + std::to_string(model.hosts()) +
               " learned hosts and " + std::to_string(model.agentConfig->extTapDevices()) + " tap devices in " +
               seconds(built));
  account.check(model.reflectors() == ports, "port reflectors", std::to_string(ports), std::to_string(model.reflectors()));
  account.check(model.hosts() == sizes.hosts || sizes.vlans == 0 || sizes.ports == 0 || sizes.topologies == 0,
                "learned hosts", std::to_string(sizes.hosts), std::to_string(model.hosts()));
  account.figure("topologies", sizes.topologies);
  account.figure("ports", sizes.ports);
  account.figure("vlans", sizes.vlans);
  account.figure("hosts", static_cast<double>(sizes.hosts));
  account.figure("build_seconds", built);
  reflectStates(model, sizes, account);
  flushPort(model, sizes, account);
  topologyComesAndGoes(model, account);
  mirror(model, sizes, account, capture);
  return account.finish();
}

}  // namespace BridgeSim
