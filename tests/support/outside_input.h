// Tests that need something from outside the tree (a tool on the path, the
// shared corpus, a system locale) skip where it is missing, except in a run
// with CI set, which must have everything: there the test fails instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace nura::test {

inline bool OutsideInputsRequired() { return std::getenv("CI") != nullptr; }

}  // namespace nura::test

// Skips the test when `available` is false and CI is unset; fails it when CI
// is set. `what` names the missing input.
#define NURA_REQUIRE_OUTSIDE_INPUT(available, what)                                                   \
  do {                                                                                                \
    if (!(available)) {                                                                               \
      if (::nura::test::OutsideInputsRequired()) GTEST_FAIL() << (what) << " is missing (CI is set)"; \
      GTEST_SKIP() << (what) << " is missing";                                                        \
    }                                                                                                 \
  } while (false)
