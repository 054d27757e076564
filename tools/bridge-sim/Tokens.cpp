#include "Tokens.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "BadInput.h"
#include "Kiv/Exception.h"
#include "Kiv/Strep.h"

namespace BridgeSim {

namespace {

bool wordByte(unsigned char c) { return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '/'; }

// The length of the UTF-8 sequence at `p` (at most `n` bytes), or 0 when
// none starts there (a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF, a cut sequence).
std::size_t utf8Sequence(unsigned char const* p, std::size_t n) {
  if (p[0] < 0x80) return 1;
  std::size_t len;
  std::uint32_t cp;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) len = 2, cp = p[0] & 0x1Fu;
  else if (p[0] >= 0xE0 && p[0] <= 0xEF) len = 3, cp = p[0] & 0x0Fu;
  else if (p[0] >= 0xF0 && p[0] <= 0xF4) len = 4, cp = p[0] & 0x07u;
  else return 0;
  if (n < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3Fu);
  }
  bool const shortest = (len == 3 && cp >= 0x800) || (len == 4 && cp >= 0x10000) || len == 2;
  if (!shortest || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

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

std::string printable(std::string const& text, std::size_t max) {
  auto const* p = reinterpret_cast<unsigned char const*>(text.data());
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (out.size() >= max) return out + "...";
    std::size_t const len = utf8Sequence(p + i, text.size() - i);
    if (len == 0 || p[i] < 0x20 || p[i] == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", p[i]);
      out += buf;
      ++i;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  return out;
}

std::string located(std::string const& file, int line, std::string const& text, std::string const& message) {
  std::string r = file + ":" + std::to_string(line) + ": " + printable(message);
  if (text.size() > 200) r += " (the line has " + std::to_string(text.size()) + " bytes)";
  return r;
}

Tokens::Tokens(std::string const& line) : line_(line), it_(line_.iterator()), end_(line_.end()) {
  auto const* p = reinterpret_cast<unsigned char const*>(line.data());
  for (std::size_t i = 0; i < line.size();) {
    if (p[i] == 0) throw BadInput("a NUL byte at column " + std::to_string(i));
    std::size_t const len = utf8Sequence(p + i, line.size() - i);
    if (len == 0) throw BadInput("bytes that are not UTF-8 at column " + std::to_string(i));
    i += len;
  }
}

std::size_t Tokens::column() const { return it_.position(); }

void Tokens::fail(std::string const& what) const {
  if (it_.atEnd()) throw BadInput("expected " + what + " at column " + std::to_string(column()) + ", found end of line");
  std::string found;
  for (auto i = it_; !i.atEnd() && !std::isspace(*i) && found.size() <= 40; ++i) found += static_cast<char>(*i);
  throw BadInput("expected " + what + " at column " + std::to_string(column()) + ", found " + printable(found, 40));
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
  skipBlanks();
  std::size_t const col = column();
  auto const vid = number("a VLAN id", ~std::uint64_t(0));
  if (vid < 1 || vid > 4094) {
    throw BadInput("VLAN id " + std::to_string(vid) + " at column " + std::to_string(col) + " is out of range (1 to 4094)");
  }
  return Bridging::VlanId(static_cast<std::uint16_t>(vid));
}

std::uint64_t Tokens::number(char const* what, std::uint64_t max) {
  skipBlanks();
  if (it_.atEnd() || !std::isdigit(*it_)) fail(what);
  auto const start = it_;
  unsigned long long n = 0;
  try {
    n = Kiv::sequenceToValue<unsigned long long>(it_, end_);
  } catch (Kiv::Exception const&) {
    fail(std::string(what) + " up to " + std::to_string(max));  // too many digits
  }
  // A number ends at a blank, a comment or the line's end: "1.5" is not 1.
  if (!it_.atEnd() && !std::isspace(*it_) && *it_ != '#') {
    it_ = start;
    fail(std::string(what) + " (a whole number)");
  }
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
