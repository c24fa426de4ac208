#include "engine/include_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

std::string load(IncludeCache& cache, const std::string& path, IncludeCache::Lookup expected,
                 FileStatus* seen = nullptr) {
  std::shared_ptr<const std::string> text;
  FileStatus status;
  EXPECT_EQ(cache.load(path, text, status), expected) << path;
  if (seen) *seen = status;
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

// Within a run a file is looked at once: what the first look found stands,
// and the status given with a kept text is the one of that text, so that a
// dependency recorded from it shows the later change.
TEST(IncludeCache, LookingOnceKeepsWhatTheFirstLookFound) {
  TempDir dir;
  IncludeCache cache(true);
  const std::string path = dir.write("a.inc", "one\n");
  // Read once the clock has left the tick of the file's change: settled.
  awaitFileClockPast(latestFileTime({path}));
  FileStatus first;
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText, &first), "one\n");
  EXPECT_EQ(first, statusOf(path));
  dir.write("a.inc", "two, longer\n");
  FileStatus again;
  EXPECT_EQ(load(cache, path, IncludeCache::Lookup::kText, &again), "one\n");
  EXPECT_EQ(again, first);
  EXPECT_NE(statusOf(path), first);

  const std::string later = dir / "later.inc";
  EXPECT_EQ(load(cache, later, IncludeCache::Lookup::kMissing), "<none>");
  const std::string probed = dir / "probed.inc";
  EXPECT_EQ(cache.probe(probed), OpenResult::kMissing);
  const std::string present = dir.write("present.inc", "here\n");
  EXPECT_EQ(cache.probe(present), OpenResult::kOpened);
  dir.write("later.inc", "here now\n");
  dir.write("probed.inc", "here now\n");
  ASSERT_EQ(unlink(present.c_str()), 0);
  EXPECT_EQ(load(cache, later, IncludeCache::Lookup::kMissing), "<none>");
  EXPECT_EQ(cache.probe(later), OpenResult::kMissing);
  EXPECT_EQ(cache.probe(probed), OpenResult::kMissing);
  EXPECT_EQ(cache.probe(present), OpenResult::kOpened);
  // A file found by a probe is read when it is first included.
  EXPECT_EQ(load(cache, present, IncludeCache::Lookup::kMissing), "<none>");
  // A cache that looks every time sees every change.
  IncludeCache looking;
  EXPECT_EQ(load(looking, path, IncludeCache::Lookup::kText), "two, longer\n");
  EXPECT_EQ(load(looking, later, IncludeCache::Lookup::kText), "here now\n");
  EXPECT_EQ(looking.probe(probed), OpenResult::kOpened);
  EXPECT_EQ(looking.probe(present), OpenResult::kMissing);
}

}  // namespace
}  // namespace qf
