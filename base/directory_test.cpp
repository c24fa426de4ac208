#include "base/directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

// "name" for files, "name/" for directories, with '@' after a link's name,
// in listing order.
std::vector<std::string> describe(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::string> result;
  for (const DirectoryEntry& e : entries) {
    result.push_back(e.name + (e.isLink ? "@" : "") + (e.isDirectory ? "/" : ""));
  }
  return result;
}

TEST(ListDirectory, ListsInByteOrderWithTypes) {
  TempDir dir;
  for (const char* name : {"b.src", "B.src", "a b", ".hidden", "_x", "\xc3\xa9t\xc3\xa9", "a\\b"}) {
    dir.write(name, "");
  }
  dir.write("sub/inner.src", "");
  dir.write(".git/config", "");

  const auto entries = listDirectory(dir.path());
  ASSERT_TRUE(entries);
  EXPECT_EQ(describe(*entries),
            (std::vector<std::string>{".git/", ".hidden", "B.src", "_x", "a b", "a\\b", "b.src",
                                      "sub/", "\xc3\xa9t\xc3\xa9"}));
}

TEST(ListDirectory, FollowsLinksForTheType) {
  TempDir dir;
  dir.write("real/file", "");
  ASSERT_EQ(symlink("real", (dir / "to_dir").c_str()), 0);
  ASSERT_EQ(symlink("real/file", (dir / "to_file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "broken").c_str()), 0);

  const auto entries = listDirectory(dir.path());
  ASSERT_TRUE(entries);
  EXPECT_EQ(describe(*entries),
            (std::vector<std::string>{"broken@", "real/", "to_dir@/", "to_file@"}));
}

TEST(ListDirectory, WorksWithoutTrailingSlashAndFailsOnMissingOrFile) {
  TempDir dir;
  dir.write("d/x", "");
  dir.write("d/y/z", "");
  const auto entries = listDirectory(dir / "d");
  ASSERT_TRUE(entries);
  EXPECT_EQ(describe(*entries), (std::vector<std::string>{"x", "y/"}));

  EXPECT_FALSE(listDirectory(dir / "missing/"));
  EXPECT_FALSE(listDirectory(dir / "d/x"));
  EXPECT_FALSE(listDirectory(dir / std::string_view("d\0ignored", 9)));
}

TEST(MakeDirectories, MakesEveryMissingLevel) {
  TempDir dir;
  EXPECT_TRUE(makeDirectories(dir / "one/two/three/"));
  EXPECT_TRUE(listDirectory(dir / "one/two/three/"));
  EXPECT_TRUE(makeDirectories(dir / "one/two/four"));
  EXPECT_TRUE(listDirectory(dir / "one/two/four"));
  EXPECT_TRUE(makeDirectories(dir / "one/two/"));  // already there
}

TEST(MakeDirectories, FailsWhenAFileIsInTheWay) {
  TempDir dir;
  dir.write("blocked", "");
  EXPECT_FALSE(makeDirectories(dir / "blocked/sub/"));
  EXPECT_FALSE(makeDirectories(dir / "blocked"));
  EXPECT_FALSE(makeDirectories(dir / std::string_view("new\0ignored", 12)));
  EXPECT_FALSE(pathExists(dir / "new"));
}

}  // namespace
}  // namespace qf
