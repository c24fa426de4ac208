#include "base/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/same_contents.h"
#include "base/test_util.h"

namespace qf {
namespace {

struct stat statusOfPath(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

bool writeOutput(const std::string& path, const std::string& bytes) {
  OutputFile output;
  return output.open(path) && output.write(bytes) && output.commit();
}

TEST(SameContents, ComparesEveryByte) {
  struct Case {
    std::string ours;
    std::string theirs;
    bool same;
  } cases[] = {
      {"", "", true},
      {"abc", "abc", true},
      {"abc", "abd", false},
      {"abc", "abcd", false},
      {std::string(200000, 'x'), std::string(200000, 'x'), true},
      {std::string(200000, 'x'), std::string(199999, 'x') + "y", false},
      // The first 64 KiB agree; the difference is in the next block.
      {std::string(65537, 'x'), std::string(65536, 'x') + "y", false},
      {std::string(65536, 'x') + "a" + std::string(9, 'x'),
       std::string(65536, 'x') + "b" + std::string(9, 'x'), false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string ours = dir.write("ours", c.ours);
    dir.write("theirs", c.theirs);
    const int fd = ::open(ours.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hasSameContents(fd, dir / "theirs"), c.same) << c.ours.size();
    EXPECT_FALSE(hasSameContents(fd, dir / "missing"));
    EXPECT_FALSE(hasSameContents(fd, dir.path()));
    ::close(fd);
  }
}

// The same bytes leave the file as it was (same inode, time and links);
// different ones replace it, leaving a hard link to the old file alone.
TEST(OutputFile, ReplacesTheFileOnlyWhenTheBytesDiffer) {
  struct Case {
    std::string before;
    std::string after;
  } cases[] = {
      {"same\n", "same\n"},
      {"", ""},
      {std::string(70000, 's'), std::string(70000, 's')},
      {"old\n", "new\n"},
      {"same", "same but longer"},
      {"longer text", "longer"},
      {"old\n", ""},
      {"", "new\n"},
      {std::string(70000, 'x'), std::string(69999, 'x') + "y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before.substr(0, 20) + " -> " + c.after.substr(0, 20));
    const bool same = c.before == c.after;
    TempDir dir;
    const std::string path = dir.write("page.html", c.before);
    ASSERT_EQ(link(path.c_str(), (dir / "linked").c_str()), 0);
    const timespec past[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    const struct stat before = statusOfPath(path);

    OutputFile output;
    ASSERT_TRUE(output.open(path) && output.write(c.after) && output.commit());
    // A kept file's status is known without another look.
    EXPECT_EQ(output.kept(), same ? statusOf(path) : std::nullopt);
    const struct stat after = statusOfPath(path);
    EXPECT_EQ(after.st_ino == before.st_ino, same);
    EXPECT_EQ(after.st_mtim.tv_sec == 1000000, same);
    EXPECT_EQ(after.st_nlink, same ? 2u : 1u);
    EXPECT_EQ(readFile(path), c.after);
    EXPECT_EQ(readFile(dir / "linked"), c.before);
  }
}

// Replacements are held in memory up to a limit; these pass it, and reach
// the file through descriptor() as a copy does.
TEST(OutputFile, ReplacementsBeyondWhatIsHeldOrFilledDirectly) {
  const std::string big(5 << 20, 'b');
  struct Case {
    std::string before;
    std::string after;
    bool direct;  // written through descriptor() instead of write()
  } cases[] = {
      {big, big, false},
      {big, big.substr(1) + "c", false},
      {big, "c" + big.substr(1), false},
      {"old\n", big, false},
      {"old\n", "old\n", true},
      {"old\n", "new\n", true},
      {big, big.substr(1) + "c", true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.write("page.html", c.before);
    const struct stat before = statusOfPath(path);
    OutputFile output;
    ASSERT_TRUE(output.open(path));
    if (c.direct) {
      const int fd = output.descriptor();
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::write(fd, c.after.data(), c.after.size()), static_cast<ssize_t>(c.after.size()));
    } else {
      ASSERT_TRUE(output.write(c.after));
    }
    ASSERT_TRUE(output.commit());
    EXPECT_EQ(output.kept(), c.before == c.after ? statusOf(path) : std::nullopt);
    EXPECT_EQ(readFile(path), c.after) << c.after.size();
    EXPECT_EQ(statusOfPath(path).st_ino == before.st_ino, c.before == c.after) << c.after.size();
    EXPECT_FALSE(holdsTemporaryOutput(dir.path()));
  }
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Outputs that share a directory cache go to their own directories, new,
// replaced or kept, through a link too; the cache holds one directory open.
TEST(OutputFile, OutputsSharingADirectoryCacheLandInTheirOwnDirectories) {
  TempDir dir;
  dir.write("b/kept.html", "kept\n");
  dir.write("a/replaced.html", "old\n");
  dir.write("c/target.html", "old target\n");
  ASSERT_EQ(symlink("../c/target.html", (dir / "a/link.html").c_str()), 0);
  const struct {
    const char* path;
    const char* bytes;
  } outputs[] = {
      {"a/new.html", "new a\n"},
      {"a/replaced.html", "replaced\n"},
      {"b/kept.html", "kept\n"},
      {"b/new.html", "new b\n"},
      {"a/link.html", "through the link\n"},
      {"a/new.html", "new a, again\n"},
  };
  const std::size_t before = openDescriptors();
  {
    OutputDirectoryCache directories;
    for (const auto& output : outputs) {
      OutputFile file;
      ASSERT_TRUE(file.open(dir / output.path, std::nullopt, &directories)) << output.path;
      ASSERT_TRUE(file.write(output.bytes) && file.commit()) << output.path;
      EXPECT_EQ(readFile(dir / output.path), output.bytes) << output.path;
    }
    EXPECT_EQ(openDescriptors(), before + 1);
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(readFile(dir / "c/target.html"), "through the link\n");
  EXPECT_EQ(readFile(dir / "b/new.html"), "new b\n");
  EXPECT_EQ(readFile(dir / "a/replaced.html"), "replaced\n");
  EXPECT_FALSE(pathExists(dir / "a/kept.html"));
  EXPECT_FALSE(pathExists(dir / "b/replaced.html"));
}

// A replacement that could not be made is refused when opened, as before
// its bytes were held back.
TEST(OutputFile, ReplacementInADirectoryNotWritableIsRefused) {
  TempDir dir;
  const std::string path = dir.write("locked/page.html", "old\n");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
  const auto opened = runInChild([] { return true; },
                                 [&] {
                                   if (setgid(65534) != 0 || setuid(65534) != 0) return true;
                                   OutputFile output;
                                   return output.open(path);
                                 });
  chmod((dir / "locked").c_str(), 0755);
  if (geteuid() == 0 && opened == std::optional<bool>(true)) {
    GTEST_SKIP() << "cannot give up root here";
  }
  EXPECT_EQ(opened, std::optional<bool>(false));
  EXPECT_EQ(readFile(path), "old\n");
}

// A stop signal's thread removes the temporaries while another thread is
// about to commit: the commit must not make a new one that nobody removes.
TEST(OutputFile, CommitAfterTemporariesWereRemovedLeavesNone) {
  TempDir dir;
  const std::string path = dir.write("page.html", "old\n");
  const auto committed = runInChild([] { return true; },
                                    [&] {
                                      OutputFile output;
                                      if (!output.open(path) || !output.write("new\n")) return true;
                                      removeTemporaryOutputs();
                                      return output.commit();
                                    });
  ASSERT_TRUE(committed.has_value());
  EXPECT_FALSE(*committed);
  EXPECT_EQ(readFile(path), "old\n");
  EXPECT_FALSE(holdsTemporaryOutput(dir.path()));
}

TEST(OutputFile, WritingInADirectoryRemovesEarlierRunsTemporaries) {
  struct Case {
    std::string name;
    bool old;
    bool theirs;
    bool removed;
  } cases[] = {
      {".qfabcd1234.tmp", true, false, true},    {".qfzzzzzzzz.tmp", false, false, false},
      {".qfabcd1234.tmp.x", true, false, false}, {".qfABCD1234.tmp", true, false, false},
      {".qfabc1234.tmp", true, false, false},    {".qf0000000a.tmp", true, true, false},
  };
  TempDir dir;
  const timespec past[2] = {{1000000, 0}, {1000000, 0}};
  for (const Case& c : cases) {
    const std::string path = dir.write("out/" + c.name, "left over");
    if (c.old) {
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    }
    if (c.theirs && chown(path.c_str(), 65534, 65534) != 0) {
      GTEST_SKIP() << "cannot give a file to another user here";
    }
  }
  dir.write("elsewhere/.qfabcd1234.tmp", "not written in");
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "elsewhere/.qfabcd1234.tmp").c_str(), past, 0), 0);
  // A fresh process: each directory is swept once per process.
  const auto written =
      runInChild([] { return true; }, [&] { return writeOutput(dir / "out/page.html", "page"); });
  ASSERT_EQ(written, std::optional<bool>(true));
  for (const Case& c : cases) EXPECT_EQ(pathExists(dir / ("out/" + c.name)), !c.removed) << c.name;
  EXPECT_TRUE(pathExists(dir / "elsewhere/.qfabcd1234.tmp"));
}

}  // namespace
}  // namespace qf
