#include "batch/build_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "base/test_util.h"

namespace qf {
namespace {

using std::chrono::milliseconds;

void writeText(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

// Opens state as a run does, gathering what it warns of.
bool openState(BuildState& state, const std::string& path, const std::string& version,
               std::vector<std::string>& warnings, milliseconds lockTimeout = milliseconds(1000)) {
  return state.open(path, version, lockTimeout,
                    [&warnings](const std::string& line) { warnings.push_back(line); });
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

PageRecord sampleRecord() {
  PageRecord record;
  record.options = "options";
  record.recordedAtNs = 42;
  PageDependencies dependencies;
  dependencies.files = {
      {DependencyKind::kRead, "page.src", FileStatus{{1, 2}, true, 3, 4, 5}},
      {DependencyKind::kMissing, "gone.inc", FileStatus{}},
      {DependencyKind::kIncluded, "b.inc", FileStatus{{1, 9}, true, 30, 40, 50}},
      {DependencyKind::kFound, "a.inc", FileStatus{}},
      {DependencyKind::kRead, std::string("a\nb\0c d=", 9), FileStatus{{2, 2}, true, 0, 0, 0}}};
  dependencies.dates = {{"_DAY_", "07"}, {"_MONTH_", "a=b\nc"}, {"_WEEKDAY_", ""}};
  record.dependencies = std::make_shared<const PageDependencies>(std::move(dependencies));
  record.links = std::string("", 1);
  return record;
}

void writeSample(const std::string& path) {
  BuildState state;
  std::vector<std::string> warnings;
  ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
  state.recordPage("out/page.html",
                   WrittenOutput{"page.src", true, FileStatus{{7, 8}, true, 9, 10, 11}, {}},
                   sampleRecord());
  state.recordOutput("out/logo.png",
                     WrittenOutput{"logo.png", false, FileStatus{{1, 2}, true, 3, 4, 5},
                                   FileStatus{{6, 7}, true, 8, 9, 10}});
  PageRecord failed = sampleRecord();
  failed.options = "failed";
  failed.links.reset();
  state.recordPage("out/failed.html", WrittenOutput{"failed.src", true, FileStatus{}, {}}, failed);
  state.markFailed("out/failed.html");
  state.commit();
}

TEST(BuildState, KeepsWhatWasRecordedBetweenRuns) {
  TempDir dir;
  const std::string path = dir / "cache/deeper/state.sqlite";
  writeSample(path);
  BuildState state;
  std::vector<std::string> warnings;
  ASSERT_TRUE(openState(state, path, "v1", warnings));
  EXPECT_EQ(joined(warnings), "");
  ASSERT_EQ(state.pages().count("out/page.html"), 1u);
  const PageRecord& page = state.pages().at("out/page.html");
  const PageRecord expected = sampleRecord();
  EXPECT_EQ(page.options, expected.options);
  EXPECT_EQ(page.recordedAtNs, expected.recordedAtNs);
  EXPECT_EQ(page.dependencies->files, expected.dependencies->files);
  EXPECT_EQ(page.dependencies->dates, expected.dependencies->dates);
  EXPECT_EQ(page.links, expected.links);
  EXPECT_EQ(state.outputs().at("out/page.html").status, (FileStatus{{7, 8}, true, 9, 10, 11}));
  EXPECT_EQ(state.outputs().at("out/page.html").sourceStatus, FileStatus{});
  EXPECT_FALSE(page.failed);
  EXPECT_EQ(state.outputs().at("out/logo.png").sourceStatus, (FileStatus{{6, 7}, true, 8, 9, 10}));
  // A failed page keeps what its last good compile read.
  const PageRecord& failed = state.pages().at("out/failed.html");
  EXPECT_TRUE(failed.failed);
  EXPECT_EQ(failed.dependencies->files, expected.dependencies->files);
  EXPECT_FALSE(failed.links);
}

// A state as the previous format wrote it, which lacked columns.
void writePreviousFormat(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                         "CREATE TABLE outputs(path TEXT PRIMARY KEY, source TEXT NOT NULL,"
                         " page INTEGER NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                         " size INTEGER NOT NULL, modified_ns INTEGER NOT NULL,"
                         " changed_ns INTEGER NOT NULL);"
                         "CREATE TABLE pages(output TEXT PRIMARY KEY, options TEXT NOT NULL,"
                         " recorded_at_ns INTEGER NOT NULL, dates TEXT NOT NULL,"
                         " files TEXT NOT NULL);"
                         "INSERT INTO meta VALUES('format', '2'), ('program', 'v2');"
                         "INSERT INTO outputs VALUES('out/a.png', 'a.png', 0, 1, 2, 3, 4, 5);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

TEST(BuildState, AnUnusableFileIsMovedAsideWithOneWarning) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> spoil;
    const char* problem;
  } cases[] = {
      {"text", [](const std::string& p) { writeText(p, "not a database at all\n"); },
       "is not a usable database"},
      {"other version", [](const std::string& p) { writeSample(p); },
       "was written by another version"},
      {"previous format", writePreviousFormat, "was written by another version"},
      {"damaged",
       [](const std::string& p) {
         writeSample(p);
         const int fd = ::open(p.c_str(), O_WRONLY);
         const std::string junk(4096, '\x5a');
         const bool damaged = pwrite(fd, junk.data(), junk.size(), 4096) == 4096;
         ::close(fd);
         ASSERT_TRUE(damaged);
       },
       "is damaged"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir / "state.sqlite";
    c.spoil(path);
    BuildState state;
    std::vector<std::string> warnings;
    ASSERT_TRUE(openState(state, path, "v2", warnings)) << c.what;
    ASSERT_EQ(warnings.size(), 1u) << c.what << ": " << joined(warnings);
    EXPECT_NE(warnings[0].find(c.problem), std::string::npos) << c.what << ": " << warnings[0];
    EXPECT_TRUE(state.pages().empty()) << c.what;
    EXPECT_TRUE(state.outputs().empty()) << c.what;
    EXPECT_TRUE(pathExists(path + ".old")) << c.what;
  }
}

TEST(BuildState, DamageAfterACleanCloseIsFound) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  // Runs that change nothing, the last one a clock tick after the file's
  // last change, so that its note is trusted.
  const long long written = statusOf(path)->changedNs;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
       fileClockNs() <= written && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  for (int run = 0; run < 2; ++run) {
    BuildState state;
    std::vector<std::string> warnings;
    ASSERT_TRUE(openState(state, path, "v1", warnings));
    EXPECT_EQ(joined(warnings), "");
    EXPECT_EQ(state.pages().size(), 2u);
  }
  const int fd = ::open(path.c_str(), O_WRONLY);
  const std::string junk(4096, '\x5a');
  ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), 4096), 4096);
  ::close(fd);
  BuildState state;
  std::vector<std::string> warnings;
  ASSERT_TRUE(openState(state, path, "v1", warnings));
  EXPECT_NE(joined(warnings).find("is damaged"), std::string::npos) << joined(warnings);
  EXPECT_TRUE(state.pages().empty());
}

