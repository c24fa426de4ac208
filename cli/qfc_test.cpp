#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/test_util.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

const std::string& kQfc = qfcProgram();

class QfcTest : public ::testing::Test {
 protected:
  ProgramResult qfc(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {}) {
    return qfc_.run(arguments, dir_.path(), environment);
  }
  // A program that runs qfc itself, with the settings qfc's runs get.
  ProgramResult shell(const std::string& program, const std::vector<std::string>& arguments) {
    return runProgram(program, arguments, dir_.path(), qfc_.environment());
  }

  TempDir dir_;
  QfcProcess qfc_;
};

TEST_F(QfcTest, CompilesFilesBesideThemselves) {
  dir_.write("a.src", "#define X 1\nX _INFILETITLE_ _OUTFILETITLE_\n");
  dir_.write("sub/b.src", "b\n");
  const ProgramResult r = qfc({"a.src", "sub/b.src", "-e", "htm"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir_ / "a.htm"), "1 a.src a.htm\n");
  EXPECT_EQ(readFile(dir_ / "sub/b.htm"), "b\n");
}

TEST_F(QfcTest, ReportsEachFailureOnOneLineAndCompilesTheRest) {
  dir_.write("site/index.src", "a\n#include \"parts\\foot.inc\"\n");
  dir_.write("site/ok.src", "fine\n");
  const ProgramResult r = qfc({"site/index.src", "site/ok.src", "missing.src"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "site/index.src:2: Error: #include file \"parts\\foot.inc\" not found.\n"
            "missing.src:0: Error: Could not open input file \"missing.src\".\n");
  EXPECT_EQ(readFile(dir_ / "site/ok.html"), "fine\n");
  EXPECT_FALSE(pathExists(dir_ / "site/index.html"));
}

TEST_F(QfcTest, AMisspeltDirectiveIsFollowedByANote) {
  dir_.write("site/a.src", "a\nb\n#defin TITLE x\n");
  const std::string expected =
      "site/a.src:3: Error: Unknown directive after #.\n"
      "site/a.src:3: note: did you mean \"#define\"?\n";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"site/a.src"}, {"--all", "site", "--no-state"}}) {
    const ProgramResult r = qfc(arguments);
    EXPECT_EQ(r.exitCode, 1) << arguments.front();
    EXPECT_EQ(r.err, expected) << arguments.front();
  }
}

TEST_F(QfcTest, InitWritesAStarterSiteThatTheCommandItPrintsBuilds) {
  const ProgramResult init = qfc({"--init", "new site"});
  ASSERT_EQ(init.exitCode, 0) << init.err;
  EXPECT_NE(init.out.find("\n  qfc --all 'new site' -r --out-dir public --serve --open\n"),
            std::string::npos)
      << init.out;
  // The command as printed, without the preview.
  const ProgramResult build = qfc({"--all", "new site", "-r", "--out-dir", "public"});
  EXPECT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(build.err, "");
  for (const char* output : {"index.html", "about.html", "style.css", "img/mark.svg"}) {
    EXPECT_TRUE(pathExists(dir_ / (std::string("public/") + output))) << output;
  }
  EXPECT_NE(readFile(dir_ / "public/index.html").find("width=\"120\" height=\"40\""),
            std::string::npos);
  EXPECT_NE(readFile(dir_ / "public/about.html").find("<title>About</title>"), std::string::npos);

  const std::string before = readFile(dir_ / "new site/index.src");
  dir_.write("new site/index.src", "mine\n");
  const ProgramResult again = qfc({"--init", "new site"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err,
            "qfc: new site exists and is not empty; the starter site goes into a new or empty "
            "directory\n");
  EXPECT_EQ(readFile(dir_ / "new site/index.src"), "mine\n");
  EXPECT_NE(before, "mine\n");
}

TEST_F(QfcTest, BackslashAndColonArePartOfFileNames) {
  dir_.write("site/a\\b.src", "#include \"h.inc\"\n_INFILETITLE_ _OUTFILETITLE_\n");
  dir_.write("site/h.inc", "h\n");
  dir_.write("site/c:d.src", "#fileinfo \"img\\logo.gif\"\n_INFILETITLE_ _FILENAME_ _FILETITLE_\n");
  dir_.write("site/img/logo.gif", "GIF89a");
  const ProgramResult r = qfc({"site/a\\b.src", "site/c:d.src"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir_ / "site/a\\b.html"), "h\na\\b.src a\\b.html\n");
  EXPECT_EQ(readFile(dir_ / "site/c:d.html"), "c:d.src img\\logo.gif logo.gif\n");
}

TEST_F(QfcTest, UsageErrorsExitWithTwo) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    const char* firstLine;
  };
  const Case cases[] = {
      {{"--frobnicate"}, {}, "qfc: unknown option '--frobnicate'"},
      {{}, {}, "qfc: no input: give FILE... or --all DIR"},
      {{"a.src", "b.src", "-o", "x"}, {}, "qfc: '-o' takes exactly one FILE"},
      {{"a.src"},
       {"SOURCE_DATE_EPOCH=yesterday"},
       "qfc: SOURCE_DATE_EPOCH is not a decimal count of seconds: 'yesterday'"},
      {{"a.src"},
       {"SOURCE_DATE_EPOCH=9999999999999999999"},
       "qfc: SOURCE_DATE_EPOCH is not a decimal count of seconds: '9999999999999999999'"},
      {{"a.src", "-j", "9223372036854776832"},
       {},
       "qfc: '-j 9223372036854776832': jobs is a number from 0 to 1024"},
      {{"a.src", "-o", ""}, {}, "qfc: '-o' needs a path"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = qfc(c.arguments, c.environment);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, std::string(c.firstLine) + "\nTry 'qfc --help' for more information.\n");
  }
}

