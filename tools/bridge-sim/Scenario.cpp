#include "Scenario.h"

#include <istream>
#include <map>
#include <ostream>

#include "AgentQuery.h"
#include "BadInput.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "Tokens.h"

namespace BridgeSim {

char const scenarioHelp[] = R"(SCENARIO LANGUAGE
  One command a line; '#' starts a comment; blank lines are skipped.
  Values use the runtime's text forms: names, interfaces, Ethernet
  addresses and strings in quotes ('topo0', 'Ethernet1',
  '00:1c:73:00:00:01'), True/False, decimal numbers, and tap devices as
  Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 7}).
  TOPO is a topology name, INTF an interface, VID a VLAN id (1-4094),
  STATE one of disabled, discarding, learning, forwarding.

  topology TOPO                  add a topology's configuration and status
  topology-del TOPO              remove both
  topology-config-del TOPO       remove only its configuration
  topology-status-del TOPO       remove only its status
  port TOPO INTF                 add a port's configuration and status entries
  port-del TOPO INTF             remove both
  port-config-del TOPO INTF      remove only its configuration entry
  port-status-del TOPO INTF      remove only its status entry
  vlan VID TOPO                  configure a VLAN with its forwarding
                                 database, mapped to topology TOPO
  vlan-del VID                   remove the VLAN, its mapping and its hosts
  host VID MAC INTF              a host learned in VLAN VID on INTF
  host-del VID MAC               forget it
  state TOPO INTF STATE          set a port's configured state
  flush TOPO INTF                request a flush of the port's learned hosts
  advance SECONDS                run the event loop forward (the reflector
                                 acts 2^-20 s after a change: 0.001 is ample)
  tap KEY VALUE                  add or change a tap device of the agent Config
  tap-del KEY                    remove it
  complete BOOL                  set the agent Config's complete flag
  initialized BOOL               set the agent Status's initialized flag
  fabric-device-name STRING      set the agent Status's fabric device name
  mirror start                   fork the mirror process and mirror the agent's
                                 Config and Status to it over a socket pair;
                                 returns once the mirror holds them (a check:
                                 it fails after 10 s of real time)
  mirror break                   break the connection
  mirror restore                 connect again; returns once the mirror has
                                 resynchronised (a check, as for start)
  mirror stop                    end the mirror process
  mirror CHANGE                  make an agent change (tap, tap-del, complete,
                                 initialized, fabric-device-name) on the mirror

  expect state TOPO INTF STATE   the port status's state
  expect flush-report TOPO INTF N  the port status's flush report
  expect hosts VID N             the number of hosts learned in the VLAN
  expect hosts VID INTF N        ... learned on that port
  expect host VID MAC INTF       the host is learned, on that port
  expect no-host VID MAC         the host is not learned
  expect reflector TOPO present|absent        a topology's reflector
  expect reflector TOPO INTF present|absent   a port's reflector
  expect agent QUERY VALUE       a value of this process's agent model
  expect mirror QUERY VALUE      the mirror's value, once it has arrived
                                 (waits up to 10 s of real time for it)
    QUERY is one of: tap KEY (VALUE a tap device or absent), taps (their
    number), complete, initialized, fabric-device-name.
    While a mirror runs, 'expect agent' also waits for a change the
    mirror made to arrive.

  A failed expectation stops the run: FILE:LINE: what was expected and
  what was found, exit status 1. A line that cannot be read or acted on
  (unknown command, bad interface name or Ethernet address, a state,
  topology, port or VLAN that does not exist) stops it with FILE:LINE and
  the reason, exit status 2.
)";

