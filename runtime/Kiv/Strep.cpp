#include "Kiv/Strep.h"

#include "Kiv/Dir.h"
#include "Kiv/Entity.h"
#include "Kiv/KivType.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

namespace Kiv {

String8 format(char const* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int const n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  if (n <= 0) {
    va_end(again);
    return String8();
  }
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), fmt, again);
  va_end(again);
  out.resize(static_cast<std::size_t>(n));
  return String8(out);
}

namespace {

char const hexDigits[] = "0123456789abcdef";

// The bytes a reader may look at: positions are those of the string, so
// they double as 0-based columns. The end is clamped to the string, so a
// reader handed an end from a longer string still stops inside its own.
struct Span {
  Span(String8::IteratorConst const& it, String8::IteratorConst const& e)
      : data(it.string().data()), pos(it.position()), end(e.position()) {
    if (end > it.string().size()) end = it.string().size();
  }
  bool atEnd() const noexcept { return pos >= end; }
  unsigned char peek() const noexcept { return static_cast<unsigned char>(data[pos]); }
  std::size_t left() const noexcept { return atEnd() ? 0 : end - pos; }
  bool startsWith(char const* text) const noexcept {
    std::size_t const n = std::strlen(text);
    return left() >= n && std::memcmp(data + pos, text, n) == 0;
  }

  char const* data;
  std::size_t pos;
  std::size_t end;
};

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// "expected <what> at column <n>", and whether the input had run out there.
[[noreturn]] void throwExpected(String8 const& what, std::size_t column, bool atEnd) {
  String8 message = "expected " + what + format(" at column %lld", static_cast<long long>(column));
  if (atEnd) message += ", found end of input";
  throwRangeException(message);
}

[[noreturn]] void throwAt(String8 const& what, std::size_t column) {
  throwRangeException(what + format(" at column %lld", static_cast<long long>(column)));
}

// An optional sign; true for minus.
bool readSign(Span& s) {
  if (s.atEnd()) return false;
  if (s.peek() == '+') {
    ++s.pos;
  } else if (s.peek() == '-') {
    ++s.pos;
    return true;
  }
  return false;
}

// Decimal digits at s.pos (at least one, checked by the caller) as a
// magnitude no larger than `max`; false when the digits exceed it.
bool readMagnitude(Span& s, unsigned long long max, unsigned long long& out) {
  unsigned long long v = 0;
  for (; !s.atEnd() && isDigit(s.peek()); ++s.pos) {
    unsigned const d = s.peek() - '0';
    if (d > max || v > (max - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

// Reads a sign and digits whose magnitude may be at most maxPositive, or
// maxNegative after a minus sign. `kind` names the type in messages.
unsigned long long readInteger(Span& s, unsigned long long maxPositive, unsigned long long maxNegative,
                               bool& negative, char const* kind) {
  std::size_t const start = s.pos;
  negative = readSign(s);
  if (s.atEnd() || !isDigit(s.peek())) throwExpected(String8("an ") + kind, start, s.atEnd());
  unsigned long long magnitude = 0;
  if (!readMagnitude(s, negative ? maxNegative : maxPositive, magnitude)) {
    throwAt(String8(kind) + " out of range", start);
  }
  return magnitude;
}

template <class T>
T wholeStrep(String8 const& s) {
  return parseWholeStrep<T>(
      s, [](String8::IteratorConst& it, String8::IteratorConst const& end) { return sequenceToValue<T>(it, end); });
}

}  // namespace

// --- Writers

String8 valueToStrep(String8 const& v) {
  std::string out;
  out.reserve(v.size() + 2);
  out += '\'';
  for (std::size_t i = 0; i < v.size(); ++i) {
    unsigned char const c = v[i];
    switch (c) {
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          out += "\\x";
          out += hexDigits[c >> 4];
          out += hexDigits[c & 0xf];
        }
    }
  }
  out += '\'';
  return String8(out);
}

String8 valueToStrep(char const* v) { return valueToStrep(String8(v)); }
String8 valueToStrep(Name const& v) { return valueToStrep(v.string()); }

String8 valueToStrep(Ptr<PtrInterface const> const& p) {
  if (!p) return "None";
  if (auto const* e = dynamic_cast<Entity const*>(p.ptr())) return valueToStrep(e->fullName());
  Ptr<KivType> t = p->fwkType();
  return valueToStrep("<" + (t ? t->name() : String8("PtrInterface")) + ">");
}

Ptr<Entity> sequenceToValueOfPtr(String8::IteratorConst& it, String8::IteratorConst const& end, Entity*) {
  static char const none[] = "None";
  String8::IteratorConst start = it;
  String8::IteratorConst p = it;
  std::size_t i = 0;
  while (none[i] && p < end && *p == static_cast<unsigned char>(none[i])) {
    ++p;
    ++i;
  }
  if (!none[i]) {
    it = p;
    return nullptr;
  }
  String8 path = sequenceToValue(it, end, static_cast<String8*>(nullptr));
  Ptr<Entity> e = Dir::lookup(path);
  if (!e) {
    it = start;
    throwRangeException("no entity named " + valueToStrep(path));
  }
  return e;
}
String8 valueToStrep(unsigned long long v) { return String8(std::to_string(v)); }
String8 valueToStrep(long long v) { return String8(std::to_string(v)); }
String8 valueToStrep(bool v) { return String8(v ? "True" : "False"); }

String8 valueToStrep(double v) {
  // to_chars without a precision gives the shortest text that reads back
  // to the same double, independent of the locale.
  char buf[64];
  auto const r = std::to_chars(buf, buf + sizeof buf, v);
  return String8(buf, static_cast<std::size_t>(r.ptr - buf));
}

// --- Readers

void needString(String8::IteratorConst& it, String8::IteratorConst const& end, char const* pattern) {
  Span s(it, end);
  char const* token = pattern;
  std::size_t tokenColumn = s.pos;
  for (char const* p = pattern; *p; ++p) {
    if (*p == ' ') {
      while (!s.atEnd() && isBlank(s.peek())) ++s.pos;
      continue;
    }
    if (p == pattern || p[-1] == ' ') {
      token = p;
      tokenColumn = s.pos;
    }
    if (s.atEnd() || s.peek() != static_cast<unsigned char>(*p)) {
      String8 const expected(token, std::strcspn(token, " "));
      throwExpected("\"" + expected + "\"", tokenColumn, s.atEnd());
    }
    ++s.pos;
  }
  it.positionIs(s.pos);
}

String8 sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, String8*) {
  Span s(it, end);
  std::size_t const start = s.pos;
  if (s.atEnd() || (s.peek() != '\'' && s.peek() != '"')) throwExpected("a quoted string", start, s.atEnd());
  unsigned char const quote = s.peek();
  ++s.pos;
  std::string out;
  for (;;) {
    if (s.atEnd()) throwAt("unterminated string starting", start);
    unsigned char c = s.peek();
    ++s.pos;
    if (c == quote) break;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    std::size_t const escape = s.pos - 1;
    if (s.atEnd()) throwAt("unterminated string starting", start);
    c = s.peek();
    ++s.pos;
    switch (c) {
      case '\\':
      case '\'':
      case '"': out += static_cast<char>(c); break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        if (s.left() < 2) throwAt("unterminated string starting", start);
        int const hi = hexDigitValue(s.peek());
        int const lo = hexDigitValue(static_cast<unsigned char>(s.data[s.pos + 1]));
        if (hi < 0 || lo < 0) throwExpected("two hex digits", s.pos, false);
        out += static_cast<char>(hi * 16 + lo);
        s.pos += 2;
        break;
      }
      default: throwExpected("an escape sequence", escape, false);
    }
  }
  it.positionIs(s.pos);
  return String8(out);
}

Name sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, Name*) {
  return Name(sequenceToValue<String8>(it, end));
}

