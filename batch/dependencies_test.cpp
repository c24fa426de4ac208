#include "batch/dependencies.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

TEST(EscapeForMake, SpellsNamesSoThatMakeAndNinjaBothReadThem) {
  struct Case {
    std::string path;
    bool target;
    std::optional<std::string> escaped;  // nullopt: no spelling serves both
  } cases[] = {
      {"plain/page.src", false, "plain/page.src"},
      {"my site/a b.inc", false, "my\\ site/a\\ b.inc"},
      {"c#.inc", false, "c\\#.inc"},
      {"$HOME/x", false, "$$HOME/x"},
      {"a:b.inc", false, "a\\:b.inc"},
      {"a\\b", false, "a\\b"},
      {"a\\ b", false, "a\\\\\\ b"},
      {"a\\\\ b", false, "a\\\\\\\\\\ b"},
      {"50%.inc", false, "50%.inc"},
      {"50%.html", true, "50\\%.html"},
      {"~x.inc", false, "./~x.inc"},
      {"a~b", false, "a~b"},
      {"(b)", false, "(b)"},
      {"a(b).inc", false, "a(b).inc"},
      {"caf\xc3\xa9,{x}@y!-+_.inc", false, "caf\xc3\xa9,{x}@y!-+_.inc"},
      {"a]b", false, "a]b"},
      {"", false, std::nullopt},
      {"lib(member)", false, std::nullopt},
      {"a\tb", false, std::nullopt},
      {"a\nb", false, std::nullopt},
      {"a\rb", false, std::nullopt},
      {"x;y.inc", false, std::nullopt},
      {"a|b", false, std::nullopt},
      {"a=b", false, std::nullopt},
      {"a*b", false, std::nullopt},
      {"a?b", false, std::nullopt},
      {"a[b]", false, std::nullopt},
      {"a&b", false, std::nullopt},
      {"it's", false, std::nullopt},
      {"a\"b", false, std::nullopt},
      {"a<b>", false, std::nullopt},
      {"a^b", false, std::nullopt},
      {"a`b", false, std::nullopt},
      {"ends\\", false, std::nullopt},
      {"a\\#b", false, std::nullopt},
      {"a\\:b", false, std::nullopt},
      {"a\\$b", false, std::nullopt},
      {"a\\%b", false, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(escapeForMake(c.path, c.target), c.escaped) << c.path;
}

TEST(DependencyFilePath, IsBesideTheOutputOrBelowTheDependencyDirectory) {
  struct Case {
    const char* directory;
    const char* root;
    const char* output;
    const char* path;
  } cases[] = {
      {"", "public/", "public/a/b.html", "public/a/b.html.d"},
      {"deps/", "public/", "public/a/b.html", "deps/a/b.html.d"},
      {"deps/", "", "public/a.html", "deps/public/a.html.d"},
      {"deps/", "", "./x/../a.html", "deps/a.html.d"},
      {"deps/", "", "/srv/www/a.html", "deps/srv/www/a.html.d"},
      {"deps/", "", "../../a.html", "deps/a.html.d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dependencyFilePath(c.directory, c.root, c.output), c.path) << c.output;
  }
}

TEST(MakeRule, ListsReadFilesAndTheDirectoriesOfMisses) {
  TempDir dir;
  dir.write("site/page.src", "");
  dir.write("site/inc/head.inc", "");
  const std::string site = dir / "site/";
  PageDependencies dependencies;
  dependencies.files = {
      {DependencyKind::kRead, site + "page.src", {}},
      {DependencyKind::kMissing, site + "head.inc", {}},
      {DependencyKind::kIncluded, site + "inc/head.inc", {}},
      {DependencyKind::kMissing, site + "new/deeper/x.txt", {}},
      {DependencyKind::kFound, site + "inc/head.inc", {}},
  };
  // site/head.inc and site/new/deeper/x.txt would both be in site itself.
  const std::string siteDirectory = site.substr(0, site.size() - 1);
  const std::string rule = "out.html: \\\n " + site + "page.src \\\n " + siteDirectory + " \\\n " +
                           site + "inc/head.inc\n";
  std::string unwritable;
  EXPECT_EQ(makeRule("out.html", dependencies, false, unwritable), rule);
  EXPECT_EQ(makeRule("out.html", dependencies, true, unwritable),
            rule + "\n" + siteDirectory + ":\n\n" + site + "inc/head.inc:\n");
  EXPECT_EQ(unwritable, "");
  // One name that cannot be written, among the files or as the target,
  // leaves no rule at all.
  dependencies.files.push_back({DependencyKind::kIncluded, site + "x;y.inc", {}});
  EXPECT_EQ(makeRule("out.html", dependencies, false, unwritable), std::nullopt);
  EXPECT_EQ(unwritable, site + "x;y.inc");
  dependencies.files.pop_back();
  EXPECT_EQ(makeRule("a=b.html", dependencies, false, unwritable), std::nullopt);
  EXPECT_EQ(unwritable, "a=b.html");
}

class DependenciesHold : public ::testing::Test {
 protected:
  // A dependency recorded the way a compile records it.
  PageDependencies record(const std::string& read, const std::string& found,
                          const std::string& missing) {
    DependencyRecorder recorder;
    recorder.fileRead(read, true, nullptr);
    recorder.fileFound(found);
    recorder.fileMissing(missing);
    recorder.dateSymbolUsed("_DAY_", "07");
    return recorder.take();
  }
  TempDir dir_;
};

TEST_F(DependenciesHold, EveryKindOfChangeBreaksThem) {
  const std::time_t moment = 1767791220;  // the 7th
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> change;
    long long recordedLater;  // added to the recording moment
    std::time_t laterMoment;
    bool holds;
  } cases[] = {
      {"nothing changed", [](const TempDir&) {}, 0, 0, true},
      {"included file rewritten", [](const TempDir& d) { d.write("inc.inc", "other!"); }, 0, 0,
       false},
      {"included file removed", [](const TempDir& d) { unlink((d / "inc.inc").c_str()); }, 0, 0,
       false},
      {"found file removed", [](const TempDir& d) { unlink((d / "here.txt").c_str()); }, 0, 0,
       false},
      {"missing file appeared", [](const TempDir& d) { d.write("gone.txt", ""); }, 0, 0, false},
      {"missing directory appeared", [](const TempDir& d) { d.write("gone.txt/x", ""); }, 0, 0,
       true},
      {"date changed", [](const TempDir&) {}, 0, 86400, false},
      {"same minute later", [](const TempDir&) {}, 0, 30, true},
      {"recorded in the file's own tick", [](const TempDir&) {}, -1, 0, false},
  };
  for (const Case& c : cases) {
    dir_.write("inc.inc", "include");
    dir_.write("here.txt", "");
    unlink((dir_ / "gone.txt").c_str());
    std::filesystem::remove_all(dir_ / "gone.txt");
    const PageDependencies dependencies =
        record(dir_ / "inc.inc", dir_ / "here.txt", dir_ / "gone.txt");
    const long long changed = dependencies.files[0].status.changedNs;
    // Recorded well after the file's last change, unless the case says otherwise.
    const long long recordedAt = c.recordedLater < 0 ? changed : changed + 1000000000LL;
    c.change(dir_);
    StatusCache statuses;
    EXPECT_EQ(dependenciesHold(dependencies, recordedAt, moment + c.laterMoment, statuses), c.holds)
        << c.what;
  }
}

// The compile's own look stands for the file: the recorder looks only when
// the compile did not.
TEST(DependencyRecorder, TakesTheStatusTheCompileSaw) {
  TempDir dir;
  const std::string path = dir.write("a.inc", "now\n");
  FileStatus seen;
  seen.size = 1234;
  DependencyRecorder recorder;
  recorder.fileRead(path, true, &seen);
  recorder.fileRead(path, false, nullptr);
  ASSERT_EQ(recorder.dependencies().files.size(), 2u);
  EXPECT_EQ(recorder.dependencies().files[0].status, seen);
  EXPECT_EQ(recorder.dependencies().files[1].status, statusOf(path));
}

TEST(DependencyRecorder, KeepsEachPathAndKindOnce) {
  DependencyRecorder recorder;
  recorder.fileRead("a", true, nullptr);
  recorder.fileRead("a", true, nullptr);
  recorder.fileMissing("a");
  recorder.dateSymbolUsed("_DAY_", "07");
  recorder.dateSymbolUsed("_DAY_", "07");
  EXPECT_EQ(recorder.dependencies().files.size(), 2u);
  EXPECT_EQ(recorder.dependencies().dates.size(), 1u);
}

}  // namespace
}  // namespace qf
