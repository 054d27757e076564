#pragma once
// What the generic adapters of a library's types (their GenericIf_ classes)
// need over and over, written once: values into and out of generic form,
// the argument lists of calls and constructions, and the rules of a scalar
// attribute.
//
//   auto& args = Kiv::argumentList(index);                     // or "Kiv::GenericIf::List_"
//   auto name = Kiv::argument<Kiv::Name>(args, 0, "name");     // or the type error "name"
//   Kiv::requireArgumentsAtMost(args, 1, "Config");            // or the unknown-argument error
//
// Every failure is thrown through the Kiv::GenericIf throwers and names the
// attribute or argument at fault; nothing is read past an argument list.
#include <cstddef>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Kiv/Export.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/TypeRegistration.h"

namespace Kiv {

// A generic value holding a copy of `v`, made by its type's own factory
// (the registered type's genericIfOfValue).
template <class T>
Ptr<GenericIf> genericValue(T const& v, bool isConst) {
  return ValueType<T>::type()->genericIfOfValue(&v, isConst);
}

// The value that `g` holds as a T; empty when `g` is null or holds
// something else. Built-in types convert as Builtin<T>::valueOf does; any
// other value type must be held exactly.
template <class T>
std::optional<T> genericValueOf(Ptr<GenericIf const> const& g) {
  if constexpr (std::is_arithmetic<T>::value || std::is_same<T, String8>::value || std::is_same<T, Name>::value) {
    return Builtin<T>::valueOf(g);
  } else {
    if (!g) return std::nullopt;
    Ptr<KivType> const type = ValueType<T>::type();
    if (g->objectType() != type) return std::nullopt;
    return *static_cast<T const*>(g->castTo(type));
  }
}

// `g` as an argument list, or the type exception "Kiv::GenericIf::List_"
// (also when `g` is null). The list is `g`'s object: keep `g` meanwhile.
KIV_API GenericIf::List_ const& argumentList(Ptr<GenericIf const> const& g);

// Argument `i` of `list` as a T. When the list is shorter, the element
// holds no value or it holds another type, throws the type exception
// naming the argument (`name`).
template <class T>
T argument(GenericIf::List_ const& list, std::size_t i, String8 const& name) {
  std::optional<T> v = i < list.size() ? genericValueOf<T>(list.at(i)) : std::nullopt;
  if (!v) GenericIf::throwTypeException(name);
  return *std::move(v);
}

// Throws the unknown-argument exception naming `owner` (the function,
// collection or type called) when `list` holds more than `count` elements.
KIV_API void requireArgumentsAtMost(GenericIf::List_ const& list, std::size_t count, String8 const& owner);

// Serves `op` on a scalar attribute `name` of type T: an index is refused
// (bad index); 0 returns get() as a generic value with the adapter's const
// flag; 128 stores read(value, name) through set() and returns null; any
// other code is refused. `read` gives the new value as a T or throws the
// error naming the attribute; nothing is stored when it throws. A const
// adapter's refusal of 128 is its caller's check, made before this one.
template <class T, class Get, class Set, class Read>
Ptr<GenericIf> scalarAttributeOp(GenericIf const& adapter, String8 const& name, GenericIf::AttributeOp const& op,
                                 Ptr<GenericIf const> const& index, Ptr<GenericIf> const& value, Get&& get, Set&& set,
                                 Read&& read) {
  if (index) GenericIf::throwBadIndexAttrException(name);
  if (op.code == GenericIf::opGet) return genericValue<T>(get(), adapter.isConst());
  if (op.code != GenericIf::opSet) GenericIf::throwOpNotSupportedException(name, op.code, false);
  set(read(Ptr<GenericIf const>(value), name));
  return nullptr;
}

// The same, where the new value must be a generic value that converts to
// T (genericValueOf): a missing value or one that does not is the type
// error `name`.
template <class T, class Get, class Set>
Ptr<GenericIf> scalarAttributeOp(GenericIf const& adapter, String8 const& name, GenericIf::AttributeOp const& op,
                                 Ptr<GenericIf const> const& index, Ptr<GenericIf> const& value, Get&& get, Set&& set) {
  return scalarAttributeOp<T>(adapter, name, op, index, value, std::forward<Get>(get), std::forward<Set>(set),
                              [](Ptr<GenericIf const> const& g, String8 const& n) {
                                std::optional<T> v = genericValueOf<T>(g);
                                if (!v) GenericIf::throwTypeException(n);
                                return *std::move(v);
                              });
}

// --- Object references, whole argument lists, read-only and function
// attributes.
// Argument `i` of `list` as a reference to an E. An element that holds no
// value is the null reference (None). A list too short to have the
// argument, or an element that wraps anything but an E (a value, or an
// adapter of another class or of no object), is the type error naming the
// argument (`name`).
template <class E>
Ptr<E> referenceArgument(GenericIf::List_ const& list, std::size_t i, String8 const& name) {
  if (i >= list.size()) GenericIf::throwTypeException(name);
  Ptr<GenericIf const> const element = list.at(i);
  if (!element) return nullptr;
  E* const object = genericObject<E>(element);
  if (!object) GenericIf::throwTypeException(name);
  return Ptr<E>(object);
}

namespace detail {

// Reads argument `i` as a T: a reference by referenceArgument, a value by
// argument.
template <class T>
struct ArgumentReader {
  static T read(GenericIf::List_ const& list, std::size_t i, String8 const& name) {
    return argument<T>(list, i, name);
  }
};
template <class E>
struct ArgumentReader<Ptr<E>> {
  static Ptr<E> read(GenericIf::List_ const& list, std::size_t i, String8 const& name) {
    return referenceArgument<E>(list, i, name);
  }
};

template <class... A, std::size_t... I>
std::tuple<A...> readArguments(GenericIf::List_ const& list, ArgumentRow const* rows,
                               String8 const& owner, std::index_sequence<I...>) {
  (void)rows;  // no argument to name when A is empty
  // A braced list evaluates its elements in order, so the first argument
  // at fault is the one reported.
  std::tuple<A...> arguments{ArgumentReader<A>::read(list, I, rows[I].name)...};
  requireArgumentsAtMost(list, sizeof...(A), owner);
  return arguments;
}

}  // namespace detail

// The arguments of types A... that `list` holds, in order, argument i
// named by rows[i]; then a list that holds more is the unknown-argument
// error naming `owner` (the function, collection or type called).
template <class... A>
std::tuple<A...> readArguments(GenericIf::List_ const& list, ArgumentRow const* rows,
                               String8 const& owner) {
  return detail::readArguments<A...>(list, rows, owner, std::index_sequence_for<A...>());
}

// `v` in generic form with the const flag `isConst`: a reference as an
// adapter of its object (null for null), made by the object's own type; a
// value as a generic value of its registered type.
template <class E>
Ptr<GenericIf> genericOf(Ptr<E> const& v, bool isConst) {
  return KivType::genericIf(v.ptr(), isConst);
}
template <class T>
Ptr<GenericIf> genericOf(T const& v, bool isConst) {
  return genericValue<T>(v, isConst);
}

// Serves a read-only attribute `name`: an index is refused (bad index);
// code 0 returns get() in generic form with the adapter's const flag; any
// other code is refused. A const adapter's refusal of codes 128 to 255 is
// its caller's check, made before this one.
template <class Get>
Ptr<GenericIf> readOnlyAttributeOp(GenericIf const& adapter, String8 const& name,
                                             GenericIf::AttributeOp const& op,
                                             Ptr<GenericIf const> const& index, Get&& get) {
  if (index) GenericIf::throwBadIndexAttrException(name);
  if (op.code != GenericIf::opGet) GenericIf::throwOpNotSupportedException(name, op.code, false);
  return genericOf(get(), adapter.isConst());
}

// Serves a function attribute `name` whose arguments are of types A...,
// argument i named by rows[i]: code 0 reads the arguments from `index`,
// which must be an argument list (else the type error
// "GenericIf::List_"), calls call(arguments...) and returns null. Any
// other code is refused.
template <class... A, class Call>
Ptr<GenericIf> functionAttributeOp(String8 const& name, GenericIf::AttributeOp const& op,
                                             Ptr<GenericIf const> const& index, ArgumentRow const* rows,
                                             Call&& call) {
  if (op.code != GenericIf::opGet) GenericIf::throwOpNotSupportedException(name, op.code, false);
  std::apply(std::forward<Call>(call), readArguments<A...>(argumentList(index), rows, name));
  return nullptr;
}

// --- Iterator handles of one collection attribute.

// The attribute-iterator handles that an adapter makes for its collection
// attribute `id`, whose iterator type is It: making, checking, copying,
// advancing and freeing them. A handle of another adapter or attribute, or
// one already freed, is the type error naming the collection (`name`).
template <class It>
class IteratorHandles {
 public:
  using Handle = GenericIf::AttributeIterator;

