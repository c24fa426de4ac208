#include "batch/build_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

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

PageRecord sampleRecord() {
  PageRecord record;
  record.options = "options";
  record.recordedAtNs = 42;
  record.dependencies.files = {
      {DependencyKind::kRead, "page.src", FileStatus{{1, 2}, true, 3, 4, 5}},
      {DependencyKind::kMissing, "gone.inc", FileStatus{}}};
  record.dependencies.dates = {{"_DAY_", "07"}};
  record.links = std::string("", 1);
  return record;
}

void writeSample(const std::string& path) {
  BuildState state;
  std::string warning;
  ASSERT_TRUE(state.open(path, "v1", milliseconds(1000), warning)) << warning;
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
  std::string warning;
  ASSERT_TRUE(state.open(path, "v1", milliseconds(1000), warning));
  EXPECT_EQ(warning, "");
  ASSERT_EQ(state.pages().count("out/page.html"), 1u);
  const PageRecord& page = state.pages().at("out/page.html");
  const PageRecord expected = sampleRecord();
  EXPECT_EQ(page.options, expected.options);
  EXPECT_EQ(page.recordedAtNs, expected.recordedAtNs);
  EXPECT_EQ(page.dependencies.files, expected.dependencies.files);
  EXPECT_EQ(page.dependencies.dates, expected.dependencies.dates);
  EXPECT_EQ(page.links, expected.links);
  EXPECT_EQ(state.outputs().at("out/page.html").status, (FileStatus{{7, 8}, true, 9, 10, 11}));
  EXPECT_EQ(state.outputs().at("out/page.html").sourceStatus, FileStatus{});
  EXPECT_FALSE(page.failed);
  EXPECT_EQ(state.outputs().at("out/logo.png").sourceStatus, (FileStatus{{6, 7}, true, 8, 9, 10}));
  // A failed page keeps what its last good compile read.
  const PageRecord& failed = state.pages().at("out/failed.html");
  EXPECT_TRUE(failed.failed);
  EXPECT_EQ(failed.dependencies.files, expected.dependencies.files);
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
    std::string warning;
    ASSERT_TRUE(state.open(path, "v2", milliseconds(1000), warning)) << c.what;
    EXPECT_NE(warning.find(c.problem), std::string::npos) << c.what << ": " << warning;
    EXPECT_TRUE(state.pages().empty()) << c.what;
    EXPECT_TRUE(state.outputs().empty()) << c.what;
    EXPECT_TRUE(pathExists(path + ".old")) << c.what;
  }
}

// Replaces the text of what a page read, as a damaged or hostile file might.
void spoilFiles(const std::string& path, const std::string& files) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE pages SET files=?1", -1, &statement, nullptr),
            SQLITE_OK);
  sqlite3_bind_blob(statement, 1, files.data(), static_cast<int>(files.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST(BuildState, AHostileRecordOfFilesIsTakenAsDamage) {
  const std::string cases[] = {
      "0 1 2 3 4 5 8 page.src",                       // no line end
      "0 1 2 3 4 5 99 page.src\n",                    // length past the end
      "9 1 2 3 4 5 8 page.src\n",                     // unknown kind
      "0 1 2 3 4 5 -1 page.src\n",                    // negative length
      "0 1 2 3 4 5 4 page.src\n",                     // length short of the line end
      "0 1 2 3 4 99999999999999999999 8 page.src\n",  // a time that does not fit
      std::string("0 1 2 3 4 5 8 pa\0e.src\n", 23) + "x",
      "garbage",
  };
  for (const std::string& files : cases) {
    TempDir dir;
    const std::string path = dir / "state.sqlite";
    writeSample(path);
    spoilFiles(path, files);
    BuildState state;
    std::string warning;
    ASSERT_TRUE(state.open(path, "v1", milliseconds(1000), warning)) << files;
    EXPECT_NE(warning.find("is damaged"), std::string::npos) << files << ": " << warning;
    EXPECT_TRUE(state.pages().empty()) << files;
  }
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  spoilFiles(path, std::string("0 1 2 3 4 5 7 a\nb\0c d\n", 22));
  BuildState state;
  std::string warning;
  ASSERT_TRUE(state.open(path, "v1", milliseconds(1000), warning));
  EXPECT_EQ(warning, "");
  EXPECT_EQ(state.pages().at("out/page.html").dependencies.files[0].path,
            std::string("a\nb\0c d", 7));
}

TEST(BuildState, ALockHeldPastTheTimeoutMeansNoState) {
  TempDir dir;
  const std::string path = dir / "state.sqlite";
  writeSample(path);
  const int lock = ::open((path + ".lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  BuildState state;
  std::string warning;
  int told = 0;
  EXPECT_FALSE(state.open(path, "v1", milliseconds(1300), warning, [&] { ++told; }));
  EXPECT_NE(warning.find("in use by another run"), std::string::npos) << warning;
  EXPECT_EQ(told, 1) << "a wait of over a second is told once";
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
    std::string warning;
    return !state.open(dir / "locked/sub/state.sqlite", "v1", milliseconds(50), warning) &&
           warning.find("cannot make the state directory") != std::string::npos &&
           !state.open(dir / "locked/state.sqlite", "v1", milliseconds(50), warning) &&
           warning.find("cannot write the state file") != std::string::npos;
  });
  if (!refused) GTEST_SKIP() << "cannot run as nobody here, and permissions do not bind root";
  EXPECT_TRUE(*refused);
}

TEST(DefaultStatePath, OneFilePerDirectoryInTheCache) {
  struct Case {
    const char* cacheHome;
    const char* home;
    const char* prefix;
  } cases[] = {
      {"/c", "/h", "/c/quillforge/my_site-"},
      {"relative", "/h", "/h/.cache/quillforge/my_site-"},
      {"", "/h/", "/h/.cache/quillforge/my_site-"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const std::string path = defaultStatePath("/work/my site/", c.cacheHome, c.home);
    EXPECT_EQ(path.substr(0, std::string(c.prefix).size()), c.prefix) << c.cacheHome;
  }
  EXPECT_NE(defaultStatePath("/a/site", "/c", ""), defaultStatePath("/b/site", "/c", ""));
  EXPECT_EQ(defaultStatePath("/a/site/", "/c", ""), defaultStatePath("/a/site", "/c", ""));
}

}  // namespace
}  // namespace qf
