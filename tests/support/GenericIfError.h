#pragma once
// Whether a generic-access call fails with the `Kiv::GenericIf` error of a
// given exception id naming a given subject. The const error names no
// subject, so for it the message is compared instead.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"

namespace TestSupport {

template <class F>
::testing::AssertionResult failsWith(F&& call, std::uint32_t id, char const* subject) {
  try {
    std::forward<F>(call)();
  } catch (Kiv::GenericIf::Error const& e) {
    Kiv::String8 const named = id == Kiv::ExceptionId::constInstance ? e.message() : e.subject();
    if (e.hasId(id) && named == Kiv::String8(subject)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threw \"" << e.message() << "\" naming \"" << e.subject() << "\"";
  }
  return ::testing::AssertionFailure() << "threw nothing";
}

}  // namespace TestSupport
