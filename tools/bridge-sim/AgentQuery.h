#pragma once
// The agent model's part of the scenario language, shared by the source
// and the mirror process: changes to an agent Config and Status given as
// command text, and the values a query names, printed in their text forms.
//
//   tap 'et1' Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 7})
//   tap-del 'et1'
//   complete True          initialized True          fabric-device-name 'fabric0'
//
// Queries: "tap 'et1'" (the tap device's text form, or absent), "taps"
// (their number), "complete", "initialized", "fabric-device-name", and
// "model": the whole model in one line (counts and hashes), equal on two
// sides that hold the same values.
#include <functional>
#include <string>

#include "Kiv/Entity.h"
#include "Kiv/Ptr.h"
#include "agent/Config.h"
#include "agent/Status.h"

namespace BridgeSim {

class Tokens;

// Whether `verb` is one of the agent changes above.
bool agentChangeVerb(std::string const& verb);
// Reads the arguments of `verb` from `tokens`; the returned call makes the
// change (to the entities it is given, so that a line parsed once runs
// on either side). Throws BadInput.
std::function<void(Bridging::Orva::Config&, Bridging::Orva::Status&)> agentChange(std::string const& verb,
                                                                                  Tokens& tokens);

// Reads a query ("tap 'et1'", "taps", ...) and returns it in its canonical
// text. Throws BadInput.
std::string agentQuery(Tokens& tokens);
// Reads the value a query is expected to have (absent, or the value in its
// text form) and returns it in the form agentValue prints.
std::string agentExpected(std::string const& query, Tokens& tokens);
// The value that a canonical query names.
std::string agentValue(Bridging::Orva::Config const* config, Bridging::Orva::Status const* status,
                       std::string const& query);

// Tells `print` of every change to an agent Config or Status it is
// attached to, one line each ("tap 'et1' = Value(...)").
class AgentWatch {
 public:
  explicit AgentWatch(std::function<void(std::string const&)> print);
  ~AgentWatch();
  AgentWatch(AgentWatch const&) = delete;
  AgentWatch& operator=(AgentWatch const&) = delete;
  // Watches `entity` when it is an agent Config or Status.
  void watch(Kiv::Ptr<Kiv::Entity> const& entity);

 private:
  struct ConfigWatch;
  struct StatusWatch;
  std::function<void(std::string const&)> print_;
  Kiv::Ptr<ConfigWatch> config_;
  Kiv::Ptr<StatusWatch> status_;
};

}  // namespace BridgeSim