namespace {

using Action = std::function<void(ScenarioRun&)>;
using Parser = std::function<Action(Tokens&)>;

std::string q(Kiv::Name const& n) { return Kiv::valueToStrep(n).stdString(); }
std::string q(Pyrel::IntfId const& i) { return Kiv::valueToStrep(i).stdString(); }
std::string q(Pyrel::EthAddr const& a) { return Kiv::valueToStrep(a).stdString(); }

Kiv::Name topo(Tokens& t) { return Kiv::Name(t.string("a topology name")); }

PortState state(Tokens& t) { return stateNamed(t.word("a port state")); }

bool presence(Tokens& t) {
  std::string const w = t.word("present or absent");
  if (w == "present") return true;
  if (w == "absent") return false;
  throw BadInput("expected present or absent, found " + w);
}

// A command on one topology and one port.
template <class F>
Parser onPort(F f) {
  return [f](Tokens& t) -> Action {
    auto const name = topo(t);
    auto const port = t.intf();
    return [f, name, port](ScenarioRun& r) { f(r.model, name, port); };
  };
}

template <class F>
Parser onTopology(F f) {
  return [f](Tokens& t) -> Action {
    auto const name = topo(t);
    return [f, name](ScenarioRun& r) { f(r.model, name); };
  };
}

Action agentExpectation(Tokens& t, bool onMirror) {
  std::string const query = agentQuery(t);
  std::string const expected = agentExpected(query, t);
  std::string const what = (onMirror ? "the mirror's " : "the agent's ") + query;
  return [query, expected, what, onMirror](ScenarioRun& r) {
    auto value = [&] { return agentValue(r.model.agentConfig.ptr(), r.model.agentStatus.ptr(), query); };
    std::string found;
    if (onMirror) {
      found = r.mirror.await(query, expected, 10.0);
    } else {
      if (r.mirrorRunning()) r.mirror.pumpUntil([&] { return value() == expected; }, 10.0);
      found = value();
    }
    r.expect(what, expected, found);
  };
}

// After the mirror starts or reconnects: the next line may rely on it.
void mirrorHoldsModel(ScenarioRun& r) {
  r.expect("the mirror's agent model", agentValue(r.model.agentConfig.ptr(), r.model.agentStatus.ptr(), "model"),
           r.mirror.mirroredModel(10.0));
}

Action expectation(Tokens& t) {
  std::string const what = t.word("what to expect (state, flush-report, hosts, host, no-host, reflector, agent, mirror)");
  if (what == "state") {
    auto const name = topo(t);
    auto const port = t.intf();
    auto const s = state(t);
    return [=](ScenarioRun& r) {
      auto status = r.model.portStatus(name, port);
      r.expect("state of port " + q(port) + " in " + q(name), stateName(s),
               status ? stateName(status->state()) : "no status entry");
    };
  }
  if (what == "flush-report") {
    auto const name = topo(t);
    auto const port = t.intf();
    auto const n = t.number("a flush report", 0xFFFFFFFFu);
    return [=](ScenarioRun& r) {
      auto status = r.model.portStatus(name, port);
      r.expect("flush report of port " + q(port) + " in " + q(name), std::to_string(n),
               status ? std::to_string(status->fdbFlushReport()) : "no status entry");
    };
  }
  if (what == "hosts") {
    auto const vid = t.vlan();
    bool const perPort = t.quoteNext();
    Pyrel::IntfId const port = perPort ? t.intf() : Pyrel::IntfId();
    auto const n = t.number("a number of hosts", ~std::uint64_t(0));
    return [=](ScenarioRun& r) {
      r.expect("hosts in VLAN " + std::to_string(vid.value()) + (perPort ? " on " + q(port) : std::string()),
               std::to_string(n), std::to_string(r.model.hosts(vid, port)));
    };
  }
  if (what == "host" || what == "no-host") {
    auto const vid = t.vlan();
    auto const addr = t.mac();
    bool const learned = what == "host";
    Pyrel::IntfId const port = learned ? t.intf() : Pyrel::IntfId();
    return [=](ScenarioRun& r) {
      Pyrel::IntfId on;
      bool const is = r.model.hostLearned(vid, addr, &on);
      std::string const found = is ? "learned on " + q(on) : "not learned";
      r.expect("host " + q(addr) + " in VLAN " + std::to_string(vid.value()), learned ? "learned on " + q(port) : "not learned",
               found);
    };
  }
  if (what == "reflector") {
    auto const name = topo(t);
    bool const perPort = t.quoteNext();
    Pyrel::IntfId const port = perPort ? t.intf() : Pyrel::IntfId();
    bool const present = presence(t);
    return [=](ScenarioRun& r) {
      bool const is = perPort ? r.model.reflectorPresent(name, port) : r.model.reflectorPresent(name);
      r.expect(perPort ? "reflector of port " + q(port) + " in " + q(name) : "reflector of topology " + q(name),
               present ? "present" : "absent", is ? "present" : "absent");
    };
  }
  if (what == "agent") return agentExpectation(t, false);
  if (what == "mirror") return agentExpectation(t, true);
  throw BadInput("unknown expectation '" + what +
                 "' (state, flush-report, hosts, host, no-host, reflector, agent or mirror)");
}

std::map<std::string, Parser> const& commands() {
  static std::map<std::string, Parser> const table = {
      {"topology", onTopology([](Model& m, Kiv::Name const& n) { m.topologyIs(n); })},
      {"topology-del", onTopology([](Model& m, Kiv::Name const& n) { m.topologyDel(n); })},
      {"topology-config-del", onTopology([](Model& m, Kiv::Name const& n) { m.topologyConfigDel(n); })},
      {"topology-status-del", onTopology([](Model& m, Kiv::Name const& n) { m.topologyStatusDel(n); })},
      {"port", onPort([](Model& m, Kiv::Name const& n, Pyrel::IntfId const& p) { m.portIs(n, p); })},
      {"port-del", onPort([](Model& m, Kiv::Name const& n, Pyrel::IntfId const& p) { m.portDel(n, p); })},
      {"port-config-del", onPort([](Model& m, Kiv::Name const& n, Pyrel::IntfId const& p) { m.portConfigDel(n, p); })},
      {"port-status-del", onPort([](Model& m, Kiv::Name const& n, Pyrel::IntfId const& p) { m.portStatusDel(n, p); })},
      {"flush", onPort([](Model& m, Kiv::Name const& n, Pyrel::IntfId const& p) { m.flush(n, p); })},
      {"vlan",
       [](Tokens& t) -> Action {
         auto const vid = t.vlan();
         auto const name = topo(t);
         return [=](ScenarioRun& r) { r.model.vlanIs(vid, name); };
       }},
      {"vlan-del",
       [](Tokens& t) -> Action {
         auto const vid = t.vlan();
         return [=](ScenarioRun& r) { r.model.vlanDel(vid); };
       }},
      {"host",
       [](Tokens& t) -> Action {
         auto const vid = t.vlan();
         auto const addr = t.mac();
         auto const port = t.intf();
         return [=](ScenarioRun& r) { r.model.hostIs(vid, addr, port); };
       }},
      {"host-del",
       [](Tokens& t) -> Action {
         auto const vid = t.vlan();
         auto const addr = t.mac();
         return [=](ScenarioRun& r) { r.model.hostDel(vid, addr); };
       }},
      {"state",
       [](Tokens& t) -> Action {
         auto const name = topo(t);
         auto const port = t.intf();
         auto const s = state(t);
         return [=](ScenarioRun& r) { r.model.stateIs(name, port, s); };
       }},
      {"advance",
       [](Tokens& t) -> Action {
         double const dt = t.seconds();
         return [dt](ScenarioRun&) { Kiv::eventLoop().advance(dt); };
       }},
      {"mirror",
       [](Tokens& t) -> Action {
         std::string const what = t.word("start, break, restore, stop or an agent change");
         if (what == "start") {
           return [](ScenarioRun& r) {
             r.mirror.start();
             mirrorHoldsModel(r);
           };
         }
         if (what == "break") return [](ScenarioRun& r) { r.mirror.breakLink(); };
         if (what == "restore") {
           return [](ScenarioRun& r) {
             r.mirror.restore();
             mirrorHoldsModel(r);
           };
         }
         if (what == "stop") return [](ScenarioRun& r) { r.mirror.stop(); };
         if (!agentChangeVerb(what)) {
           throw BadInput("unknown mirror command '" + what +
                          "' (start, break, restore, stop, tap, tap-del, complete, initialized, fabric-device-name)");
         }
         std::string const args = t.rest();
         Tokens check(args);
         agentChange(what, check);  // read now, so that a bad value stops the run before it starts
         check.end();
         std::string const line = what + " " + args;
         return [line](ScenarioRun& r) { r.mirror.change(line); };
       }},
      {"expect", expectation},
  };
  return table;
}

}  // namespace

