#pragma once
// The message of the runtime exception that a call throws, for tests that
// compare the system's own failure texts. A call that throws nothing gives
// "no exception", which no expected message equals; an exception of another
// kind escapes and fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "Kiv/Exception.h"

namespace TestSupport {

// The message of the E that `call` throws; E must also carry `id`.
template <class E, class F>
std::string exceptionMessage(std::uint32_t id, F&& call) {
  try {
    std::forward<F>(call)();
  } catch (E const& e) {
    EXPECT_TRUE(e.hasId(id)) << "\"" << e.message() << "\" lacks exception id " << id;
    return e.message().stdString();
  }
  return "no exception";
}

template <class F>
std::string rangeMessage(F&& call) {
  return exceptionMessage<Kiv::RangeException>(Kiv::ExceptionId::range, std::forward<F>(call));
}

template <class F>
std::string nameInUseMessage(F&& call) {
  return exceptionMessage<Kiv::NameInUseException>(Kiv::ExceptionId::nameInUse, std::forward<F>(call));
}

}  // namespace TestSupport
