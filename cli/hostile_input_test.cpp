// qfc fed what may lie in a user's folders. Every case also checks that qfc
// ended by itself, left no temporary file, changed nothing but the outputs it
// was meant to write and kept every earlier output it did not replace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/test_util.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

using Snapshot = TreeSnapshot;

class HostileInputTest : public ::testing::Test {
 protected:
  // Runs qfc in the test directory and checks what every case must hold;
  // outputs lists the paths the run may create or change.
  // how may close descriptors, set limits or redirect standard output.
  ProgramResult qfc(const std::vector<std::string>& arguments,
                    const std::set<std::string>& outputs = {}, ProgramStart how = {}) {
    const Snapshot before = snapshotTree(dir_.path());
    ProgramStart run = qfc_.start(arguments, dir_.path(), {"SOURCE_DATE_EPOCH=0"});
    run.closedDescriptors = how.closedDescriptors;
    run.limits = how.limits;
    run.standardOutput = how.standardOutput;
    const ProgramResult result = runProgram(run);
    expectOnlyOutputsChanged(before, outputs);
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << "exit " << result.exitCode << "\n"
                                                              << result.err;
    return result;
  }

  void expectOnlyOutputsChanged(const Snapshot& before, const std::set<std::string>& outputs) {
    const Snapshot after = snapshotTree(dir_.path());
    for (const auto& [path, what] : after) {
      EXPECT_FALSE(isTemporaryOutput(path)) << "left behind: " << path;
      const auto earlier = before.find(path);
      if (outputs.count(path) == 0 && (earlier == before.end() || earlier->second != what)) {
        ADD_FAILURE() << "written outside the outputs: " << path;
      }
    }
    for (const auto& [path, what] : before) {
      if (after.count(path) == 0) ADD_FAILURE() << "lost: " << path;
    }
  }

  TempDir dir_;
  QfcProcess qfc_;
};

TEST_F(HostileInputTest, EmptyAndRandomFilesEndNormally) {
  std::mt19937 random(7);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  dir_.write("empty.src", "");
  dir_.write("noise.src", noise);
  dir_.write("noise.html", "earlier\n");

  const ProgramResult r = qfc({"empty.src", "noise.src"}, {"empty.html", "noise.html"});
  EXPECT_EQ(readFile(dir_ / "empty.html"), "");
  if (r.exitCode == 1) {
    EXPECT_TRUE(r.err.starts_with("noise.src:")) << r.err;
    EXPECT_EQ(readFile(dir_ / "noise.html"), "earlier\n");
  } else {
    EXPECT_NE(readFile(dir_ / "noise.html"), "earlier\n");
  }
}

