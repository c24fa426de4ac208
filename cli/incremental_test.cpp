// qfc as a build tool: runs that compile only what changed, make and ninja
// driving it through dependency files, and the faults a build tool meets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/file_system.h"
#include "base/test_util.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

const std::string& kQfc = qfcProgram();

class IncrementalQfcTest : public ::testing::Test {
 protected:
  ProgramResult qfc(std::vector<std::string> arguments) {
    return qfc_.run(arguments, dir_.path(), {"SOURCE_DATE_EPOCH=1767791220"});
  }
  ProgramResult build(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {
        "--all", "site", "-r", "--out-dir", "out", "--state", "state/site.sqlite"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return qfc(arguments);
  }
  // The summary a terminal would show, from a run under `script`.
  std::string summaryOf(const std::string& arguments) {
    return qfc_.terminalSummary(arguments, dir_.path());
  }
  // Waits out the files' clock tick, so that a later run trusts what the first recorded.
  void writeSite(int pages) {
    std::vector<std::string> written = {dir_.write("site/inc/head.inc", "<head>\n"),
                                        dir_.write("site/inc/foot.inc", "<foot>\n")};
    for (int i = 0; i < pages; ++i) {
      written.push_back(dir_.write(
          "site/p" + std::to_string(i) + ".src",
          std::string(i % 2 ? "#include \"inc/head.inc\"\n" : "#include \"inc/foot.inc\"\n") +
              "page " + std::to_string(i) + "\n"));
    }
    awaitFileClockPast(latestFileTime(written));
  }
  TempDir dir_;
  QfcProcess qfc_;
};

TEST_F(IncrementalQfcTest, ASecondRunCompilesOnlyWhatChanged) {
  if (!pathExists("/usr/bin/script")) GTEST_SKIP() << "no 'script' to give qfc a terminal";
  writeSite(4);
  dir_.write("site/style.css", "css");
  const std::string run = "--all site --out-dir out --state state/s.sqlite";
  EXPECT_EQ(summaryOf(run), "Compiled 4 files, 0 up to date, 0 failed.");
  const FileStatus first = *statusOf(dir_ / "out/p0.html");
  EXPECT_EQ(summaryOf(run), "Compiled 0 files, 4 up to date, 0 failed.");
  dir_.write("site/inc/head.inc", "<new head>\n");
  EXPECT_EQ(summaryOf(run), "Compiled 2 files, 2 up to date, 0 failed.");
  EXPECT_EQ(readFile(dir_ / "out/p1.html"), "<new head>\npage 1\n");
  EXPECT_EQ(*statusOf(dir_ / "out/p0.html"), first);
  EXPECT_EQ(summaryOf(run + " -B"), "Compiled 4 files, 0 up to date, 0 failed.");
  EXPECT_EQ(*statusOf(dir_ / "out/p0.html"), first) << "-B rewrote an unchanged output";
  EXPECT_EQ(readFile(dir_ / "out/style.css"), "css");
}

TEST_F(IncrementalQfcTest, UnchangedOutputKeepsItsInodeInEveryMode) {
  dir_.write("page.src", "same\n");
  ASSERT_EQ(qfc({"page.src"}).exitCode, 0);
  ASSERT_EQ(link((dir_ / "page.html").c_str(), (dir_ / "copy.html").c_str()), 0);
  const FileIdentity before = statusOf(dir_ / "page.html")->identity;
  ASSERT_EQ(qfc({"page.src"}).exitCode, 0);
  EXPECT_EQ(statusOf(dir_ / "page.html")->identity, before);
  dir_.write("page.src", "changed\n");
  ASSERT_EQ(qfc({"page.src"}).exitCode, 0);
  EXPECT_NE(statusOf(dir_ / "page.html")->identity, before);
  EXPECT_EQ(readFile(dir_ / "copy.html"), "same\n");
}

TEST_F(IncrementalQfcTest, FailedPagesAreCompiledAndReportedEveryRun) {
  dir_.write("site/good.src", "good\n");
  dir_.write("site/bad.src", "#include \"missing.inc\"\n");
  for (int run = 0; run < 3; ++run) {
    const ProgramResult r = build();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "site/bad.src:1: Error: #include file \"missing.inc\" not found.\n");
  }
  dir_.write("site/missing.inc", "found\n");
  const ProgramResult r = build();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "out/bad.html"), "found\n");
}

