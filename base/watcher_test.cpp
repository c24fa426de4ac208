#include "base/watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/inotify_watcher.h"
#include "base/polling_watcher.h"
#include "base/test_util.h"

namespace qf {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kPatience{5000};  // bounds every wait for a change that must come
constexpr milliseconds kQuiet{400};      // how long "nothing happens" is watched for

enum class Kind { kNotified, kPolling };

std::unique_ptr<Watcher> makeKind(Kind kind, const WatchOptions& options) {
  if (kind == Kind::kNotified) return std::make_unique<InotifyWatcher>(options);
  return std::make_unique<PollingWatcher>(options);
}

WatchOptions treeOptions(const TempDir& dir) {
  WatchOptions options;
  options.trees = {dir.path()};
  options.pollInterval = milliseconds(20);
  return options;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

void renameOver(const std::string& from, const std::string& to) {
  ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
}

class WatcherTest : public ::testing::TestWithParam<Kind> {};

struct EditCase {
  const char* name;
  std::function<void(const TempDir&)> edit;
  std::vector<std::string> expected;  // relative paths that the batch must name
  std::vector<std::string> absent;    // relative paths it must not name
};

TEST_P(WatcherTest, ReportsEachKindOfEdit) {
  const EditCase cases[] = {
      {"save in place", [](const TempDir& d) { d.write("page.src", "new"); }, {"page.src"}, {}},
      {"save by rename",
       [](const TempDir& d) {
         d.write("page.src.new", "new");
         renameOver(d / "page.src.new", d / "page.src");
       },
       {"page.src"},
       {}},
      {"save as an editor with swap, probe and backup files",
       [](const TempDir& d) {
         d.write(".page.src.swp", "swap");
         d.write("4913", "");
         ASSERT_EQ(unlink((d / "4913").c_str()), 0);
         renameOver(d / "page.src", d / "page.src~");
         d.write("page.src", "new");
         ASSERT_EQ(unlink((d / "page.src~").c_str()), 0);
       },
       {"page.src"},
       {".page.src.swp", "4913", "page.src~"}},
      {"new sub-directory with a new page",
       [](const TempDir& d) { d.write("sub/deeper/new.src", "x"); },
       {"sub", "sub/deeper", "sub/deeper/new.src"},
       {}},
      {"deletion",
       [](const TempDir& d) { ASSERT_EQ(unlink((d / "inc/part.inc").c_str()), 0); },
       {"inc/part.inc"},
       {}},
      {"change in an existing sub-directory",
       [](const TempDir& d) { d.write("inc/part.inc", "changed size"); },
       {"inc/part.inc"},
       {}},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("page.src", "old");
    dir.write("inc/part.inc", "part");
    auto watcher = makeKind(GetParam(), treeOptions(dir));
    c.edit(dir);
    const auto batch = watcher->next(kPatience);
    ASSERT_TRUE(batch);
    for (const std::string& path : c.expected)
      EXPECT_TRUE(contains(batch->paths, dir / path)) << path;
    for (const std::string& path : c.absent)
      EXPECT_FALSE(contains(batch->paths, dir / path)) << path;
    EXPECT_FALSE(batch->rescan);
  }
}

TEST_P(WatcherTest, FollowsARenamedDirectory) {
  TempDir dir;
  dir.write("inc/part.inc", "part");
  auto watcher = makeKind(GetParam(), treeOptions(dir));
  renameOver(dir / "inc", dir / "parts");
  auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  for (const char* path : {"inc", "parts", "parts/part.inc"}) {
    EXPECT_TRUE(contains(batch->paths, dir / path)) << path;
  }
  dir.write("parts/part.inc", "changed");
  batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->paths, std::vector<std::string>{dir / "parts/part.inc"});
}

TEST_P(WatcherTest, WatchesATreeAgainThatWasRemovedAndMadeAnew) {
  TempDir dir;
  dir.write("site/page.src", "old");
  WatchOptions options = treeOptions(dir);
  options.trees = {dir / "site"};
  auto watcher = makeKind(GetParam(), options);
  watcher->watchTree(dir / "site");  // watched already: nothing to report
  ASSERT_EQ(unlink((dir / "site/page.src").c_str()), 0);
  ASSERT_EQ(rmdir((dir / "site").c_str()), 0);
  ASSERT_TRUE(watcher->next(kPatience));
  dir.write("new/page.src", "new");
  renameOver(dir / "new", dir / "site");
  watcher->watchTree(dir / "site");
  dir.write("site/later.src", "later");
  std::vector<std::string> seen;
  for (auto batch = watcher->next(kPatience); batch && !contains(seen, dir / "site/later.src");
       batch = watcher->next(kPatience)) {
    seen.insert(seen.end(), batch->paths.begin(), batch->paths.end());
  }
  EXPECT_TRUE(contains(seen, dir / "site/page.src"));
  EXPECT_TRUE(contains(seen, dir / "site/later.src"));
}

TEST_P(WatcherTest, IgnoresScratchFilesAndTheIgnoredDirectory) {
  TempDir dir;
  dir.write("out/old.html", "");
  WatchOptions options = treeOptions(dir);
  options.ignoredDirectory = dir / "out";
  auto watcher = makeKind(GetParam(), options);
  for (const char* name :
       {"a~", ".a.swp", ".a.swx", "4913", ".#a", "a.bck", "out/new.html", "out/sub/deep.html"}) {
    dir.write(name, "x");
  }
  EXPECT_FALSE(watcher->next(kQuiet));
}

TEST_P(WatcherTest, ReportsScratchNamesThatAreNeeded) {
  TempDir dir;
  WatchOptions options = treeOptions(dir);
  options.neededPaths = {dir / "notes~"};
  auto watcher = makeKind(GetParam(), options);
  dir.write("notes~", "x");
  dir.write("other~", "x");
  const auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->paths, std::vector<std::string>{dir / "notes~"});
}

