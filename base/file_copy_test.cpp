#include "base/file_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

constexpr off_t kMiB = 1 << 20;

// Copies from into a new file to; false when either cannot be opened.
bool copyInto(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  const bool copied = in >= 0 && out >= 0 && copyFileContents(in, out);
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return copied;
}

long long allocatedBytes(const std::string& path) {
  struct stat status {};
  stat(path.c_str(), &status);
  return static_cast<long long>(status.st_blocks) * 512;
}

TEST(CopyFileContents, CopiesEveryByte) {
  const std::string cases[] = {"", "x", std::string(200000, 'y') + "z"};
  for (const std::string& bytes : cases) {
    TempDir dir;
    ASSERT_TRUE(copyInto(dir.write("from", bytes), dir / "to")) << bytes.size();
    EXPECT_EQ(readFile(dir / "to"), bytes) << bytes.size();
  }
}

TEST(CopyFileContents, APipeGetsEveryByteInOrder) {
  TempDir dir;
  const std::string from = dir.write("from", "");
  ASSERT_EQ(truncate(from.c_str(), 1000), 0);  // a hole, read as zeros
  const int in = ::open(from.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_EQ(pwrite(in, "end", 3, 1000), 3);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_TRUE(copyFileContents(in, ends[1]));
  ::close(ends[1]);
  std::string received(2000, '?');
  const ssize_t n = read(ends[0], received.data(), received.size());
  ::close(ends[0]);
  ::close(in);
  ASSERT_EQ(n, 1003);
  EXPECT_EQ(received.substr(0, 1003), std::string(1000, '\0') + "end");
}

TEST(CopyFileContents, HolesStayHoles) {
  struct Case {
    const char* name;
    std::vector<off_t> data;  // where a mebibyte of data lies
    off_t size;
  } cases[] = {
      {"data between holes", {2 * kMiB}, 8 * kMiB},
      {"a hole first", {7 * kMiB}, 8 * kMiB},
      {"a hole last", {0}, 8 * kMiB},
      {"only a hole", {}, 8 * kMiB},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string from = dir / "sparse";
    const int fd = ::open(from.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string chunk(kMiB, 'd');
    for (const off_t at : c.data) {
      ASSERT_EQ(pwrite(fd, chunk.data(), chunk.size(), at), static_cast<ssize_t>(chunk.size()));
    }
    ASSERT_EQ(ftruncate(fd, c.size), 0);
    ::close(fd);
    const long long dataBytes = static_cast<long long>(c.data.size()) * kMiB;
    if (allocatedBytes(from) > dataBytes + kMiB) {
      GTEST_SKIP() << "the temporary file system keeps no holes";
    }
    ASSERT_TRUE(copyInto(from, dir / "to")) << c.name;
    EXPECT_EQ(readFile(dir / "to"), readFile(from)) << c.name;
    EXPECT_LE(allocatedBytes(dir / "to"), dataBytes + kMiB) << c.name;
  }
}

}  // namespace
}  // namespace qf