TEST_F(IncrementalQfcTest, NothingOfTheUsersIsDeleted) {
  dir_.write("site/page.src", "page\n");
  dir_.write("site/old.src", "old\n");
  dir_.write("site/pic.png", "png");
  dir_.write("out/mine.txt", "mine");
  ASSERT_EQ(build().exitCode, 0);
  // A page and a picture removed: their outputs go, unless the user changed them.
  fs::remove(dir_ / "site/old.src");
  fs::remove(dir_ / "site/pic.png");
  dir_.write("out/old.html", "edited by the user\n");
  ASSERT_EQ(build().exitCode, 0);
  EXPECT_EQ(readFile(dir_ / "out/old.html"), "edited by the user\n");
  EXPECT_FALSE(pathExists(dir_ / "out/pic.png"));
  // Runs without state, and with a state of other runs, delete nothing.
  dir_.write("out/gone.html", "the user's");
  ASSERT_EQ(build({"--no-state"}).exitCode, 0);
  ASSERT_EQ(build({"-B"}).exitCode, 0);
  ASSERT_EQ(build().exitCode, 0);
  EXPECT_EQ(readFile(dir_ / "out/mine.txt"), "mine");
  EXPECT_EQ(readFile(dir_ / "out/gone.html"), "the user's");
  EXPECT_EQ(readFile(dir_ / "out/page.html"), "page\n");
}

TEST_F(IncrementalQfcTest, DependencyFilesEscapeWhatMakeReadsSpecially) {
  dir_.write("my site/pa#ge.src", "#include \"a $b.inc\"\n#ifexists \"maybe.txt\"\n#endif\n");
  dir_.write("my site/a $b.inc", "x\n");
  const ProgramResult r = qfc({"-MD", "-MP", "my site/pa#ge.src"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "my site/pa#ge.html.d"),
            "my\\ site/pa\\#ge.html: \\\n my\\ site/pa\\#ge.src \\\n my\\ site/a\\ $$b.inc \\\n"
            " my\\ site\n\nmy\\ site/a\\ $$b.inc:\n\nmy\\ site:\n");
  ASSERT_EQ(qfc({"-MF", "dep", "-MT", "the target", "my site/pa#ge.src"}).exitCode, 0);
  EXPECT_EQ(readFile(dir_ / "dep"),
            "the\\ target: \\\n my\\ site/pa\\#ge.src \\\n my\\ site/a\\ $$b.inc \\\n my\\ site\n");
}

// make and ninja, given the rules qfc writes, rebuild exactly what an edit reaches.
struct BuildTool {
  const char* name;
  const char* program;
  const char* file;
  const char* text;
};

// Names each case by its tool, so the case's name stays the same from run to run.
void PrintTo(const BuildTool& tool, std::ostream* out) { *out << tool.name; }

