#pragma once
// The account a run gives of itself: readable lines as it goes, a count of
// the checks made and whether each held, timing figures, and a closing
// line (or, with --json, one JSON object) that says whether all held.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace BridgeSim {

class Account {
 public:
  Account(std::ostream& out, bool json) : out_(out), json_(json) {}

  // A line of the readable account (left out of the JSON form).
  void line(std::string const& text);
  // Records a check; a failed one is printed with what was expected and
  // what was found. Returns `held`.
  bool check(bool held, std::string const& what, std::string const& expected = "",
             std::string const& found = "");
  // A named figure (a size, a time in seconds) for the JSON form.
  void figure(std::string const& name, double value);
  std::uint32_t checks() const noexcept { return checks_; }
  std::uint32_t failed() const noexcept { return failed_; }
  // The closing line or object; the exit status: 0 when every check held.
  int finish();

 private:
  std::ostream& out_;
  bool json_;
  std::uint32_t checks_ = 0;
  std::uint32_t failed_ = 0;
  std::vector<std::pair<std::string, double>> figures_;
  std::vector<std::string> failures_;
};

// Seconds in the short form the account prints ("0.25 s", "954 ns").
std::string seconds(double s);

}  // namespace BridgeSim