TEST_F(QfcTest, EngineCharacterChecksAreFailures) {
  dir_.write("a.src", "x\n");
  const ProgramResult r = qfc({"a.src", "--directive-char", "a"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "None:0: Error: Directive character 'a' mustn't be valid symbol character.\n");
}

TEST_F(QfcTest, HelpAndVersionGoToStandardOutput) {
  ProgramResult r = qfc({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option : {"--output", "--ext", "--include-dir", "--recursive", "--out-dir",
                             "--directive-char", "--concat-char", "--define", "--jobs", "--quiet",
                             "--version", "--exclude", "--dep-dir", "SOURCE_DATE_EPOCH"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
  r = qfc({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "qfc (Quillforge) 1.3a\n"
            "Copyright (c) 2026 The Quillforge authors. Released under the MIT licence.\n");
}

TEST_F(QfcTest, AllWithNoSourceSaysSo) {
  std::filesystem::create_directory(dir_ / "empty");
  const ProgramResult r = qfc({"--all", "empty"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "empty: Can't find any .src files in directory!\n");
}

TEST_F(QfcTest, OutDirMirrorsTheTree) {
  dir_.write("site/index.src", "#include \"parts/menu.inc\"\nindex\n");
  dir_.write("site/parts/menu.inc", "menu\n");
  dir_.write("site/sub/deeper/page.src", "deep _OUTFILENAME_\n");
  // An editor's lock beside a page it has open is no page.
  std::filesystem::create_symlink("me@host.1234:1765000000", dir_ / "site/sub/deeper/.#page.src");
  const ProgramResult r = qfc({"--all", "site", "-r", "--out-dir", "out"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(snapshotTree(dir_ / "out/"),
            (TreeSnapshot{
                {"index.html", "menu\nindex\n"},
                {"sub/", ""},
                {"sub/deeper/", ""},
                {"sub/deeper/page.html", "deep out/sub/deeper/page.html\n"},
            }));
}

TEST_F(QfcTest, ExcludeLeavesOutPagesAndFilesHoweverTheDirectoryIsSpelled) {
  dir_.write("site/index.src", "index\n");
  dir_.write("site/drafts/wip.src", "wip\n");
  dir_.write("site/drafts/wip.png", "png");
  dir_.write("site/sub/drafts/kept.src", "kept\n");
  dir_.write("site/raw.psd", "psd");
  const TreeSnapshot kept = {
      {"index.html", "index\n"},
      {"sub/", ""},
      {"sub/drafts/", ""},
      {"sub/drafts/kept.html", "kept\n"},
  };
  for (const char* spelling : {"drafts", "drafts/", "./drafts", "/drafts", ".//drafts//"}) {
    std::filesystem::remove_all(dir_ / "out");
    const ProgramResult r = qfc({"--all", "site", "-r", "--out-dir", "out", "--no-state",
                                 "--exclude", spelling, "--exclude", "*.psd"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << spelling;
    EXPECT_EQ(snapshotTree(dir_ / "out/"), kept) << spelling;
  }
  // A page excluded after it was built goes, as a file would.
  const std::vector<std::string> stateful = {"--all", "site", "-r", "--out-dir", "out"};
  ASSERT_EQ(qfc(stateful).exitCode, 0);
  EXPECT_TRUE(pathExists(dir_ / "out/drafts/wip.html"));
  std::vector<std::string> excluding = stateful;
  excluding.insert(excluding.end(), {"--exclude", "drafts/wip.*"});
  ASSERT_EQ(qfc(excluding).exitCode, 0);
  EXPECT_FALSE(pathExists(dir_ / "out/drafts/wip.html"));
  EXPECT_FALSE(pathExists(dir_ / "out/drafts/wip.png"));
}

TEST_F(QfcTest, AnExcludeThatMatchesNothingIsWarnedAbout) {
  dir_.write("site/index.src", "index\n");
  dir_.write("site/img/a.png", "png");
  const ProgramResult r =
      qfc({"--all", "site", "--out-dir", "out", "--no-state", "--exclude", "img/*.jpg", "--exclude",
           "img/", "--exclude", "nowhere/", "--exclude", "nowhere/"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "qfc: warning: --exclude \"img/*.jpg\" matched nothing\n"
            "qfc: warning: --exclude \"nowhere/\" matched nothing\n");
  EXPECT_EQ(snapshotTree(dir_ / "out/"), (TreeSnapshot{{"index.html", "index\n"}}));
}

TEST_F(QfcTest, ParallelRunsMatchSerialOnes) {
  for (int i = 0; i < 40; ++i) {
    const std::string name = "site/d" + std::to_string(i % 4) + "/p" + std::to_string(i) + ".src";
    dir_.write(name, i % 7 == 3 ? "#broken\n" : "#define N " + std::to_string(i) + "\npage N\n");
  }
  const ProgramResult serial = qfc({"--all", "site", "-r", "--out-dir", "one", "-j", "1"});
  const ProgramResult parallel = qfc({"--all", "site", "-r", "--out-dir", "four", "-j", "4"});
  EXPECT_EQ(serial.exitCode, 1);
  EXPECT_EQ(parallel.exitCode, 1);
  EXPECT_EQ(serial.err, parallel.err);
  EXPECT_EQ(snapshotTree(dir_ / "one/"), snapshotTree(dir_ / "four/"));
  EXPECT_NE(serial.err.find("site/d3/p3.src:1: Error: Unknown directive after #."),
            std::string::npos);
}

TEST_F(QfcTest, StandardOutputMakesNoFile) {
  dir_.write("page.src", "_OUTFILENAME_ _OUTFILETITLE_ NAME\n");
  const ProgramResult r = qfc({"page.src", "-o", "-", "-D", "NAME=defined"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "- - defined\n");
  EXPECT_FALSE(pathExists(dir_ / "page.html"));
}

TEST_F(QfcTest, ClosedPipeEndsQuietly) {
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "line of text that goes on\n";
  dir_.write("big.src", big);
  const ProgramResult r =
      shell("/bin/bash",
            {"-c", "\"$0\" big.src -o - | head -c 1 >/dev/null; echo \"${PIPESTATUS[0]}\"", kQfc});
  EXPECT_EQ(r.out, "1\n");
  EXPECT_EQ(r.err, "");
}

// A source whose every line grows to a mebibyte keeps qfc busy writing.
std::string slowSource(int lines) {
  std::string source = "#define B " + std::string(1 << 20, 'b') + "\n";
  for (int i = 0; i < lines; ++i) source += "B\n";
  return source;
}

// True once process pid holds a temporary output open below directory: an
// unnamed file ("#..." in /proc) or a hidden one.
bool writesTemporaryBelow(pid_t pid, const std::string& directory) {
  std::error_code ignored;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds, ignored)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
    const std::string name = std::filesystem::path(target).filename().string();
    if (target.starts_with(directory) && (name.starts_with('#') || name.starts_with('.'))) {
      return true;
    }
  }
  return false;
}

bool awaitTemporaryOutput(pid_t pid, const std::string& directory) {
  return pollUntil([&] { return writesTemporaryBelow(pid, directory); }, std::chrono::seconds(5));
}

TEST_F(QfcTest, InterruptedRunLeavesNoTemporaryOutput) {
  dir_.write("slow.src", slowSource(300));
  dir_.write("slow.html", "previous\n");
  for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
    const pid_t child = qfc_.spawn({"slow.src"}, dir_.path());
    ASSERT_GE(child, 0);
    const bool seen = awaitTemporaryOutput(child, dir_.path());
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(seen) << "qfc finished before it could be interrupted";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_FALSE(holdsTemporaryOutput(dir_.path())) << signal;
    EXPECT_EQ(readFile(dir_ / "slow.html"), "previous\n");
  }
}

// The output directory is moved away and another put in its place while qfc
// writes: the page and every temporary stay in the directory qfc opened.
TEST_F(QfcTest, OutputDirectoryMovedDuringTheRunKeepsNothingBehind) {
  constexpr int kLines = 100;
  dir_.write("slow.src", slowSource(kLines));
  dir_.write("out/slow.html", "previous\n");
  std::filesystem::create_directory(dir_ / "elsewhere");
  const pid_t child = qfc_.spawn({"slow.src", "-o", "out/slow.html"}, dir_.path());
  ASSERT_GE(child, 0);
  const bool seen = awaitTemporaryOutput(child, dir_.path());
  kill(child, SIGSTOP);
  std::filesystem::rename(dir_ / "out", dir_ / "out.old");
  std::filesystem::create_directory_symlink("elsewhere", dir_ / "out");
  kill(child, SIGCONT);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(seen) << "qfc finished before the directory could be moved";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(holdsTemporaryOutput(dir_ / "out.old"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "elsewhere"));
  EXPECT_EQ(std::filesystem::file_size(dir_ / "out.old/slow.html"), kLines * ((1u << 20) + 1));
}

TEST_F(QfcTest, ProgressAndSummaryOnlyOnATerminal) {
  if (!pathExists("/usr/bin/script")) GTEST_SKIP() << "no 'script' to give qfc a terminal";
  dir_.write("a.src", "a\n");
  dir_.write("b.src", "#bad\n");
  const std::string shown = qfc_.terminalOutput("a.src b.src", dir_.path());
  EXPECT_NE(shown.find("[1/2] a.src"), std::string::npos) << shown;
  EXPECT_NE(shown.find("b.src:1: Error: Unknown directive after #."), std::string::npos);
  EXPECT_NE(shown.find("Compiled 2 files, 0 up to date, 1 failed."), std::string::npos);
  EXPECT_EQ(shown.find("Successfully"), std::string::npos);
  EXPECT_EQ(qfc_.terminalOutput("a.src b.src -q", dir_.path()),
            "b.src:1: Error: Unknown directive after #.\r\n");
  EXPECT_EQ(qfc({"a.src", "b.src"}).err, "b.src:1: Error: Unknown directive after #.\n");
}

TEST_F(QfcTest, ProgressLineShowsControlCharactersEscaped) {
  if (!pathExists("/usr/bin/script")) GTEST_SKIP() << "no 'script' to give qfc a terminal";
  const std::string name = "t\x1b]0;owned\x07\x1b[2J.src";
  dir_.write("d/" + name, "#bad\n");
  const std::string shown = qfc_.terminalOutput("--all d", dir_.path());
  EXPECT_NE(shown.find("[1/1] d/t\\x1b]0;owned\\x07\\x1b[2J.src"), std::string::npos) << shown;
  // Only the failure line holds the name byte for byte, for tools that read it.
  const std::size_t raw = shown.find(name);
  EXPECT_EQ(shown.find(name, raw + 1), std::string::npos) << shown;
  EXPECT_NE(shown.find("d/" + name + ":1: Error: Unknown directive after #."), std::string::npos);
}

TEST_F(QfcTest, SourceDateEpochFixesTheDate) {
  dir_.write("page.src", "_WEEKDAY_ _DAY_ _MONTH_ _YEAR_ _TIME_\n");
  const ProgramResult r = qfc({"page.src"}, {"SOURCE_DATE_EPOCH=1767791220"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "page.html"), "Wednesday 07 January 2026 01:07 PM\n");
}

TEST_F(QfcTest, FailureInsideAnIncludedFileNamesTheIncludeChain) {
  dir_.write("site/index.src", "<html>\n#include \"parts/menu.inc\"\n");
  dir_.write("site/parts/menu.inc", "a\nb\nc\n#include \"nav.inc\"\n");
  dir_.write("site/parts/nav.inc", "1\n2\n3\n4\n5\n6\n#include \"missing.inc\"\n");
  dir_.write("site/other.src", "#include \"parts/nav.inc\"\n");
  dir_.write("site/self.src", "#bad\n");
  const ProgramResult r = qfc({"site/index.src", "site/other.src", "site/self.src"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "In file included from site/parts/menu.inc:4,\n"
            "                 from site/index.src:2:\n"
            "site/parts/nav.inc:7: Error: #include file \"missing.inc\" not found.\n"
            "In file included from site/other.src:1:\n"
            "site/parts/nav.inc:7: Error: #include file \"missing.inc\" not found.\n"
            "site/self.src:1: Error: Unknown directive after #.\n");
}

TEST_F(QfcTest, DashReadsThePageFromStandardInput) {
  dir_.write("h.inc", "shared\n");
  struct Case {
    const char* what;
    const char* input;
    const char* arguments;
    const char* out;
  };
  const Case cases[] = {
      {"output defaults to standard output", "T\n", "-D T=x -", "x\n"},
      {"includes from the current directory, named -",
       "#include \"h.inc\"\n_INFILENAME_ _INFILETITLE_\n", "-", "shared\n- -\n"},
      {"with -o", "page\n", "- -o page.html", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string command =
        "printf '%s' '" + std::string(c.input) + "' | " + kQfc + " " + c.arguments;
    const ProgramResult r = shell("/bin/sh", {"-c", command});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(readFile(dir_ / "page.html"), "page\n");
}

}  // namespace
}  // namespace qf