// Runs sql on the state at path, as a damaged or hostile file might read.
void spoil(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

TEST(BuildState, RecordsThisProgramNeverWritesAreTakenAsDamage) {
  const char* cases[] = {
      "UPDATE pages SET files=x'0901'", "UPDATE pages SET files=x'03e707'",
      "UPDATE pages SET files=x'0001'", "UPDATE pages SET files=x'03'",
      "UPDATE pages SET files=x'0381'", "INSERT INTO page_dates VALUES(999, 0, '_DAY_', '07')",
  };
  for (const char* sql : cases) {
    TempDir dir;
    const std::string path = dir / "state.sqlite";
    writeSample(path);
    spoil(path, sql);
    BuildState state;
    std::vector<std::string> warnings;
    ASSERT_TRUE(openState(state, path, "v1", warnings)) << sql;
    EXPECT_NE(joined(warnings).find("is damaged"), std::string::npos)
        << sql << ": " << joined(warnings);
    EXPECT_TRUE(state.pages().empty()) << sql;
    EXPECT_TRUE(state.outputs().empty()) << sql;
  }
}

TEST(BuildState, ChangedRecordsReplaceTheStoredOnes) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  PageRecord shorter = sampleRecord();
  PageDependencies first;
  first.files = {shorter.dependencies->files[0]};
  shorter.dependencies = std::make_shared<const PageDependencies>(first);
  {
    BuildState state;
    std::vector<std::string> warnings;
    ASSERT_TRUE(openState(state, path, "v1", warnings));
    state.holdWrites();
    state.recordPage("out/page.html", state.outputs().at("out/page.html"), shorter);
    state.forgetOutput("out/failed.html");
    state.forgetPage("out/logo.png");
  }
  BuildState state;
  std::vector<std::string> warnings;
  ASSERT_TRUE(openState(state, path, "v1", warnings));
  EXPECT_EQ(joined(warnings), "");
  EXPECT_EQ(state.pages().size(), 1u);
  EXPECT_EQ(state.pages().at("out/page.html").dependencies->files, shorter.dependencies->files);
  EXPECT_TRUE(state.pages().at("out/page.html").dependencies->dates.empty());
  EXPECT_EQ(state.outputs().size(), 2u);
  EXPECT_EQ(state.outputs().count("out/failed.html"), 0u);
}

