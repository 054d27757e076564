#include "Tokens.h"

#include <cctype>
#include <cmath>

#include "BadInput.h"
#include "Kiv/Exception.h"
#include "Kiv/Strep.h"

namespace BridgeSim {

namespace {

bool wordByte(unsigned char c) { return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '/'; }

// Runs a runtime text reader; its complaint becomes BadInput.
template <class F>
auto reading(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (Kiv::Exception const& e) {
    throw BadInput(e.message().stdString());
  }
}

}  // namespace

// Letters (a dash allowed after the first), a number, then "/number" parts:
// "Ethernet1", "Port-Channel10", "Ethernet3/1".
bool intfNameValid(std::string const& name) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  if (i == name.size() || !letter(name[i])) return false;
  while (i < name.size() && (letter(name[i]) || name[i] == '-')) ++i;
  for (bool first = true; first || (i < name.size() && name[i] == '/'); first = false) {
    if (!first) ++i;
    std::size_t const start = i;
    while (i < name.size() && digit(name[i])) ++i;
    if (i == start) return false;
  }
  return i == name.size();
}

Tokens::Tokens(std::string const& line) : line_(line), it_(line_.iterator()), end_(line_.end()) {}

std::size_t Tokens::column() const { return it_.position(); }

void Tokens::fail(std::string const& what) const {
  if (it_.atEnd()) throw BadInput("expected " + what + " at column " + std::to_string(column()) + ", found end of line");
  std::string found;
  for (auto i = it_; !i.atEnd() && !std::isspace(*i) && found.size() < 40; ++i) found += static_cast<char>(*i);
  throw BadInput("expected " + what + " at column " + std::to_string(column()) + ", found " + found);
}

void Tokens::skipBlanks() {
  while (!it_.atEnd() && std::isspace(*it_)) ++it_;
}

bool Tokens::atEnd() {
  skipBlanks();
  return it_.atEnd() || *it_ == '#';
}

std::string Tokens::optionalWord() {
  skipBlanks();
  std::string w;
  while (!it_.atEnd() && wordByte(*it_)) {
    w += static_cast<char>(*it_);
    ++it_;
  }
  return w;
}

bool Tokens::quoteNext() {
  skipBlanks();
  return !it_.atEnd() && (*it_ == '\'' || *it_ == '"');
}

bool Tokens::accept(std::string const& w) {
  auto const save = it_;
  if (optionalWord() == w) return true;
  it_ = save;
  return false;
}

std::string Tokens::word(char const* what) {
  std::string w = optionalWord();
  if (w.empty()) fail(what);
  return w;
}

Kiv::String8 Tokens::string(char const* what) {
  skipBlanks();
  if (it_.atEnd() || (*it_ != '\'' && *it_ != '"')) fail(std::string(what) + " in quotes");
  return reading([&] { return Kiv::sequenceToValue<Kiv::String8>(it_, end_); });
}

Pyrel::IntfId Tokens::intf() {
  auto const start = it_;
  Kiv::String8 const name = string("an interface name");
  if (!intfNameValid(name.stdString())) {
    it_ = start;
    skipBlanks();
    throw BadInput("bad interface name " + Kiv::valueToStrep(name).stdString() + " at column " +
                   std::to_string(column()) + " (names read like 'Ethernet1', 'Ethernet3/1' or 'Port-Channel5')");
  }
  return Pyrel::IntfId(name);
}

Pyrel::EthAddr Tokens::mac() {
  skipBlanks();
  std::size_t const col = column();
  Kiv::String8 const text = string("an Ethernet address");
  try {
    return Pyrel::EthAddr(text);
  } catch (Kiv::Exception const&) {
    throw BadInput("bad Ethernet address " + Kiv::valueToStrep(text).stdString() + " at column " + std::to_string(col) +
                   " (addresses read like '00:1c:73:00:00:01')");
  }
}

Bridging::VlanId Tokens::vlan() {
  return Bridging::VlanId(static_cast<std::uint16_t>(number("a VLAN id", 4094)));
}

std::uint64_t Tokens::number(char const* what, std::uint64_t max) {
  skipBlanks();
  if (it_.atEnd() || !std::isdigit(*it_)) fail(what);
  auto const start = it_;
  auto const n = reading([&] { return Kiv::sequenceToValue<unsigned long long>(it_, end_); });
  if (n > max) {
    it_ = start;
    fail(std::string(what) + " up to " + std::to_string(max));
  }
  return n;
}

double Tokens::seconds() {
  skipBlanks();
  auto const start = it_;
  double d = 0.0;
  try {
    d = Kiv::sequenceToValue<double>(it_, end_);
  } catch (Kiv::Exception const&) {
    fail("a time in seconds");
  }
  if (!(d >= 0.0) || !std::isfinite(d)) {
    it_ = start;
    fail("a time in seconds, not negative");
  }
  return d;
}

bool Tokens::boolean(char const* what) {
  skipBlanks();
  std::string const w = optionalWord();
  if (w == "True" || w == "true") return true;
  if (w == "False" || w == "false") return false;
  throw BadInput(std::string("expected ") + what + " as True or False, found " + (w.empty() ? "nothing" : w));
}

Bridging::Orva::Config::TapDevice Tokens::tapDevice() {
  skipBlanks();
  return reading([&] { return Bridging::Orva::Config::TapDevice(it_, end_); });
}

std::string Tokens::rest() {
  skipBlanks();
  std::string r;
  for (; !it_.atEnd(); ++it_) r += static_cast<char>(*it_);
  while (!r.empty() && std::isspace(static_cast<unsigned char>(r.back()))) r.pop_back();
  return r;
}

void Tokens::end() {
  if (!atEnd()) fail("the end of the line");
}

}  // namespace BridgeSim
