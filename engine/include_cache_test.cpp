#include "engine/include_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

std::string load(IncludeCache& cache, const std::string& path, IncludeCache::Lookup expected) {
  std::shared_ptr<const std::string> text;
  EXPECT_EQ(cache.load(path, text), expected) << path;
  return text ? *text : "<none>";
}

TEST(IncludeCache, KeepsTextsWhileFilesAreUnchanged) {
  TempDir dir;
  IncludeCache cache;
  const std::string path = dir.write("a.inc", "one\n");
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText), "one\n");
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText), "one\n");
  // Rewritten with the same size; file times tick coarsely, so set one apart.
  dir.write("a.inc", "two\n");
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText), "two\n");
  // Replaced by another file under the same name.
  dir.write("b.inc", "three\n");
  ASSERT_EQ(rename((dir / "b.inc").c_str(), path.c_str()), 0);
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText), "three\n");
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kMissing), "<none>");
}

TEST(IncludeCache, OnlyRegularFilesCountAndLargeOnesAreReadAsUsual) {
  TempDir dir;
  IncludeCache cache;
  ASSERT_EQ(mkdir((dir / "d.inc").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "f.inc").c_str(), 0644), 0);
  EXPECT_EQ(load(cache, dir / "d.inc", IncludeCache::Lookup::kMissing), "<none>");
  EXPECT_EQ(load(cache, dir / "f.inc", IncludeCache::Lookup::kMissing), "<none>");
  const std::string big = dir.write("big.inc", std::string((1 << 20) + 1, 'x'));
  EXPECT_EQ(load(cache, big, IncludeCache::Lookup::kUncached), "<none>");
}

}  // namespace
}  // namespace qf
