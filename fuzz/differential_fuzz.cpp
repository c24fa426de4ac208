// Compiles a random source tree with the compile engine, its input served in
// several ways, and with the plain reference engine, and stops at the first
// difference of output bytes or result. The input's layout is drawCase's
// (testing/differential.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/test_util.h"
#include "testing/differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qf::Compiler compiler(1);
  const qf::DifferentialCase diffCase =
      qf::drawCase(std::string_view(reinterpret_cast<const char*>(data), size));
  const qf::TempDir dir;
  const std::string difference = qf::compareEngines(diffCase, dir.path(), compiler);
  if (!difference.empty()) {
    std::fprintf(stderr, "engines differ: %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