TEST_F(HostileInputTest, FiftyMegabyteLineGetsItsLineEnd) {
  std::string line;
  line.reserve(50u << 20);
  while (line.size() < (50u << 20)) line += "lorem ipsum dolor sit amet, ";
  dir_.write("long.src", line);

  const ProgramResult r = qfc({"long.src"}, {"long.html"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string output = readFile(dir_ / "long.html");
  EXPECT_EQ(output.size(), line.size() + 1);
  EXPECT_TRUE(output == line + "\n");
}

TEST_F(HostileInputTest, MillionDefinitionsOfOneNameAllKilled) {
  std::string source;
  for (int i = 0; i < 1000000; ++i) source += "#define X " + std::to_string(i) + "\n";
  source += "X\n#killdefine X\nX\n";
  dir_.write("page.src", source);

  const ProgramResult r = qfc({"page.src"}, {"page.html"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "page.html"), "999999\nX\n");
}

TEST_F(HostileInputTest, MillionDistinctNamesUsedInText) {
  constexpr int kNames = 1000000;
  constexpr int kPerLine = 1000;
  std::string source;
  for (int i = 0; i < kNames; ++i)
    source += "#define N" + std::to_string(i) + " v" + std::to_string(i) + "\n";
  std::string expected;
  for (int i = 0; i < kNames; ++i) {
    const char end = i % kPerLine == kPerLine - 1 ? '\n' : ' ';
    source += "N" + std::to_string(i) + end;
    expected += "v" + std::to_string(i) + end;
  }
  dir_.write("page.src", source);

  const ProgramResult r = qfc({"page.src"}, {"page.html"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(readFile(dir_ / "page.html") == expected);
}

TEST_F(HostileInputTest, DeepestConditionalsInDeepestIncludes) {
  constexpr int kFiles = 64;
  constexpr int kConditionals = 99;
  for (int i = 0; i < kFiles; ++i) {
    std::string text;
    for (int c = 0; c < kConditionals; ++c)
      text += c % 2 ? "#ifdef _INFILENAME_\n" : "#ifndef NOPE\n";
    text += "in " + std::to_string(i) + "\n";
    if (i + 1 < kFiles) text += "#include \"f" + std::to_string(i + 1) + ".inc\"\n";
    for (int c = 0; c < kConditionals; ++c) text += "#endif\n";
    dir_.write(i == 0 ? "page.src" : "f" + std::to_string(i) + ".inc", text);
  }
  std::string expected;
  for (int i = 0; i < kFiles; ++i) expected += "in " + std::to_string(i) + "\n";

  const ProgramResult r = qfc({"page.src"}, {"page.html"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir_ / "page.html"), expected);
}

TEST_F(HostileInputTest, IncludeCycleThroughDifferentlyWrittenPaths) {
  dir_.write("page.src", "top\n#include \"./x.inc\"\n");
  dir_.write("x.inc", "#include \"a/../x.inc\"\n");
  dir_.write("a/keep", "");
  dir_.write("page.html", "earlier\n");

  // The input is the first open file, ./x.inc the second, and each further
  // one adds "a/../"; the 64th may open no more.
  std::string sixtyFourth = "./";
  for (int i = 0; i < 62; ++i) sixtyFourth += "a/../";
  sixtyFourth += "x.inc";
  const ProgramResult r = qfc({"page.src"});
  EXPECT_EQ(r.exitCode, 1);
  // Preceded by the 63 files that led there, the input last.
  const std::string failure = sixtyFourth + ":1: Error: Max nesting of #includes exceeded.\n";
  ASSERT_GE(r.err.size(), failure.size());
  EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 64);
  EXPECT_NE(r.err.find("                 from page.src:2:\n"), std::string::npos);
  EXPECT_EQ(readFile(dir_ / "page.html"), "earlier\n");
}

TEST_F(HostileInputTest, SelfMultiplyingDefinitionStopsWithBoundedMemory) {
  dir_.write("page.src", "#define A A A A A A A A A A A\nA\n");
  dir_.write("page.html", "earlier\n");

  const ProgramResult r = qfc({"page.src"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "page.src:2: Error: Line too long after substitution.\n");
  EXPECT_EQ(readFile(dir_ / "page.html"), "earlier\n");
  // The line may grow by 16 MiB; a pass holds it twice over at most.
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "peak kilobytes of qfc";
}

TEST_F(HostileInputTest, LinkLoopInTreeCompilesEachFileOnce) {
  dir_.write("site/a.src", "a\n");
  dir_.write("site/sub/b.src", "b\n");
  fs::create_directory_symlink("..", dir_ / "site/sub/up");
  fs::create_directory_symlink(".", dir_ / "site/sub/here");

  const ProgramResult r = qfc({"--all", "site", "-r", "--out-dir", "out"},
                              {"out/", "out/a.html", "out/sub/", "out/sub/b.html"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir_ / "out/a.html"), "a\n");
  EXPECT_EQ(readFile(dir_ / "out/sub/b.html"), "b\n");
}

TEST_F(HostileInputTest, OnlyWhatBelongsToTheSiteIsPublished) {
  dir_.write("secret.txt", "secret\n");
  dir_.write("private/key.pem", "key\n");
  dir_.write("site/index.src", "home\n");
  dir_.write("site/style.css", "body{}\n");
  for (const char* leftover :
       {"index.src~", "style.css~", "#index.src#", ".#style.css", "4913", ".index.src.swp",
        "img/big.swp", "img/big.swx", "notes.bck", ".env", ".git/config"}) {
    dir_.write(std::string("site/") + leftover, "leftover\n");
  }
  fs::create_symlink("../secret.txt", dir_ / "site/secret.txt");
  fs::create_directory_symlink("../private", dir_ / "site/keys");
  fs::create_symlink("/proc/self/environ", dir_ / "site/environ");
  fs::create_symlink("style.css", dir_ / "site/alias.css");
  fs::create_directory_symlink("..", dir_ / "site/img/up");
  ASSERT_EQ(mkfifo((dir_ / "site/pipe.css").c_str(), 0600), 0);
  // Reading this device would never end; made only where the system lets us.
  mknod((dir_ / "site/zero.bin").c_str(), S_IFCHR | 0600, makedev(1, 5));

  const ProgramResult r = qfc({"--all", "site", "-r", "--out-dir", "out", "--no-state"},
                              {"out/", "out/index.html", "out/style.css", "out/alias.css"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "qfc: warning: site/environ: link leads outside site; not published\n"
            "qfc: warning: site/keys: link leads outside site; not published\n"
            "qfc: warning: site/secret.txt: link leads outside site; not published\n");
  EXPECT_EQ(readFile(dir_ / "out/alias.css"), "body{}\n");
}

// Writes to a FIFO block until someone reads, which holds qfc inside the
// first file's compile while the test deletes a later source.
TEST_F(HostileInputTest, SourceDeletedDuringRunIsReportedAndTheRestCompiled) {
  const std::string firstOutput(256 * 1024, 'x');
  dir_.write("site/a.src", firstOutput);  // more than a pipe holds
  dir_.write("site/b.src", "b\n");
  dir_.write("site/c.src", "c\n");
  dir_.write("site/c.html", "earlier\n");
  ASSERT_EQ(mkfifo((dir_ / "site/a.html").c_str(), 0600), 0);

  const Snapshot before = snapshotTree(dir_.path());
  ProgramResult r;
  std::thread run([&] { r = qfc_.run({"--all", "site", "-j", "1"}, dir_.path()); });
  const int fifo = open((dir_ / "site/a.html").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  pollfd ready{fifo, POLLIN, 0};
  const bool writing = poll(&ready, 1, 60000) == 1;  // a guard against a hang only
  if (writing) std::filesystem::remove(dir_ / "site/c.src");
  fcntl(fifo, F_SETFL, 0);
  std::string received;
  char buffer[65536];
  for (long n; writing && (n = read(fifo, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
  close(fifo);
  run.join();

  ASSERT_TRUE(writing) << r.err;
  EXPECT_TRUE(received == firstOutput + "\n") << received.size() << " bytes";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "site/c.src:0: Error: Could not open input file \"site/c.src\".\n");
  EXPECT_EQ(readFile(dir_ / "site/b.html"), "b\n");
  EXPECT_EQ(readFile(dir_ / "site/c.html"), "earlier\n");
  Snapshot expected = before;
  expected.erase("site/c.src");
  expected["site/b.html"] = readFile(dir_ / "site/b.html");
  EXPECT_EQ(snapshotTree(dir_.path()), expected);
}

// Runs qfc as "nobody" on a tree that nobody owns; nullopt when the tree
// cannot be given to nobody or privileges cannot be dropped here.
std::optional<ProgramResult> qfcAsNobody(const TempDir& dir,
                                         const std::vector<std::string>& arguments) {
  const QfcProcess qfc;
  bool owned = chown(dir.path().c_str(), 65534, 65534) == 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    owned = lchown(entry.path().c_str(), 65534, 65534) == 0 && owned;
  }
  owned = chown(qfc.cacheHome().c_str(), 65534, 65534) == 0 && owned;
  if (!owned) return std::nullopt;
  const std::optional<std::string> text = textFromChild(becomeNobody, [&] {
    const ProgramResult r = qfc.run(arguments, dir.path());
    return std::to_string(r.exitCode) + "\n" + r.err;
  });
  if (!text) return std::nullopt;
  ProgramResult r;
  const std::size_t lineEnd = text->find('\n');
  r.exitCode = std::stoi(text->substr(0, lineEnd));
  r.err = text->substr(lineEnd + 1);
  return r;
}

TEST_F(HostileInputTest, LockedFilesAndDirectoriesFailAndChangeNothing) {
  struct Case {
    const char* what;
    const char* locked;  // given mode
    std::vector<std::string> arguments;
    const char* err;
    mode_t mode = 0;
  };
  const Case cases[] = {
      {"source",
       "site/page.src",
       {"site/page.src"},
       "site/page.src:0: Error: Could not open input file \"site/page.src\".\n"},
      {"include",
       "site/part.inc",
       {"site/uses.src"},
       "site/uses.src:1: Error: #include file \"part.inc\" not found.\n"},
      {"directory",
       "site",
       {"--all", "site", "-r"},
       "site: Can't find any .src files in directory!\n"},
      {"read-only output directory",
       "site",
       {"--all", "site"},
       "site/new.src:0: Error: Could not open output file \"site/new.html\".\n"
       "site/page.src:0: Error: Could not open output file \"site/page.html\".\n"
       "site/uses.src:0: Error: Could not open output file \"site/uses.html\".\n",
       0555},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("site/page.src", "page\n");
    dir.write("site/page.html", "earlier\n");
    dir.write("site/uses.src", "#include \"part.inc\"\n");
    dir.write("site/uses.html", "earlier\n");
    dir.write("site/part.inc", "part\n");
    dir.write("site/new.src", "new\n");
    const Snapshot before = snapshotTree(dir.path());
    chmod((dir / c.locked).c_str(), c.mode);
    const std::optional<ProgramResult> r = qfcAsNobody(dir, c.arguments);
    if (!r) GTEST_SKIP() << "cannot run as nobody here, and permissions do not bind root";
    chmod((dir / c.locked).c_str(), 0755);
    EXPECT_EQ(r->exitCode, 1) << c.what;
    EXPECT_EQ(r->err, c.err) << c.what;
    EXPECT_EQ(snapshotTree(dir.path()), before) << c.what;
  }
}

TEST_F(HostileInputTest, UnreadableSubDirectoriesAreReportedAndTheRestCompiled) {
  dir_.write("site/a.src", "a\n");
  dir_.write("site/locked/hidden.src", "hidden\n");
  dir_.write("site/open/deeper/locked/hidden.src", "hidden\n");
  dir_.write("site/open/b.src", "b\n");
  chmod((dir_ / "site/locked").c_str(), 0);
  chmod((dir_ / "site/open/deeper/locked").c_str(), 0);
  const std::optional<ProgramResult> r = qfcAsNobody(dir_, {"--all", "site", "-r"});
  if (!r) GTEST_SKIP() << "cannot run as nobody here, and permissions do not bind root";
  EXPECT_EQ(r->exitCode, 1);
  EXPECT_EQ(r->err,
            "site/locked:0: Error: Could not read directory \"site/locked\".\n"
            "site/open/deeper/locked:0: Error: Could not read directory "
            "\"site/open/deeper/locked\".\n");
  EXPECT_EQ(readFile(dir_ / "site/a.html"), "a\n");
  EXPECT_EQ(readFile(dir_ / "site/open/b.html"), "b\n");
}

TEST_F(HostileInputTest, FullDeviceAsOutputFails) {
  dir_.write("page.src", "page\n");
  if (mknod((dir_ / "full").c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a device node here";
  }
  const ProgramResult r = qfc({"page.src", "-o", "full"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "page.src:0: Error: Could not write output file \"full\".\n");
}

TEST_F(HostileInputTest, FullDiskKeepsEarlierOutput) {
  dir_.write("page.src", std::string(512 * 1024, 'x') + "\n");
  fs::create_directory(dir_ / "disk");
  const std::string disk = dir_ / "disk";
  const auto mountSmallTmpfs = [&] {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0;
  };
  // Everything on the tmpfs must be looked at before the namespace goes away.
  const std::optional<std::string> seen = textFromChild(mountSmallTmpfs, [&]() -> std::string {
    std::FILE* earlier = std::fopen((disk + "/page.html").c_str(), "w");
    if (!earlier || std::fputs("earlier\n", earlier) < 0 || std::fclose(earlier) != 0) return "";
    const ProgramResult r = qfc_.run({"page.src", "-o", "disk/page.html"}, dir_.path());
    std::string text = std::to_string(r.exitCode) + "\n" + r.err;
    for (const auto& entry : fs::directory_iterator(disk)) {
      text += entry.path().filename().string() + " = " + readFile(entry.path()) + "\n";
    }
    return text;
  });
  if (!seen) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  EXPECT_EQ(*seen,
            "1\npage.src:0: Error: Could not write output file \"disk/page.html\".\n"
            "page.html = earlier\n\n");
}

TEST_F(HostileInputTest, FifoAndDeviceIncludesAreNotFound) {
  dir_.write("fifo.src", "#include \"pipe.inc\"\n");
  dir_.write("zero.src", "#include \"zero.inc\"\n");
  dir_.write("fifo.html", "earlier\n");
  ASSERT_EQ(mkfifo((dir_ / "pipe.inc").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir_ / "pipe.src").c_str(), 0600), 0);
  const bool haveZero = mknod((dir_ / "zero.inc").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;

  const ProgramResult r = qfc({"fifo.src", "pipe.src", "zero.src"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "fifo.src:1: Error: #include file \"pipe.inc\" not found.\n"
            "pipe.src:0: Error: Could not open input file \"pipe.src\".\n"
            "zero.src:1: Error: #include file \"zero.inc\" not found.\n");
  EXPECT_EQ(readFile(dir_ / "fifo.html"), "earlier\n");
  if (!haveZero) GTEST_SKIP() << "cannot make a device node here; the FIFO cases passed";
}

// With few descriptors left, opening an include fails for want of them; that
// is a failed read, never a missing file.
TEST_F(HostileInputTest, RunningOutOfDescriptorsIsNotAMissingFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own checks need free descriptors";
#endif
  dir_.write("inc.src", "a\n#include \"i.inc\"\n");
  dir_.write("ifx.src", "a\n#ifexists \"i.inc\"\nb\n#endif\n");
  dir_.write("info.src", "a\n#fileinfo \"i.inc\"\n");
  dir_.write("i.inc", "i\n");
  struct Case {
    const char* source;
    const char* output;
    const char* readFailure;
  };
  const Case cases[] = {
      {"inc.src", "inc.html", "inc.src:2: Error: Could not read file \"i.inc\".\n"},
      {"ifx.src", "ifx.html", "ifx.src:2: Error: Could not read file \"i.inc\".\n"},
      {"info.src", "info.html", "info.src:2: Error: Could not read file \"i.inc\".\n"},
  };
  for (const Case& c : cases) {
    bool readFailureSeen = false;
    for (long long descriptors = 4; descriptors <= 8; ++descriptors) {
      const ProgramResult r =
          qfc({c.source}, {c.output}, {.limits = {{RLIMIT_NOFILE, descriptors}}});
      EXPECT_EQ(r.err.find("not found"), std::string::npos) << r.err;
      readFailureSeen = readFailureSeen || r.err == c.readFailure;
    }
    EXPECT_TRUE(readFailureSeen) << c.source;
  }
}

// Started with standard input and error closed, files opened later could take
// their numbers, and other workers' failure lines would land inside pages.
TEST_F(HostileInputTest, ClosedStandardErrorNeverReachesAPage) {
  std::set<std::string> outputs;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "s/p" + std::to_string(10000 + i);
    dir_.write(name + ".src", i % 2 ? "ok\n#include \"missing.inc\"\n" : "ok\n");
    if (i % 2 == 0) outputs.insert(name + ".html");
  }
  const ProgramResult r =
      qfc({"--all", "s", "-q", "-j", "4"}, outputs, {.closedDescriptors = {0, 2}});
  EXPECT_EQ(r.exitCode, 1);
  for (const std::string& output : outputs) {
    ASSERT_EQ(readFile(dir_ / output), "ok\n") << output;
  }
}

// Each worker thread needs a stack; with little address space most cannot
// start, and the run goes on with those that did.
TEST_F(HostileInputTest, WorkersThatCannotStartAreDoneWithout) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run with a small address space";
#endif
  std::set<std::string> outputs;
  for (int i = 0; i < 200; ++i) {
    dir_.write("s/p" + std::to_string(i) + ".src", "page\n");
    outputs.insert("s/p" + std::to_string(i) + ".html");
  }
  const ProgramResult r =
      qfc({"--all", "s", "-j", "1024"}, outputs, {.limits = {{RLIMIT_AS, 512LL << 20}}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string& output : outputs) EXPECT_EQ(readFile(dir_ / output), "page\n") << output;
}

TEST_F(HostileInputTest, FailedWriteToStandardOutputIsReported) {
  dir_.write("a.src", "a\n");
  const bool haveFull = mknod((dir_ / "full").c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
  struct Case {
    const char* what;
    ProgramStart how;
  };
  std::vector<Case> cases = {{"closed", {.closedDescriptors = {1}}}};
  if (haveFull) cases.push_back({"full device", {.standardOutput = dir_ / "full"}});
  for (const Case& c : cases) {
    const ProgramResult r = qfc({"a.src", "-o", "-"}, {}, c.how);
    EXPECT_EQ(r.exitCode, 1) << c.what;
    EXPECT_EQ(r.err, "a.src:0: Error: Could not write output file \"-\".\n") << c.what;
  }
  if (!haveFull) GTEST_SKIP() << "cannot make a device node here; the closed case passed";
}

}  // namespace
}  // namespace qf