TEST(BuildState, ARecordThatWouldJudgeAlikeIsNotWrittenAgain) {
  const WrittenOutput output{"page.src", true, FileStatus{{7, 8}, true, 9, 10, 11}, {}};
  PageRecord settled = sampleRecord();
  PageDependencies dependencies = *settled.dependencies;
  dependencies.files[2].status.changedNs = 41;  // every file older than the record's tick
  settled.dependencies = std::make_shared<const PageDependencies>(dependencies);
  PageRecord unsettled = sampleRecord();  // b.inc changed after the record's tick
  const auto with = [](PageRecord record, const std::function<void(PageRecord&)>& change) {
    change(record);
    return record;
  };
  const struct {
    const char* what;
    PageRecord stored;
    bool storedFailed;
    PageRecord recorded;
    WrittenOutput written;
    bool rewritten;
  } cases[] = {
      {"the same, later", settled, false, settled, output, false},
      {"other options", settled, false, with(settled, [](PageRecord& r) { r.options = "-D X"; }),
       output, true},
      {"other links", settled, false, with(settled, [](PageRecord& r) { r.links.reset(); }), output,
       true},
      {"a file changed", settled, false,
       with(settled,
            [](PageRecord& r) {
              PageDependencies changed = *r.dependencies;
              changed.files[0].status.size += 1;
              r.dependencies = std::make_shared<const PageDependencies>(changed);
            }),
       output, true},
      {"another output", settled, false, settled,
       WrittenOutput{"page.src", true, FileStatus{{7, 8}, true, 9, 12, 12}, {}}, true},
      {"stored within its tick", unsettled, false, unsettled, output, true},
      {"stored as failed", settled, true, settled, output, true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir / "state.sqlite";
    std::vector<std::string> warnings;
    {
      BuildState state;
      ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
      state.recordPage("out/page.html", output, c.stored);
      if (c.storedFailed) state.markFailed("out/page.html");
    }
    {
      BuildState state;
      ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
      PageRecord later = c.recorded;
      later.recordedAtNs = 100;
      state.recordPage("out/page.html", c.written, later);
    }
    BuildState state;
    ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
    const PageRecord& stored = state.pages().at("out/page.html");
    EXPECT_EQ(stored.recordedAtNs, c.rewritten ? 100 : 42) << c.what;
    EXPECT_FALSE(stored.failed) << c.what;
    EXPECT_EQ(*stored.dependencies, *c.recorded.dependencies) << c.what;
    EXPECT_EQ(state.outputs().at("out/page.html"), c.written) << c.what;
  }
}

TEST(BuildState, ChangesTakenEarlierAreWrittenBeforeALaterCommit) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  const WrittenOutput output{"page.src", true, FileStatus{{7, 8}, true, 9, 10, 11}, {}};
  PageRecord first = sampleRecord();
  first.options = "first";
  PageRecord second = first;
  second.options = "second";
  std::vector<std::string> warnings;
  {
    BuildState state;
    ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
    // Enough records for a batch to be due at once.
    for (int i = 0; i < 500; ++i) state.recordPage("out/" + std::to_string(i), output, first);
    const std::optional<BuildState::Changes> due = state.takeDueChanges();
    ASSERT_TRUE(due);
    state.recordPage("out/0", output, second);
    // The batch taken first is written late; the commit must still come after it.
    std::thread late([&] {
      std::this_thread::sleep_for(milliseconds(50));
      state.write(*due);
    });
    state.commit();
    late.join();
  }
  BuildState state;
  ASSERT_TRUE(openState(state, path, "v1", warnings)) << joined(warnings);
  EXPECT_EQ(state.pages().at("out/0").options, "second");
  EXPECT_EQ(state.pages().at("out/1").options, "first");
}

