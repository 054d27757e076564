#pragma once
// Short forms for tests that drive objects through generic access: the
// built-in values used as keys, arguments and new values, one attribute
// operation, and the value that a result holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Kiv/GenericAccess.h"
#include "Kiv/GenericIf.h"
#include "Kiv/String8.h"

namespace TestSupport {

using G = Kiv::Ptr<Kiv::GenericIf>;
using GC = Kiv::Ptr<Kiv::GenericIf const>;

// What a const adapter says when it refuses a modifying code.
inline char const* const constMessage = "attempting to modify a const instance";

inline G str(std::string const& s) { return Kiv::Builtin<Kiv::String8>::genericIf(Kiv::String8(s)); }
inline G integer(int v) { return Kiv::Builtin<int>::genericIf(v); }
inline G boolean(bool v) { return Kiv::Builtin<bool>::genericIf(v); }

// Operation `code` on attribute `id` of `adapter`.
inline G op(G const& adapter, Kiv::AttributeId id, std::uint32_t code, GC const& index = nullptr,
            G const& value = nullptr) {
  return adapter->attributeOp({id, code}, index, value);
}

// The T that `g` holds; a test failure when it holds none.
template <class T>
T valueOf(GC const& g) {
  auto const v = Kiv::genericValueOf<T>(g);
  if (!v) ADD_FAILURE() << "not a value of the expected type";
  return v ? *v : T();
}

}  // namespace TestSupport
