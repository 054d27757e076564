#pragma once
// Text forms of values ("streps") and their readers. Every value that a
// generic tool prints or parses goes through these: valueToStrep() writes
// the text form, sequenceToValue() reads one value from a position in a
// string, strepToValue<T>() parses a whole string.
//
// Text forms:
//   - a string is single-quoted; the quote, the backslash and every byte
//     outside printable ASCII are escaped as \' \\ \n \t \r or \xNN (two
//     lower-case hex digits). The reader takes what the writer writes, in
//     single or double quotes, and bytes inside the quotes as they stand.
//   - integers are decimal with an optional sign; bool is True or False;
//     a double is the shortest decimal text that reads back to the same
//     double ("inf", "-inf" and "nan" for the special values).
//
// Readers take (it, end) over one string. They never read at or past end,
// and they do not skip leading white space: a caller consumes it with
// needString(it, end, " ") before each token. A reader that succeeds leaves
// `it` after the value; a reader that fails throws Kiv::RangeException with
// a message naming what it expected and the 0-based column, and leaves `it`
// where it was.
//
//   auto it = s.iterator();
//   Kiv::needString(it, s.end(), " {");
//   auto key = Kiv::sequenceToValue<Kiv::String8>(it, s.end());
//   Kiv::needString(it, s.end(), " : ");
//   auto n = Kiv::deserializeAttr<long long>(it, s.end(), nullptr, key);
#include <cstddef>
#include <initializer_list>
#include <type_traits>

#include "Kiv/Exception.h"
#include "Kiv/Export.h"
#include "Kiv/FunctionRef.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"

namespace Kiv {

class Entity;
class KivType;
class PtrInterface;

// printf-style formatting into a string.
KIV_API String8 format(char const* fmt, ...) __attribute__((format(printf, 1, 2)));

// --- Writers

KIV_API String8 valueToStrep(String8 const& v);
// A literal is text, not a pointer that would otherwise convert to bool.
KIV_API String8 valueToStrep(char const* v);
KIV_API String8 valueToStrep(Name const& v);
KIV_API String8 valueToStrep(unsigned long long v);
KIV_API String8 valueToStrep(long long v);
KIV_API String8 valueToStrep(bool v);
KIV_API String8 valueToStrep(double v);

// An object reference: an entity prints as its full name in the string
// text form, null as None, any other object as its type's name in angle
// brackets, quoted ('<TopoStateReflector>').
KIV_API String8 valueToStrep(Ptr<PtrInterface const> const& p);
template <class T, std::enable_if_t<std::is_base_of<PtrInterface, T>::value, int> = 0>
String8 valueToStrep(Ptr<T> const& p) {
  return valueToStrep(Ptr<PtrInterface const>(p.ptr()));
}

// Any other integer type prints as its value in decimal, so that narrow
// attribute types need no cast at the call and never pick the bool or the
// double overload. A plain char is left out: it is more likely text than a
// number, and is refused at compile time rather than printed as one.
template <class I, std::enable_if_t<std::is_integral<I>::value && !std::is_same<I, bool>::value &&
                                        !std::is_same<I, char>::value && !std::is_same<I, long long>::value &&
                                        !std::is_same<I, unsigned long long>::value,
                                    int> = 0>
String8 valueToStrep(I v) {
  if (std::is_signed<I>::value) return valueToStrep(static_cast<long long>(v));
  return valueToStrep(static_cast<unsigned long long>(v));
}

// --- Readers

// The value of a hex digit in either case, or -1 for any other byte.
constexpr int hexDigitValue(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Consumes `pattern` at `it`. A blank in the pattern stands for optional
// white space (any run, possibly empty, of space, tab, CR and LF); every
// other byte must match exactly. So " : " accepts ":" and " :  ", and "} "
// also consumes the white space after the brace.
// Throws RangeException 'expected "<token>" at column <n>' (with ", found
// end of input" when the input ran out), naming the blank-separated part of
// the pattern that did not match and the column where it should start.
KIV_API void needString(String8::IteratorConst& it, String8::IteratorConst const& end, char const* pattern);

// A quoted string, either quote, with the escapes above.
KIV_API String8 sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, String8*);
// A quoted string, read as a name.
KIV_API Name sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, Name*);
// An optional sign and decimal digits; a value outside the type throws.
KIV_API long long sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, long long*);
// As the signed reader; a minus sign is taken only before a zero ("-0").
KIV_API unsigned long long sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end,
                                           unsigned long long*);
// True or False (also true or false).
KIV_API bool sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, bool*);
// A decimal or exponent form with an optional sign, or inf, infinity, nan
// in any case. A value beyond what a double holds (too large, or nonzero
// and smaller than the least denormal) throws rather than round to infinity
// or zero.
KIV_API double sequenceToValue(String8::IteratorConst& it, String8::IteratorConst const& end, double*);

// Reads an entity reference: None (null) or a full name in the string text
// form, looked up from the root directory. A name that leads nowhere
// throws.
KIV_API Ptr<Entity> sequenceToValueOfPtr(String8::IteratorConst& it, String8::IteratorConst const& end, Entity*);