// How many paths the state at path stores.
long long storedPaths(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* count = nullptr;
  long long paths = -1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT count(*) FROM paths", -1, &count, nullptr) == SQLITE_OK &&
      sqlite3_step(count) == SQLITE_ROW) {
    paths = sqlite3_column_int64(count, 0);
  }
  sqlite3_finalize(count);
  sqlite3_close(db);
  return paths;
}

TEST(BuildState, PathsNoPageNamesAnyMoreAreDropped) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  EXPECT_EQ(storedPaths(path), 5);
  PageRecord other = sampleRecord();
  PageDependencies otherDependencies;
  otherDependencies.files = {
      {DependencyKind::kRead, "other.src", FileStatus{{1, 2}, true, 3, 4, 5}}};
  other.dependencies = std::make_shared<const PageDependencies>(otherDependencies);
  for (int run = 0; run < 2; ++run) {
    BuildState state;
    std::vector<std::string> warnings;
    ASSERT_TRUE(openState(state, path, "v1", warnings));
    state.recordPage("out/page.html", state.outputs().at("out/page.html"), other);
    state.forgetOutput("out/failed.html");
    state.commit();
  }
  EXPECT_EQ(storedPaths(path), 1);
  BuildState state;
  std::vector<std::string> warnings;
  ASSERT_TRUE(openState(state, path, "v1", warnings));
  EXPECT_EQ(state.pages().at("out/page.html").dependencies->files, other.dependencies->files);
}

TEST(BuildState, ALockHeldPastTheTimeoutMeansNoState) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  const int lock = ::open((path + ".lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  BuildState state;
  std::vector<std::string> warnings;
  EXPECT_FALSE(openState(state, path, "v1", warnings, milliseconds(1300)));
  ASSERT_EQ(warnings.size(), 2u) << "a wait of over a second is told once, then the failure";
  EXPECT_NE(warnings[0].find("waiting"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("in use by another run"), std::string::npos) << warnings[1];
  ::close(lock);
  EXPECT_FALSE(pathExists(path + ".old"));
}

TEST(BuildState, AnUnwritableDirectoryMeansNoState) {
  TempDir dir;
  mkdir((dir / "locked").c_str(), 0555);
  if (chown(dir.path().c_str(), 65534, 65534) != 0)
    GTEST_SKIP() << "cannot hand the tree to nobody";
  const std::optional<bool> refused = runAsNobody([&] {
    BuildState state;
    std::vector<std::string> first;
    std::vector<std::string> second;
    return !openState(state, dir / "locked/sub/state.sqlite", "v1", first, milliseconds(50)) &&
           first.size() == 1 &&
           first[0].find("cannot make the state directory") != std::string::npos &&
           !openState(state, dir / "locked/state.sqlite", "v1", second, milliseconds(50)) &&
           second.size() == 1 && second[0].find("cannot write the state file") != std::string::npos;
  });
  if (!refused) GTEST_SKIP() << "cannot run as nobody here, and permissions do not bind root";
  EXPECT_TRUE(*refused);
}

}  // namespace
}  // namespace qf
