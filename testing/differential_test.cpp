#include "testing/differential.h"

#include <gtest/gtest.h>

#include "base/test_util.h"

namespace qf {
namespace {

// The compile engine, fed in every way it can be fed, writes what the
// reference engine writes and fails where it fails.
TEST(Differential, EnginesAgreeOnRandomSourceTrees) {
  Compiler compiler(7);
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    Draws draws(seed);
    const DifferentialCase diffCase = drawCase(draws);
    TempDir dir;
    ASSERT_EQ(compareEngines(diffCase, dir.path(), compiler), "") << "seed " << seed;
  }
}

}  // namespace
}  // namespace qf