// Throws the RangeException "cannot convert <text> at column <n> to
// <type>": the text between `it` and `end` (a value just read) is not of
// the qualified type `type`.
[[noreturn]] KIV_API void cannotConvert(String8::IteratorConst const& it, String8::IteratorConst const& end,
                                        KivType const& type);

// The reader for type V, chosen by its type tag.
template <class V, class It>
V sequenceToValue(It& it, It const& end) {
  return sequenceToValue(it, end, static_cast<V*>(nullptr));
}

// Throws a RangeException that keeps the message and ids of `e` and names
// the attribute being read: "<message> (attribute '<name>')".
[[noreturn]] KIV_API void rethrowFromDeserializeAttr(RangeException const& e, String8 const& attributeName);

// Reads the new value of attribute `attributeName`. `current` is the
// attribute's present value, for readers that build on it; the built-in
// readers do not use it. A reader's RangeException is rethrown naming the
// attribute; other exceptions pass unchanged.
template <class V>
V deserializeAttr(String8::IteratorConst& it, String8::IteratorConst const& end, [[maybe_unused]] V const* current,
                  String8 const& attributeName) {
  try {
    return sequenceToValue(it, end, static_cast<V*>(nullptr));
  } catch (RangeException const& e) {
    rethrowFromDeserializeAttr(e, attributeName);
  }
}

// --- Values with fields

// The text form of a value of a type with fields, `typeName` being its
// qualified name and each field's text already its text form:
// "Value('<typeName>', ** {'<field>': <text>, ...})".
struct StrepField {
  char const* name;
  String8 text;
};
KIV_API String8 valueFieldsToStrep(char const* typeName, std::initializer_list<StrepField> fields);

// Reads that text form, white space allowed between its tokens, calling
// readField(field, it, end) to read the value of each field; readField
// returns false for a field the type does not have, which throws the
// RangeException "<shortName> has no such attribute: <field>". Text that
// ends before the closing brace throws "premature end of value type
// <shortName>". On success `it` stands after the closing parenthesis and
// the white space after it; on failure it stays where it was.
KIV_API void readValueFields(
    String8::IteratorConst& it, String8::IteratorConst const& end, char const* typeName, char const* shortName,
    FunctionRef<bool(String8 const&, String8::IteratorConst&, String8::IteratorConst const&)> readField);

// --- Whole strings

// Throws unless `it` stands at the end of `input`: the RangeException
// "junk at column <n> deserializing <input>" (exception id 12), the column
// being the 0-based position of the first unconsumed byte.
KIV_API void needEndOfStrep(String8::IteratorConst const& it, String8 const& input);

// Parses all of `s` with read(it, end): optional white space, the value,
// optional white space, and nothing else.
template <class V, class Read>
V parseWholeStrep(String8 const& s, Read&& read) {
  String8::IteratorConst it = s.iterator();
  String8::IteratorConst const end = s.end();
  needString(it, end, " ");
  V v = read(it, end);
  needString(it, end, " ");
  needEndOfStrep(it, s);
  return v;
}

// Parses a whole string as a value of type T. Types that have a text form
// specialize it.
template <class T>
T strepToValue(String8 const& s);

template <>
KIV_API String8 strepToValue<String8>(String8 const& s);
template <>
KIV_API long long strepToValue<long long>(String8 const& s);
template <>
KIV_API unsigned long long strepToValue<unsigned long long>(String8 const& s);
template <>
KIV_API bool strepToValue<bool>(String8 const& s);
template <>
KIV_API double strepToValue<double>(String8 const& s);
template <>
KIV_API int strepToValue<int>(String8 const& s);
template <>
KIV_API unsigned int strepToValue<unsigned int>(String8 const& s);
template <>
KIV_API unsigned short strepToValue<unsigned short>(String8 const& s);
template <>
KIV_API Name strepToValue<Name>(String8 const& s);

// Parses all of `s` as a reference to an entity of class E (an entity
// reference as sequenceToValueOfPtr reads it, with optional white space
// around it): None gives null; an entity of another class is refused with
// cannotConvert naming E's type; trailing text throws as needEndOfStrep
// does. E and Kiv::Entity must be complete where this is used.
template <class E>
Ptr<E> strepToEntity(String8 const& s) {
  return parseWholeStrep<Ptr<E>>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    String8::IteratorConst const start = it;
    Ptr<Entity> const e = sequenceToValueOfPtr(it, end, static_cast<Entity*>(nullptr));
    if (!e) return Ptr<E>();
    E* const typed = dynamic_cast<E*>(e.ptr());
    if (!typed) {
      String8::IteratorConst const read = it;
      it = start;
      cannotConvert(start, read, *E::_fwkType());
    }
    return Ptr<E>(typed);
  });
}

// The same with a type tag, which only selects T.
template <class T>
T strepToValue(String8 const& s, T*) {
  return strepToValue<T>(s);
}

}  // namespace Kiv
