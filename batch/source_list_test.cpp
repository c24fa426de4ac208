#include "batch/source_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

std::vector<std::string> entriesOf(const SourceList& list) {
  std::vector<std::string> entries;
  for (int i = 0; i < list.count(); ++i) entries.push_back(list.itemAt(i));
  return entries;
}

using Entries = std::vector<std::string>;

// root: a.src, sub/b.src, sub/deeper/c.src, plus names that must not match.
void writeBasicTree(const TempDir& dir) {
  dir.write("a.src", "");
  dir.write("notes.txt", "");
  dir.write("sub/b.src", "");
  dir.write("sub/b.SRC", "");
  dir.write("sub/deeper/c.src", "");
  dir.write("sub/deeper/c.src.bak", "");
}

struct ScanCase {
  const char* name;
  bool recurse;
  Entries expected;
};

TEST(SourceList, ScansFlatOrRecursivelyInPostOrder) {
  TempDir dir;
  writeBasicTree(dir);
  const ScanCase cases[] = {
      {"flat", false, {"a.src"}},
      {"recursive", true, {"sub/deeper/c.src", "sub/b.src", "a.src"}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    SourceList list;
    EXPECT_EQ(list.scan((dir / "*.src").c_str(), c.recurse, nullptr),
              static_cast<int>(c.expected.size()));
    EXPECT_EQ(entriesOf(list), c.expected);
  }
}

TEST(SourceList, NoMatchOrMissingDirectoryYieldsNothing) {
  TempDir dir;
  dir.write("page.txt", "");
  dir.write("sub/deeper/other.txt", "");
  SourceList list;
  EXPECT_EQ(list.scan((dir / "*.src").c_str(), false, nullptr), 0);
  EXPECT_EQ(list.scan((dir / "*.src").c_str(), true, nullptr), 0);
  EXPECT_TRUE(list.unreadableDirectories().empty());
  EXPECT_EQ(list.scan((dir / "missing/*.src").c_str(), true, nullptr), 0);
  EXPECT_EQ(list.unreadableDirectories(), std::vector<std::string>{dir / "missing"});
  EXPECT_EQ(list.scan(nullptr, true, nullptr), 0);
  EXPECT_TRUE(list.unreadableDirectories().empty());
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.itemAt(0), nullptr);
}

TEST(SourceList, EachDirectoryIsTakenInByteOrder) {
  TempDir dir;
  for (const char* name :
       {"b.src", "B.src", "a.src", "_.src", "\xc3\xa9.src", "Z/z.src", "m/m.src", "A/a.src"}) {
    dir.write(name, "");
  }
  SourceList list;
  list.scan((dir / "*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"A/a.src", "Z/z.src", "m/m.src", "B.src", "_.src", "a.src",
                                      "b.src", "\xc3\xa9.src"}));
}

TEST(SourceList, MatchingDirectoryIsListedAndSearched) {
  TempDir dir;
  dir.write("old.src/inner.src", "");
  dir.write("page.src", "");
  SourceList list;
  list.scan((dir / "*.src").c_str(), false, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"old.src", "page.src"}));
  list.scan((dir / "*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"old.src/inner.src", "old.src", "page.src"}));
}

TEST(SourceList, DotDirectoriesAndDotFilesAreFound) {
  TempDir dir;
  dir.write(".hidden/h.src", "");
  dir.write(".x.src", "");
  SourceList list;
  list.scan((dir / "*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{".hidden/h.src", ".x.src"}));
}

TEST(SourceList, BackslashIsAnOrdinaryNameCharacter) {
  TempDir dir;
  dir.write("w\\x/in.src", "");
  dir.write("back\\slash.src", "");
  SourceList list;
  list.scan((dir / "*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"w\\x/in.src", "back\\slash.src"}));
}

TEST(SourceList, LinkBackUpTheWalkIsNotEnteredAgain) {
  TempDir dir;
  dir.write("a.src", "");
  dir.write("sub/b.src", "");
  ASSERT_EQ(symlink("..", (dir / "sub/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (dir / "sub/self").c_str()), 0);
  SourceList list;
  EXPECT_EQ(list.scan((dir / "*.src").c_str(), true, nullptr), 2);
  EXPECT_EQ(entriesOf(list), (Entries{"sub/b.src", "a.src"}));
}

TEST(SourceList, LinkToADirectoryOffTheWalkIsEntered) {
  TempDir dir;
  dir.write("real/r.src", "");
  ASSERT_EQ(symlink("real", (dir / "alias").c_str()), 0);
  SourceList list;
  list.scan((dir / "*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"alias/r.src", "real/r.src"}));
}

TEST(SourceList, RescanReplacesAndScanDirectoryAppends) {
  TempDir one;
  TempDir two;
  one.write("a.src", "");
  two.write("b.src", "");
  two.write("c.src", "");
  SourceList list;
  list.scan((one / "*.src").c_str(), false, nullptr);
  EXPECT_EQ(list.scan((two / "*.src").c_str(), false, nullptr), 2);
  EXPECT_EQ(entriesOf(list), (Entries{"b.src", "c.src"}));
  EXPECT_EQ(list.scanDirectory((one / "*.src").c_str(), false, "pre/"), 1);
  EXPECT_EQ(entriesOf(list), (Entries{"b.src", "c.src", "pre/a.src"}));
  EXPECT_EQ(list.clear(), 1);
  EXPECT_EQ(list.count(), 0);
}

TEST(SourceList, ItemAtRejectsIndicesOutsideTheList) {
  TempDir dir;
  dir.write("a.src", "");
  dir.write("b.src", "");
  SourceList list;
  list.scan((dir / "*.src").c_str(), false, nullptr);
  EXPECT_STREQ(list.itemAt(0), "a.src");
  EXPECT_STREQ(list.itemAt(1), "b.src");
  EXPECT_EQ(list.itemAt(-1), nullptr);
  EXPECT_EQ(list.itemAt(2), nullptr);
}

TEST(SourceList, NamePatternIsAppliedAtEveryLevel) {
  TempDir dir;
  dir.write("web.src", "");
  dir.write("website.src", "");
  dir.write("page.src", "");
  dir.write("sub/webpage.src", "");
  dir.write("sub/page.src", "");
  SourceList list;
  list.scan((dir / "web*.src").c_str(), true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"sub/webpage.src", "web.src", "website.src"}));
}

// Runs a block in another working directory and returns to the old one.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path)
      : old_(std::filesystem::current_path().string()) {
    if (chdir(path.c_str()) != 0) ADD_FAILURE() << "chdir " << path;
  }
  ~WorkingDirectory() {
    if (chdir(old_.c_str()) != 0) ADD_FAILURE() << "chdir back";
  }

 private:
  std::string old_;
};

TEST(SourceList, PatternWithoutSlashSearchesTheCurrentDirectory) {
  TempDir dir;
  dir.write("a.src", "");
  dir.write("sub/b.src", "");
  WorkingDirectory cwd(dir.path());
  SourceList list;
  list.scan("*.src", true, nullptr);
  EXPECT_EQ(entriesOf(list), (Entries{"sub/b.src", "a.src"}));
}

}  // namespace
}  // namespace qf