TEST_P(WatcherTest, BurstOfSavesGivesFewBatches) {
  TempDir dir;
  dir.write("page.src", "0");
  auto watcher = makeKind(GetParam(), treeOptions(dir));
  std::thread saver([&dir] {
    for (int i = 1; i <= 100; ++i) {
      dir.write("page.src.tmp", std::to_string(i));
      std::rename((dir / "page.src.tmp").c_str(), (dir / "page.src").c_str());
      std::this_thread::sleep_for(milliseconds(1));
    }
  });
  int batches = 0;
  while (watcher->next(kQuiet) && batches < 100) ++batches;
  saver.join();
  EXPECT_GE(batches, 1);
  EXPECT_LE(batches, 4);
  EXPECT_EQ(readFile(dir / "page.src"), "100");
}

TEST_P(WatcherTest, ChangesDuringARebuildComeInOneBatch) {
  TempDir dir;
  auto watcher = makeKind(GetParam(), treeOptions(dir));
  dir.write("first.src", "");
  ASSERT_TRUE(watcher->next(kPatience));
  // While the caller is busy with the first batch, more saves arrive.
  for (const char* name : {"a.src", "b.src", "sub/c.src"}) {
    dir.write(name, "");
    std::this_thread::sleep_for(milliseconds(70));
  }
  const auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  for (const char* name : {"a.src", "b.src", "sub/c.src"}) {
    EXPECT_TRUE(contains(batch->paths, dir / name)) << name;
  }
  EXPECT_FALSE(watcher->next(kQuiet));
}

TEST_P(WatcherTest, StopDescriptorEndsTheWaitAndKeepsTheChanges) {
  TempDir dir;
  int stop[2];
  ASSERT_EQ(pipe(stop), 0);
  WatchOptions options = treeOptions(dir);
  options.stopDescriptor = stop[0];
  auto watcher = makeKind(GetParam(), options);
  dir.write("page.src", "");
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_EQ(write(stop[1], "x", 1), 1);
  EXPECT_FALSE(watcher->next(kPatience));

  char drained;
  ASSERT_EQ(read(stop[0], &drained, 1), 1);
  const auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(contains(batch->paths, dir / "page.src"));
  close(stop[0]);
  close(stop[1]);
}

TEST_P(WatcherTest, WatchesSingleDirectoriesAddedLater) {
  TempDir site;
  TempDir include;
  include.write("deep/below.inc", "");
  auto watcher = makeKind(GetParam(), treeOptions(site));
  watcher->watchDirectory(include.path());
  include.write("deep/below.inc", "not watched: below the directory");
  EXPECT_FALSE(watcher->next(kQuiet));
  include.write("header.inc", "x");
  const auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->paths, std::vector<std::string>{include / "header.inc"});
}

