#include "base/file_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

TEST(FileSource, OpensOnlyRegularFilesAndNeverWaits) {
  TempDir dir;
  dir.write("file", "text");
  dir.write("sub/inner", "");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  struct Case {
    std::string path;
    OpenResult expected;
  };
  const Case cases[] = {
      {dir / "file", OpenResult::kOpened},  {dir / "link", OpenResult::kOpened},
      {dir / "fifo", OpenResult::kMissing}, {dir / "sub", OpenResult::kMissing},
      {dir / "gone", OpenResult::kMissing}, {dir / "file/below", OpenResult::kMissing},
      {"", OpenResult::kMissing},           {dir / std::string("file\0x", 6), OpenResult::kMissing},
  };
  for (const Case& c : cases) {
    FileSource source(c.path);
    EXPECT_EQ(source.outcome(), c.expected) << c.path;
    EXPECT_EQ(source.isOpen(), c.expected == OpenResult::kOpened) << c.path;
    EXPECT_EQ(probeFile(c.path), c.expected) << c.path;
  }
}

TEST(FileSource, ReadsOnFromWhereItWasMoved) {
  TempDir dir;
  FileSource source(dir.write("file", "0123456789"));
  char buffer[16];
  ASSERT_TRUE(source.seek(7));
  EXPECT_EQ(std::string(buffer, source.read(buffer, sizeof buffer)), "789");
  ASSERT_TRUE(source.seek(0));
  EXPECT_EQ(std::string(buffer, source.read(buffer, 2)), "01");
  EXPECT_FALSE(source.seek(-1));
  EXPECT_FALSE(FileSource(dir / "gone").seek(0));
}

// The end of a file is taken from a short read that reaches the size found
// at the open: a file that changed size since reads as it is now, and a
// seek after the end reads again.
TEST(FileSource, ReadsToTheEndOfAFileThatChangedSizeSinceItsOpen) {
  struct Case {
    const char* name;
    std::string now;  // the file's bytes after the open
    std::size_t chunk;
  };
  const Case cases[] = {
      {"unchanged", "0123456789", 4},
      {"unchanged, read whole", "0123456789", 64},
      {"grown", "0123456789abcdef", 64},
      {"shrunk", "01234", 64},
      {"emptied", "", 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FileSource source(dir.write("file", "0123456789"));
    ASSERT_TRUE(source.isOpen());
    dir.write("file", c.now);  // the same file: write() rewrites it in place
    std::string read;
    std::vector<char> buffer(c.chunk);
    for (long n; (n = source.read(buffer.data(), buffer.size())) > 0;)
      read.append(buffer.data(), n);
    EXPECT_EQ(read, c.now);
    ASSERT_TRUE(source.seek(0));
    std::string again;
    ASSERT_TRUE(readRest(source, again));
    EXPECT_EQ(again, c.now);
  }
}

TEST(FileSource, RunningOutOfDescriptorsIsAFailureNotAMissingFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own checks need free descriptors";
#endif
  TempDir dir;
  const std::string path = dir.write("file", "text");
  const auto noDescriptorLeft = [] {
    while (dup(0) >= 0) {
    }
    return true;
  };
  const auto opened =
      runInChild(noDescriptorLeft, [&] { return probeFile(path) == OpenResult::kFailed; });
  ASSERT_TRUE(opened);
  EXPECT_TRUE(*opened);
}

}  // namespace
}  // namespace qf