class BuildToolTest : public IncrementalQfcTest, public ::testing::WithParamInterface<BuildTool> {
 protected:
  // The pages the tool rebuilt, from the commands it printed.
  std::vector<std::string> runTool() {
    ProgramResult r = runProgram(GetParam().program, {}, dir_.path() + "site", qfc_.environment());
    r.out.insert(0, "\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> built;
    // Lines "QFC page.html" that the rule's command printed.
    for (std::size_t at = 0; (at = r.out.find("\nQFC ", at)) != std::string::npos; at += 5) {
      built.push_back(r.out.substr(at + 5, r.out.find('\n', at + 5) - at - 5));
    }
    std::sort(built.begin(), built.end());
    return built;
  }
};

TEST_P(BuildToolTest, RebuildsExactlyThePagesAnEditReaches) {
  if (!pathExists(GetParam().program)) GTEST_SKIP() << GetParam().program << " is not installed";
  std::string text = GetParam().text;
  for (std::size_t at; (at = text.find("QFC_PROGRAM")) != std::string::npos;) {
    text.replace(at, 11, kQfc);
  }
  dir_.write(std::string("site/") + GetParam().file, text);
  dir_.write("site/a.src", "#include \"head.inc\"\na\n");
  dir_.write("site/b.src", "#include \"head.inc\"\n#include \"foot.inc\"\nb\n");
  dir_.write("site/c.src", "#ifexists \"opt/extra.txt\"\nextra\n#endif\nc\n");
  fs::create_directory(dir_ / "site/opt");
  dir_.write("site/head.inc", "head\n");
  dir_.write("site/foot.inc", "foot\n");
  using Pages = std::vector<std::string>;
  EXPECT_EQ(runTool(), (Pages{"a.html", "b.html", "c.html"}));
  EXPECT_EQ(runTool(), Pages{});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dir_.write("site/foot.inc", "new foot\n");
  EXPECT_EQ(runTool(), Pages{"b.html"});
  // make compares times: the edit must come after b.html's, not in its tick.
  awaitFileClockPast(latestFileTime({dir_ / "site/b.html"}));
  dir_.write("site/head.inc", "new head\n");
  EXPECT_EQ(runTool(), (Pages{"a.html", "b.html"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dir_.write("site/opt/extra.txt", "");
  EXPECT_EQ(runTool(), Pages{"c.html"});
  EXPECT_EQ(readFile(dir_ / "site/c.html"), "extra\nc\n");
  // An include that is no longer used may go.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dir_.write("site/b.src", "#include \"head.inc\"\nb\n");
  fs::remove(dir_ / "site/foot.inc");
  EXPECT_EQ(runTool(), Pages{"b.html"});
  EXPECT_EQ(readFile(dir_ / "site/b.html"), "new head\nb\n");
}

INSTANTIATE_TEST_SUITE_P(
    Tools, BuildToolTest,
    ::testing::Values(
        BuildTool{"make", "/usr/bin/make", "Makefile",
                  "all: a.html b.html c.html\n"
                  "%.html: %.src\n\t@echo QFC $@\n\t@QFC_PROGRAM -MD -MP -o $@ $<\n"
                  "-include $(wildcard *.html.d)\n"},
        BuildTool{"ninja", "/usr/bin/ninja", "build.ninja",
                  "rule qfc\n  command = echo QFC $out && QFC_PROGRAM -MD -MP -o $out $in\n"
                  "  depfile = $out.d\n  deps = gcc\n"
                  "build a.html: qfc a.src\nbuild b.html: qfc b.src\nbuild c.html: qfc c.src\n"}),
    [](const ::testing::TestParamInfo<BuildTool>& info) { return std::string(info.param.name); });

TEST_F(IncrementalQfcTest, TwoRunsAtOnceBothEndCorrectly) {
  writeSite(60);
  const std::string fullOut = dir_ / "full/";
  ProgramResult first, second;
  std::thread other([&] { first = build(); });
  second = build();
  other.join();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(second.exitCode, 0) << second.err;
  ASSERT_EQ(qfc({"--all", "site", "-r", "--out-dir", "full", "--no-state"}).exitCode, 0);
  EXPECT_EQ(snapshotTree(dir_ / "out/", true), snapshotTree(fullOut, true));
}

TEST_F(IncrementalQfcTest, AKilledRunLeavesAStateTheNextRunBuildsFrom) {
  writeSite(400);
  for (const int delayMs : {2, 10, 40, 120}) {
    ASSERT_EQ(build().exitCode, 0);
    dir_.write("site/inc/head.inc", "<head " + std::to_string(delayMs) + ">\n");
    const pid_t child = qfc_.spawn(
        {"--all", "site", "-r", "--out-dir", "out", "--state", "state/site.sqlite", "-q"},
        dir_.path());
    ASSERT_GE(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const ProgramResult r = build({"-q", "-j", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(qfc({"--all", "site", "-r", "--out-dir", "full", "--no-state"}).exitCode, 0);
    // A killed process cannot remove the temporary file it was writing.
    TreeSnapshot out = snapshotTree(dir_ / "out/", true);
    std::erase_if(out, [](const auto& file) {
      return file.first.starts_with(".") && file.first.ends_with(".tmp");
    });
    EXPECT_EQ(out, snapshotTree(dir_ / "full/", true)) << "killed after " << delayMs << " ms";
  }
}

TEST_F(IncrementalQfcTest, ACorruptStateIsSetAsideWithOneWarning) {
  writeSite(3);
  ASSERT_EQ(build().exitCode, 0);
  dir_.write("state/site.sqlite", "garbage, not a database\n");
  const ProgramResult r = build();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "qfc: warning: state file state/site.sqlite is not a usable database; moved it to "
            "state/site.sqlite.old and building everything\n");
  EXPECT_EQ(readFile(dir_ / "out/p1.html"), "<head>\npage 1\n");
  EXPECT_EQ(build().err, "");
}

TEST_F(IncrementalQfcTest, AReadOnlyStateDirectoryGivesAWarningAndABuild) {
  writeSite(3);
  fs::create_directory(dir_ / "state");
  chmod((dir_ / "state").c_str(), 0555);
  bool owned = chown(dir_.path().c_str(), 65534, 65534) == 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    owned = lchown(entry.path().c_str(), 65534, 65534) == 0 && owned;
  }
  if (!owned) GTEST_SKIP() << "cannot hand the tree to nobody";
  const std::string report = dir_ / "report";
  const std::optional<bool> ran = runAsNobody([&] {
    const ProgramResult r = build();
    return r.exitCode == 0 &&
           r.err ==
               "qfc: warning: cannot write the state file state/site.sqlite; building "
               "without state\n" &&
           readFile(dir_ / "out/p1.html") == "<head>\npage 1\n";
  });
  if (!ran) GTEST_SKIP() << "cannot run as nobody here, and permissions do not bind root";
  EXPECT_TRUE(*ran);
}

// Replaces a file as cp -p, rsync -t or tar x do: new bytes under the old
// size and modification time.
void replaceKeepingSizeAndTime(const TempDir& dir, const std::string& relative,
                               const std::string& bytes) {
  const long long time = statusOf(dir / relative)->modifiedNs;
  const std::string fresh = dir.write(relative + ".new", bytes);
  ASSERT_TRUE(setModifiedTime(fresh, time));
  ASSERT_EQ(::rename(fresh.c_str(), (dir / relative).c_str()), 0);
}

TEST_F(IncrementalQfcTest, AnAssetReplacedUnderTheSameSizeAndTimeIsCopied) {
  struct Case {
    const char* name;
    std::vector<std::string> extra;
  } cases[] = {{"with state", {}}, {"always make", {"-B"}}, {"without state", {"--no-state"}}};
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("site/page.src", "page\n");
    dir.write("site/logo.png", "AAAA");
    dir.write("site/themes/a.css", "a{x}");
    dir.write("site/themes/b.css", "b{y}");
    ASSERT_TRUE(setModifiedTime(dir / "site/themes/b.css",
                                statusOf(dir / "site/themes/a.css")->modifiedNs));
    fs::create_symlink("themes/a.css", dir / "site/theme.css");
    std::vector<std::string> arguments = {"--all",   "site",          "-r", "--out-dir", "out",
                                          "--state", "state/s.sqlite"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(qfc_.run(arguments, dir.path()).exitCode, 0) << c.name;
    EXPECT_EQ(readFile(dir / "out/theme.css"), "a{x}") << c.name;
    const FileIdentity untouched = statusOf(dir / "out/themes/a.css")->identity;

    replaceKeepingSizeAndTime(dir, "site/logo.png", "BBBB");
    fs::remove(dir / "site/theme.css");
    fs::create_symlink("themes/b.css", dir / "site/theme.css");
    const ProgramResult r = qfc_.run(arguments, dir.path());
    ASSERT_EQ(r.exitCode, 0) << c.name << r.err;
    EXPECT_EQ(readFile(dir / "out/logo.png"), "BBBB") << c.name;
    EXPECT_EQ(readFile(dir / "out/theme.css"), "b{y}") << c.name;
    EXPECT_EQ(statusOf(dir / "out/logo.png")->modifiedNs,
              statusOf(dir / "site/logo.png")->modifiedNs)
        << c.name;
    EXPECT_EQ(statusOf(dir / "out/themes/a.css")->identity, untouched) << c.name;
  }
}

TEST_F(IncrementalQfcTest, ASparseAssetStaysSparse) {
  constexpr off_t kSize = 8 << 20;
  dir_.write("site/page.src", "page\n");
  const std::string image = dir_.write("site/disk.img", "");
  ASSERT_EQ(truncate(image.c_str(), kSize), 0);
  {
    std::FILE* file = std::fopen(image.c_str(), "r+");
    ASSERT_NE(file, nullptr);
    std::fseek(file, kSize / 2, SEEK_SET);
    std::fputs("data in the middle", file);
    std::fclose(file);
  }
  struct stat status {};
  ASSERT_EQ(stat(image.c_str(), &status), 0);
  if (status.st_blocks * 512 >= kSize / 2)
    GTEST_SKIP() << "the temporary file system keeps no holes";
  ASSERT_EQ(build().exitCode, 0);
  ASSERT_EQ(stat((dir_ / "out/disk.img").c_str(), &status), 0);
  EXPECT_LT(status.st_blocks * 512, 1 << 20) << "the copy was written dense";
  EXPECT_EQ(readFile(dir_ / "out/disk.img"), readFile(image));
}

TEST_F(IncrementalQfcTest, AFailingPageLeavesItsIncludesOutOfTheOutput) {
  dir_.write("site/inc/head.inc", "<head>\n");
  dir_.write("site/inc/foot.inc", "<foot>\n");
  for (const char* page : {"site/a.src", "site/sub/b.src"}) {
    dir_.write(page, "#include \"inc/head.inc\"\n#include \"inc/foot.inc\"\nbody\n");
  }
  dir_.write("site/sub/inc/head.inc", "<sub head>\n");
  dir_.write("site/sub/inc/foot.inc", "<sub foot>\n");
  ASSERT_EQ(build().exitCode, 0);
  // The shared include breaks: the pages stop before their footers, run
  // after run; a fixed include brings them back.
  dir_.write("site/inc/head.inc", "#include \"missing.inc\"\n");
  dir_.write("site/sub/inc/head.inc", "#include \"missing.inc\"\n");
  for (int run = 0; run < 2; ++run) {
    const ProgramResult r = build();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(pathExists(dir_ / "out/inc/foot.inc")) << "run " << run;
    EXPECT_FALSE(pathExists(dir_ / "out/sub/inc/foot.inc")) << "run " << run;
  }
  dir_.write("site/inc/head.inc", "<new head>\n");
  dir_.write("site/sub/inc/head.inc", "<new sub head>\n");
  const ProgramResult r = build();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "out/sub/b.html"), "<new sub head>\n<sub foot>\nbody\n");
  EXPECT_EQ(snapshotTree(dir_ / "out/").count("inc/foot.inc"), 0u);
}

TEST_F(IncrementalQfcTest, PagesOfAnEarlierOutputDirectoryInTheTreeAreNoAssets) {
  dir_.write("site/index.src", "index\n");
  dir_.write("site/public/robots.txt", "the user's");
  ASSERT_EQ(qfc({"--all", "site", "-r", "--out-dir", "site/public", "--state", "state/s.sqlite"})
                .exitCode,
            0);
  ASSERT_EQ(build({"--state", "state/s.sqlite"}).exitCode, 0);
  EXPECT_EQ(readFile(dir_ / "out/index.html"), "index\n");
  EXPECT_FALSE(pathExists(dir_ / "out/public/index.html"));
  EXPECT_EQ(readFile(dir_ / "out/public/robots.txt"), "the user's");
}

TEST_F(IncrementalQfcTest, TemporariesOfAKilledRunAreRemovedWhereARunWrites) {
  writeSite(2);
  dir_.write("site/sub/page.src", "sub\n");
  const char* leftovers[] = {"out/.qfabcd1234.tmp", "out/sub/.qf0000zzzz.tmp",
                             "out/elsewhere/.qfabcd1234.tmp"};
  for (const char* leftover : leftovers) {
    ASSERT_TRUE(setModifiedTime(dir_.write(leftover, "half a page"), 1000000000LL * 1700000000));
  }
  dir_.write("out/.qfabcd1234.tmp.keep", "the user's");
  ASSERT_EQ(build().exitCode, 0);
  EXPECT_FALSE(pathExists(dir_ / leftovers[0]));
  EXPECT_FALSE(pathExists(dir_ / leftovers[1]));
  EXPECT_TRUE(pathExists(dir_ / leftovers[2])) << "no run writes there";
  EXPECT_TRUE(pathExists(dir_ / "out/.qfabcd1234.tmp.keep"));
}

TEST_F(IncrementalQfcTest, ARunWaitingForTheStateSaysSoOnce) {
  writeSite(2);
  ASSERT_EQ(build().exitCode, 0);
  const int lock = ::open((dir_ / "state/site.sqlite.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  // Standard error goes to a file, to be read while qfc waits.
  const std::string errors = dir_ / "errors.txt";
  ProgramResult r;
  std::thread waiter([&] {
    r = runProgram("/bin/sh",
                   {"-c",
                    "exec \"$0\" --all site -r --out-dir out --state "
                    "state/site.sqlite 2>errors.txt",
                    kQfc},
                   dir_.path(), qfc_.environment());
  });
  const std::string waiting =
      "qfc: warning: state file state/site.sqlite is in use by another run; waiting for it\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (readFile(errors) != waiting && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(readFile(errors), waiting);
  ::close(lock);
  waiter.join();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(readFile(errors), waiting) << "the run went on waiting, and then used the state";
}

}  // namespace
}  // namespace qf