// Whether `--listen` refuses the command whose words are `verb` and `next`.
bool refusedByListen(std::string const& verb, std::string const& next) {
  return verb == "advance" || verb == "mirror" || (verb == "expect" && next == "mirror");
}

std::string listenCommands() {
  std::string list;
  auto add = [&](std::string const& c) { list += (list.empty() ? "" : ", ") + c; };
  for (auto const& c : commands()) {
    if (!refusedByListen(c.first, "")) add(c.first);
  }
  for (char const* c : {"tap", "tap-del", "complete", "initialized", "fabric-device-name"}) add(c);
  return list + " (all but 'expect mirror'), quit";
}

Step Scenario::parseLine(std::string const& text, std::string const& file, int line, Mode mode) {
  Step step{file, line, text, nullptr};
  try {
    Tokens t(text);
    if (t.atEnd()) return step;
    std::string const verb = t.word("a command");
    if (mode == Mode::listen) {
      Tokens ahead(text);
      ahead.optionalWord();
      std::string const next = ahead.optionalWord();
      if (refusedByListen(verb, next)) {
        throw BadInput("'" + verb + (verb == "expect" ? " " + next : std::string()) +
                       "' is not accepted by --listen, whose event loop runs on real time without a mirror "
                       "process; it accepts " + listenCommands());
      }
    }
    if (agentChangeVerb(verb)) {
      auto change = agentChange(verb, t);
      step.run = [change](ScenarioRun& r) { change(*r.model.agentConfig, *r.model.agentStatus); };
    } else {
      auto const it = commands().find(verb);
      if (it == commands().end()) throw BadInput("unknown command '" + printable(verb, 40) + "' (see bridge-sim --help)");
      step.run = it->second(t);
    }
    t.end();
  } catch (BadInput const& e) {
    throw ScenarioError(located(file, line, text, e.what()));
  }
  return step;
}

