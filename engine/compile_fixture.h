#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/test_util.h"
#include "engine/compiler.h"

namespace qf {

/// Files to write below a test's temporary directory: relative path, contents.
using Files = std::vector<std::pair<std::string, std::string>>;

/// A compiler at a fixed moment (Wednesday 7 January 2026, 13:07 UTC) over a
/// temporary directory.
class CompileFixture : public ::testing::Test {
 protected:
  CompileFixture();

  void writeFiles(const Files& files) const;
  /// Compiles dir/input into dir/out.html; returns the output ("<missing>"
  /// when there is none).
  std::string compile(const std::string& input = "index.src",
                      const std::string& includeDirectory = "", char directiveChar = 0);
  /// The result as "file:line: message", with the directory's path removed.
  std::string failure(const std::string& prefix = "") const;

  TempDir dir_;
  Compiler compiler_{7};
};

}  // namespace qf
