#pragma once
// A scenario: a set-up written as a plain text script, one command a
// line, '#' starting a comment. Scenario::parse reads the whole file
// before anything runs, so a malformed line stops the run with nothing
// done; ScenarioRun then runs the commands against the model, the
// reflector tree and the mirror process. The language is documented by
// `bridge-sim --help` (scenarioHelp below) and in the README.
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "Account.h"
#include "MirrorProcess.h"
#include "Model.h"

namespace BridgeSim {

class ScenarioRun;

// Where a step came from, and what it does.
struct Step {
  std::string file;
  int line = 0;
  std::string text;
  std::function<void(ScenarioRun&)> run;
};

// Input that a scenario cannot act on, with its file and line:
// what() is "FILE:LINE: message".
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where commands are read: a scenario file runs on simulated time with a
// mirror process at hand; --listen takes them on standard input while its
// event loop runs on real time, so it refuses the commands that need
// either (advance, mirror ..., expect mirror) before anything happens.
enum class Mode { script, listen };

class Scenario {
 public:
  // Reads every line of `in`; throws ScenarioError for the first bad one,
  // and for a file without a command.
  static Scenario parse(std::istream& in, std::string const& file);
  // One command line, for a line read interactively.
  static Step parseLine(std::string const& text, std::string const& file, int line, Mode mode = Mode::script);
  std::vector<Step> const& steps() const noexcept { return steps_; }

 private:
  std::vector<Step> steps_;
};

// The context the steps run in.
class ScenarioRun {
 public:
  ScenarioRun(Model& model, MirrorProcess& mirror, Account& account) : model(model), mirror(mirror), account(account) {}
  // Runs `steps`; exitHeld when every expectation held, exitFailed at the
  // first that did not (reported as FILE:LINE on `err`). Throws
  // ScenarioError for a command that cannot be carried out.
  int run(std::vector<Step> const& steps, std::ostream& err);
  // Runs one step; false when it was an expectation that failed.
  bool runStep(Step const& step, std::ostream& err);

  // For the steps.
  void expect(std::string const& what, std::string const& expected, std::string const& found);
  // Whether an agent value must be waited for (a mirror may change it).
  bool mirrorRunning() const noexcept { return mirror.running(); }

  Model& model;
  MirrorProcess& mirror;
  Account& account;

 private:
  bool failed_ = false;
  std::string failure_;
};

// The scenario language, as --help prints it.
extern char const scenarioHelp[];
// The commands that --listen accepts, comma-separated.
std::string listenCommands();

}  // namespace BridgeSim
