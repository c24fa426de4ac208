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
