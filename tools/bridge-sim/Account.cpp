#include "Account.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace BridgeSim {

namespace {

std::string jsonString(std::string const& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

}  // namespace

std::string seconds(double s) {
  char buf[48];
  if (s < 1e-6) std::snprintf(buf, sizeof buf, "%.0f ns", s * 1e9);
  else if (s < 1e-3) std::snprintf(buf, sizeof buf, "%.1f us", s * 1e6);
  else if (s < 1.0) std::snprintf(buf, sizeof buf, "%.1f ms", s * 1e3);
  else std::snprintf(buf, sizeof buf, "%.2f s", s);
  return buf;
}

void Account::line(std::string const& text) {
  if (!json_) out_ << text << std::endl;
}

bool Account::check(bool held, std::string const& what, std::string const& expected, std::string const& found) {
  ++checks_;
  if (held) return true;
  ++failed_;
  std::string text = what;
  if (!expected.empty() || !found.empty()) text += ": expected " + expected + ", found " + found;
  failures_.push_back(text);
  if (!json_) out_ << "  check failed: " << text << std::endl;
  return false;
}

void Account::figure(std::string const& name, double value) { figures_.emplace_back(name, value); }

int Account::finish() {
  if (json_) {
    out_ << "{\"checks\": " << checks_ << ", \"failed\": " << failed_ << ", \"held\": " << (failed_ == 0 ? "true" : "false");
    for (auto const& [name, value] : figures_) {
      out_ << ", " << jsonString(name) << ": ";
      if (std::isfinite(value)) out_ << value;
      else out_ << "null";
    }
    out_ << ", \"failures\": [";
    for (std::size_t i = 0; i < failures_.size(); ++i) out_ << (i ? ", " : "") << jsonString(failures_[i]);
    out_ << "]}" << std::endl;
  } else if (failed_ == 0) {
    out_ << (checks_ == 1 ? "the 1 check held" : "all " + std::to_string(checks_) + " checks held") << std::endl;
  } else {
    out_ << failed_ << " of " << checks_ << (checks_ == 1 ? " check failed" : " checks failed") << std::endl;
  }
  return failed_ == 0 ? 0 : 1;
}

}  // namespace BridgeSim