INSTANTIATE_TEST_SUITE_P(BothKinds, WatcherTest, ::testing::Values(Kind::kNotified, Kind::kPolling),
                         [](const auto& info) {
                           return info.param == Kind::kNotified ? "Notified" : "Polling";
                         });

TEST(InotifyWatcher, OverflowAsksForARescan) {
  std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
  int limit = 0;
  if (!(limitFile >> limit) || limit > 1000000) GTEST_SKIP() << "queue limit unknown or too large";
  TempDir dir;
  dir.write("a", "");
  dir.write("b", "");
  InotifyWatcher watcher(treeOptions(dir));
  // Alternating files keep the kernel from merging the events.
  for (int i = 0; i <= limit / 2 + 10; ++i) {
    utimensat(AT_FDCWD, (dir / "a").c_str(), nullptr, 0);
    utimensat(AT_FDCWD, (dir / "b").c_str(), nullptr, 0);
  }
  const auto batch = watcher.next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(batch->rescan);
}

TEST(InotifyWatcher, ANewDirectoryIsLookedIntoOnceItIsWatched) {
  TempDir include;
  WatchOptions options;
  options.directories = {include.path()};
  InotifyWatcher watcher(options);
  include.write("new/.keep", "");
  auto batch = watcher.next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(contains(batch->paths, include / "new"));
  // Written after the directory came and before it was watched (while a
  // rebuild ran), in it and in a directory inside it.
  include.write("new/head.inc", "x");
  include.write("new/deeper/part.inc", "x");
  watcher.watchDirectory(include / "new");
  batch = watcher.next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(contains(batch->paths, include / "new/head.inc"));
  EXPECT_TRUE(contains(batch->paths, include / "new/deeper"));
  include.write("new/deeper/later.inc", "x");
  watcher.watchDirectory(include / "new/deeper");
  batch = watcher.next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(contains(batch->paths, include / "new/deeper/part.inc"));
  EXPECT_TRUE(contains(batch->paths, include / "new/deeper/later.inc"));
  // A directory watched once is not looked into again.
  watcher.watchDirectory(include / "new");
  EXPECT_FALSE(watcher.next(kQuiet));
}

TEST(PollingWatcher, SeesASecondWriteInTheSameClockTick) {
  const auto statusOf = [](const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status;
  };
  const auto sameTimes = [](const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
  };
  for (int attempt = 0; attempt < 50; ++attempt) {
    TempDir dir;
    const struct stat first = statusOf(dir.write("page.src", "one"));
    PollingWatcher watcher(treeOptions(dir));
    const struct stat second = statusOf(dir.write("page.src", "two"));
    if (!sameTimes(first, second)) continue;  // the clock ticked between the writes
    const auto batch = watcher.next(kPatience);
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->paths, std::vector<std::string>{dir / "page.src"});
    return;
  }
  GTEST_SKIP() << "no two writes fell into one tick of the file clock";
}

TEST(MakeWatcher, FallsBackToPollingOnceOutOfWatches) {
  TempDir dir;
  dir.write("sub/page.src", "");
  std::vector<std::string> warnings;
  WatchOptions options = treeOptions(dir);
  options.watchLimit = 2;
  options.warn = [&warnings](std::string_view w) { warnings.emplace_back(w); };
  auto watcher = makeWatcher(options);
  EXPECT_TRUE(warnings.empty());

  dir.write("new1/page.src", "");  // a third directory: no watch left for it
  auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(batch->rescan);
  EXPECT_EQ(warnings, std::vector<std::string>{std::string(kOutOfWatchesWarning)});

  dir.write("new1/page.src", "polled");
  batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(contains(batch->paths, dir / "new1/page.src"));
  EXPECT_EQ(warnings.size(), 1u);
}

TEST(MakeWatcher, PollsFromTheStartWhenTheTreeNeedsTooManyWatches) {
  TempDir dir;
  dir.write("a/b/c/page.src", "");
  std::vector<std::string> warnings;
  WatchOptions options = treeOptions(dir);
  options.watchLimit = 1;
  options.warn = [&warnings](std::string_view w) { warnings.emplace_back(w); };
  auto watcher = makeWatcher(options);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("fs.inotify.max_user_watches"), std::string::npos);
  dir.write("a/b/c/page.src", "changed");
  const auto batch = watcher->next(kPatience);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->paths, std::vector<std::string>{dir / "a/b/c/page.src"});
}

}  // namespace
}  // namespace qf
