#include "batch/source_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

using Entries = std::vector<std::string>;

struct ScanCase {
  const char* what;
  Entries files;                                     // written empty below the directory
  std::vector<std::pair<const char*, const char*>> links;  // link name, its target
  const char* pattern;                               // below the directory
  bool recurse;
  Entries expected;
};

TEST(SourceList, ScansTheTreeInPostOrderAndByteOrder) {
  const Entries basicTree = {"a.src",     "notes.txt",        "sub/b.src",
                             "sub/b.SRC", "sub/deeper/c.src", "sub/deeper/c.src.bak"};
  const ScanCase cases[] = {
      {"flat", basicTree, {}, "*.src", false, {"a.src"}},
      {"recursive, each directory before its files",
       basicTree,
       {},
       "*.src",
       true,
       {"sub/deeper/c.src", "sub/b.src", "a.src"}},
      {"no match", {"page.txt", "sub/deeper/other.txt"}, {}, "*.src", true, {}},
      {"missing directory", {"page.src"}, {}, "missing/*.src", true, {}},
      {"each directory in byte order",
       {"b.src", "B.src", "a.src", "_.src", "\xc3\xa9.src", "Z/z.src", "m/m.src", "A/a.src"},
       {},
       "*.src",
       true,
       {"A/a.src", "Z/z.src", "m/m.src", "B.src", "_.src", "a.src", "b.src", "\xc3\xa9.src"}},
      {"a matching directory is listed", {"old.src/inner.src", "page.src"}, {}, "*.src", false,
       {"old.src", "page.src"}},
      {"a matching directory is also searched",
       {"old.src/inner.src", "page.src"},
       {},
       "*.src",
       true,
       {"old.src/inner.src", "old.src", "page.src"}},
      {"dot directories and dot files", {".hidden/h.src", ".x.src"}, {}, "*.src", true,
       {".hidden/h.src", ".x.src"}},
      {"backslash is an ordinary character", {"w\\x/in.src", "back\\slash.src"}, {}, "*.src",
       true, {"w\\x/in.src", "back\\slash.src"}},
      {"links back up the walk are not entered",
       {"a.src", "sub/b.src"},
       {{"sub/up", ".."}, {"sub/self", "."}},
       "*.src",
       true,
       {"sub/b.src", "a.src"}},
      {"a link to a directory off the walk is entered", {"real/r.src"}, {{"alias", "real"}},
       "*.src", true, {"alias/r.src", "real/r.src"}},
      {"the name pattern applies at every level",
       {"web.src", "website.src", "page.src", "sub/webpage.src", "sub/page.src"},
       {},
       "web*.src",
       true,
       {"sub/webpage.src", "web.src", "website.src"}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const std::string& file : c.files) dir.write(file, "");
    for (const auto& [name, target] : c.links) ASSERT_EQ(symlink(target, (dir / name).c_str()), 0);
    SourceList list;
    EXPECT_EQ(list.scan(dir / c.pattern, c.recurse), c.expected.size());
    EXPECT_EQ(list.items(), c.expected);
    EXPECT_TRUE(list.unreadableDirectories().empty() || c.expected.empty());
  }
}

TEST(SourceList, RescanReplacesAndScanDirectoryAppends) {
  TempDir one;
  TempDir two;
  one.write("a.src", "");
  two.write("b.src", "");
  two.write("c.src", "");
  SourceList list;
  list.scan(one / "*.src", false);
  EXPECT_EQ(list.scan(two / "*.src", false), 2u);
  EXPECT_EQ(list.items(), (Entries{"b.src", "c.src"}));
  EXPECT_EQ(list.scanDirectory(one / "*.src", false, "pre/"), 1u);
  EXPECT_EQ(list.items(), (Entries{"b.src", "c.src", "pre/a.src"}));
  list.clear();
  EXPECT_EQ(list.count(), 0u);
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
  list.scan("*.src", true);
  EXPECT_EQ(list.items(), (Entries{"sub/b.src", "a.src"}));
}

TEST(SourceList, AMissingDirectoryIsReportedAsUnreadable) {
  TempDir dir;
  SourceList list;
  list.scan(dir / "missing/*.src", true);
  EXPECT_EQ(list.unreadableDirectories(), (Entries{dir / "missing"}));
  list.clear();
  EXPECT_TRUE(list.unreadableDirectories().empty());
}

}  // namespace
}  // namespace qf