long long sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, long long*) {
  constexpr auto maxPositive = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  Span s(it, end);
  bool negative = false;
  unsigned long long const magnitude = readInteger(s, maxPositive, maxPositive + 1, negative, "integer");
  it.positionIs(s.pos);
  if (!negative) return static_cast<long long>(magnitude);
  // -(2^63) has no positive counterpart; negate in the unsigned domain.
  return magnitude == maxPositive + 1 ? std::numeric_limits<long long>::min() : -static_cast<long long>(magnitude);
}

unsigned long long sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end,
                                   unsigned long long*) {
  Span s(it, end);
  bool negative = false;
  unsigned long long const magnitude =
      readInteger(s, std::numeric_limits<unsigned long long>::max(), 0, negative, "unsigned integer");
  it.positionIs(s.pos);
  return magnitude;
}

bool sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, bool*) {
  Span s(it, end);
  static char const* const words[] = {"True", "true", "False", "false"};
  for (std::size_t i = 0; i < 4; ++i) {
    if (s.startsWith(words[i])) {
      it.positionIs(s.pos + std::strlen(words[i]));
      return i < 2;
    }
  }
  throwExpected("True or False", s.pos, s.atEnd());
}

double sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, double*) {
  Span s(it, end);
  std::size_t const start = s.pos;
  // from_chars takes a minus sign but not a plus sign.
  if (!s.atEnd() && s.peek() == '+') {
    ++s.pos;
    if (!s.atEnd() && (s.peek() == '-' || s.peek() == '+')) throwExpected("a number", start, false);
  }
  if (s.atEnd()) throwExpected("a number", start, true);
  double v = 0;
  auto const r = std::from_chars(s.data + s.pos, s.data + s.pos + s.left(), v);
  if (r.ec == std::errc::invalid_argument) throwExpected("a number", start, s.atEnd());
  if (r.ec == std::errc::result_out_of_range) throwAt("number out of range", start);
  it.positionIs(static_cast<std::size_t>(r.ptr - s.data));
  return v;
}

