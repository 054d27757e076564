#pragma once
// Tokens reads the words and values of one command line, left to right.
// Values are in the runtime's text forms: strings, interface names and
// Ethernet addresses quoted ('Ethernet1', '00:1c:73:00:00:01'), True and
// False, decimal numbers, and tap devices as
// Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 7}).
// Every reader throws BadInput naming what it expected and the column; a
// line with a NUL byte or bytes that are not UTF-8 is refused whole, at the
// first such byte.
#include <cstdint>
#include <string>

#include "Kiv/String8.h"
#include "Lumo/Types.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"
#include "agent/Config.h"

namespace BridgeSim {

class Tokens {
 public:
  explicit Tokens(std::string const& line);
  Tokens(Tokens const&) = delete;
  Tokens& operator=(Tokens const&) = delete;

  bool atEnd();  // only blanks or a comment left
  // A bare word (letters, digits, '-', '_', '.'); `what` names it in errors.
  std::string word(char const* what);
  // The next bare word when there is one, else the empty string.
  std::string optionalWord();
  // Whether a quoted value comes next.
  bool quoteNext();
  // Consumes the bare word `w` when it comes next.
  bool accept(std::string const& w);
  Kiv::String8 string(char const* what);
  // A quoted interface name such as 'Ethernet1', 'Ethernet3/1' or
  // 'Port-Channel5': letters (and '-'), a number, then '/number' parts.
  Pyrel::IntfId intf();
  Pyrel::EthAddr mac();
  Bridging::VlanId vlan();
  std::uint64_t number(char const* what, std::uint64_t max);
  double seconds();
  bool boolean(char const* what);
  Bridging::Orva::Config::TapDevice tapDevice();
  // What is left of the line, without the blanks around it.
  std::string rest();
  void end();  // throws when anything but a comment is left

 private:
  [[noreturn]] void fail(std::string const& what) const;
  void skipBlanks();
  std::size_t column() const;  // 0-based, as the runtime's readers count

  Kiv::String8 line_;
  Kiv::String8::IteratorConst it_;
  Kiv::String8::IteratorConst end_;
};

// Whether `name` is a well-formed interface name (see Tokens::intf).
bool intfNameValid(std::string const& name);

// `text` as an error may quote it: control bytes and bytes that are not
// UTF-8 as \xNN, and at most about `max` bytes, "..." marking a cut.
std::string printable(std::string const& text, std::size_t max = 400);
// "FILE:LINE: message", the message made printable; a long line's length
// is added, since the message shows only part of it.
std::string located(std::string const& file, int line, std::string const& text, std::string const& message);

}  // namespace BridgeSim