Scenario Scenario::parse(std::istream& in, std::string const& file) {
  Scenario s;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    Step step = parseLine(text, file, line);
    if (step.run) s.steps_.push_back(std::move(step));
  }
  if (in.bad()) throw ScenarioError(file + ": cannot read the file");
  if (s.steps_.empty()) throw ScenarioError(file + ": no command in the file (an empty scenario proves nothing)");
  return s;
}

void ScenarioRun::expect(std::string const& what, std::string const& expected, std::string const& found) {
  if (account.check(expected == found, what, expected, found)) return;
  failed_ = true;
  failure_ = "expected " + what + " " + expected + ", found " + found;
}

bool ScenarioRun::runStep(Step const& step, std::ostream& err) {
  failed_ = false;
  try {
    step.run(*this);
  } catch (BadInput const& e) {
    throw ScenarioError(located(step.file, step.line, step.text, e.what()));
  } catch (Kiv::Exception const& e) {
    throw ScenarioError(located(step.file, step.line, step.text, e.message().stdString()));
  }
  if (failed_) err << located(step.file, step.line, step.text, failure_) << std::endl;
  return !failed_;
}

int ScenarioRun::run(std::vector<Step> const& steps, std::ostream& err) {
  for (Step const& step : steps) {
    if (!runStep(step, err)) return exitFailed;
  }
  return exitHeld;
}

}  // namespace BridgeSim
