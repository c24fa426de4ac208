#include "base/file_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

TEST(NearestExistingDirectory, ClimbsToADirectoryThatExists) {
  TempDir dir;
  dir.write("a/b/file", "");
  const struct {
    std::string directory;
    std::string nearest;
  } cases[] = {
      {dir / "a/b", dir / "a/b"},
      {dir / "a/b/", dir / "a/b"},
      {dir / "a/b/missing/deeper", dir / "a/b"},
      {dir / "a/b/file/x", dir / "a/b"},  // a file is no directory
      {"/no-such-directory-qf/x", "/"},
      {"no-such-directory-qf/x", "."},
      {"", "."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nearestExistingDirectory(c.directory), c.nearest) << c.directory;
  }
}

TEST(AbsolutePath, JoinsARelativePathToTheCurrentDirectory) {
  TempDir dir;
  const std::string real = *resolvedPathOf(dir.path());
  const std::optional<bool> ok = runInChild([&] { return chdir(real.c_str()) == 0; },
                                            [&] {
                                              return absolutePath("a/../b") == real + "/a/../b" &&
                                                     absolutePath("/x/./y") == "/x/./y" &&
                                                     absolutePath("") == "";
                                            });
  ASSERT_TRUE(ok.has_value());
  EXPECT_TRUE(*ok);
}

}  // namespace
}  // namespace qf