  constexpr IteratorHandles(AttributeId id, char const* name) noexcept : id_(id), name_(name) {}
  AttributeId id() const noexcept { return id_; }

  Handle make(GenericIf const& adapter, It it) const { return adapter.kivIteratorMake(id_, std::move(it)); }
  It& of(GenericIf const& adapter, Handle const& h) const {
    if (h.adapter.ptr() != &adapter || h.attributeId != id_ || !h.state) GenericIf::throwTypeException(name_);
    return GenericIf::kivIterator<It>(h);
  }
  Handle clone(GenericIf const& adapter, Handle const& h) const { return make(adapter, of(adapter, h)); }
  void increment(GenericIf const& adapter, Handle const& h) const { ++of(adapter, h); }
  bool nonNull(GenericIf const& adapter, Handle const& h) const { return static_cast<bool>(of(adapter, h)); }
  // Frees the iterator. Never throws, since it runs from destructors: a
  // handle that is not one of these is only emptied.
  void free(GenericIf const& adapter, Handle& h) const noexcept {
    if (h.adapter.ptr() == &adapter && h.attributeId == id_ && h.state) delete static_cast<It*>(h.state);
    h.state = nullptr;
  }

  // A collection's key look-up stands on the next member when the key is
  // absent; a handle at a key stands at the end then.
  template <class Key, class KeyOf>
  static It exactly(It it, Key const& key, KeyOf&& keyOf) {
    if (it && !(keyOf(*it) == key)) it = It();
    return it;
  }

 private:
  AttributeId id_;
  char const* name_;
};

}  // namespace Kiv