void rethrowFromDeserializeAttr(RangeException const& e, String8 const& attributeName) {
  throw RangeException(e.message() + " (attribute " + valueToStrep(attributeName) + ")", e.ids(), e.verbatim());
}

// --- Whole strings

void cannotConvert(String8::IteratorConst const& it, String8::IteratorConst const& end, KivType const& type) {
  std::size_t const from = it.position();
  std::size_t const to = end.position() < it.string().size() ? end.position() : it.string().size();
  String8 const text = from < to ? it.string().substr(from, to - from) : String8();
  throwRangeException("cannot convert " + text + format(" at column %lld to ", static_cast<long long>(from)) +
                      type.qualifiedName());
}

String8 valueFieldsToStrep(char const* typeName, std::initializer_list<StrepField> fields) {
  std::string text = "Value(" + valueToStrep(typeName).stdString() + ", ** {";
  bool first = true;
  for (StrepField const& f : fields) {
    if (!first) text += ", ";
    first = false;
    text += valueToStrep(f.name).stdString() + ": " + f.text.stdString();
  }
  return String8(text + "})");
}

void readValueFields(
    String8::IteratorConst& it, String8::IteratorConst const& end, char const* typeName, char const* shortName,
    FunctionRef<bool(String8 const&, String8::IteratorConst&, String8::IteratorConst const&)> readField) {
  // Read from a copy of the position: a failure leaves the caller's as it
  // was.
  String8::IteratorConst at = it;
  std::string const quotedName = " '" + std::string(typeName) + "'";
  for (char const* pattern : {" Value", " (", quotedName.c_str(), " ,", " **", " {"}) needString(at, end, pattern);
  for (bool first = true;; first = false) {
    needString(at, end, " ");
    // The string's own end counts too, should `end` lie beyond it.
    if (!(at < end) || at.atEnd()) throwRangeException("premature end of value type " + String8(shortName));
    if (*at == '}') {
      needString(at, end, "} ");
      needString(at, end, ") ");
      break;
    }
    if (!first) needString(at, end, ", ");
    String8 const field = sequenceToValue<String8>(at, end);
    needString(at, end, " : ");
    if (!readField(field, at, end)) throwRangeException(String8(shortName) + " has no such attribute: " + field);
  }
  it = at;
}

void needEndOfStrep(String8::IteratorConst const& it, String8 const& input) {
  if (it.position() >= input.size()) return;
  // The input is appended rather than formatted with %s, so that a NUL
  // byte in it does not cut the message short.
  String8 const message =
      format("junk at column %lld deserializing ", static_cast<long long>(it.position())) + input;
  throw RangeException(message, {ExceptionId::range}, true);
}

template <>
String8 strepToValue<String8>(String8 const& s) {
  return wholeStrep<String8>(s);
}
template <>
long long strepToValue<long long>(String8 const& s) {
  return wholeStrep<long long>(s);
}
template <>
unsigned long long strepToValue<unsigned long long>(String8 const& s) {
  return wholeStrep<unsigned long long>(s);
}
template <>
bool strepToValue<bool>(String8 const& s) {
  return wholeStrep<bool>(s);
}
template <>
double strepToValue<double>(String8 const& s) {
  return wholeStrep<double>(s);
}

namespace {
// A narrow integer: read as the wide one of its signedness, then checked.
template <class N, class Wide>
N narrowStrep(String8 const& s) {
  Wide v = wholeStrep<Wide>(s);
  if (v < static_cast<Wide>(std::numeric_limits<N>::min()) || v > static_cast<Wide>(std::numeric_limits<N>::max()))
    throwRangeException("integer out of range deserializing " + s);
  return static_cast<N>(v);
}
}  // namespace

template <>
int strepToValue<int>(String8 const& s) {
  return narrowStrep<int, long long>(s);
}
template <>
unsigned int strepToValue<unsigned int>(String8 const& s) {
  return narrowStrep<unsigned int, unsigned long long>(s);
}
template <>
unsigned short strepToValue<unsigned short>(String8 const& s) {
  return narrowStrep<unsigned short, unsigned long long>(s);
}
template <>
Name strepToValue<Name>(String8 const& s) {
  return wholeStrep<Name>(s);
}

}  // namespace Kiv
