#pragma once
// The product library as a test program that links only the runtime loads
// it: with dlopen, when the test chooses, so that the library's
// initializers run against a registry in the state the test has set. The
// program defines BTS_PRODUCT_PATH, the library file. The library stays
// loaded for the rest of the process: its type objects must outlive every
// use.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "Kiv/IntrospectionReactor.h"

#ifndef BTS_PRODUCT_PATH
#error "BTS_PRODUCT_PATH names the product library file"
#endif

namespace TestSupport {

inline char const* const productPath = BTS_PRODUCT_PATH;

inline bool productLoaded() { return dlopen(productPath, RTLD_NOW | RTLD_NOLOAD) != nullptr; }

inline ::testing::AssertionResult loadProduct() {
  if (productLoaded() || dlopen(productPath, RTLD_NOW | RTLD_GLOBAL)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << dlerror();
}

// Makes the registry refuse registrations until it is switched back on,
// at the latest when this object goes.
struct RefusingRegistry {
  RefusingRegistry() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(false); }
  ~RefusingRegistry() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true); }
};

}  // namespace TestSupport
