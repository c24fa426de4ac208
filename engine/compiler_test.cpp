#include "engine/compiler.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

class CompilerTest : public CompileFixture {
 protected:
  bool compileTo(const std::string& input, const std::string& output) {
    CompileRequest request;
    request.inputPath = input;
    request.outputPath = output;
    return compiler_.compileFile(request);
  }

  // Names of the files in the test's directory, for spotting leftovers.
  std::string listing() const {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names += entry.path().filename().string() + " ";
    }
    return names;
  }
};

TEST_F(CompilerTest, CharactersAreCheckedFirst) {
  struct Case {
    char directive, concat;
    const char* message;
  };
  const Case cases[] = {
      {'a', 0, "Error: Directive character 'a' mustn't be valid symbol character."},
      {'Z', 0, "Error: Directive character 'Z' mustn't be valid symbol character."},
      {'5', '_', "Error: Directive character '5' mustn't be valid symbol character."},
      {'_', 0, "Error: Directive character '_' mustn't be valid symbol character."},
      {0, 'x', "Error: Concatenation character 'x' mustn't be valid symbol character."},
  };
  for (const Case& c : cases) {
    CompileRequest request;
    request.inputPath = dir_ / "missing.src";
    request.directiveChar = c.directive;
    request.concatChar = c.concat;
    EXPECT_FALSE(compiler_.compileFile(request));
    EXPECT_EQ(failure(), std::string("None:0: ") + c.message);
  }
}

TEST_F(CompilerTest, OtherCharactersAreUsed) {
  writeFiles({{"index.src", "!define T x\n!ifdef T\nT+y\n!endif\n#define\n"}});
  CompileRequest request;
  request.inputPath = dir_ / "index.src";
  request.directiveChar = '!';
  request.concatChar = '+';
  EXPECT_TRUE(compiler_.compileFile(request)) << failure();
  EXPECT_EQ(readFile(dir_ / "index.html"), "xy\n#define\n");
}

TEST_F(CompilerTest, MissingInputCreatesNoOutput) {
  EXPECT_FALSE(compileTo(dir_ / "missing.src", ""));
  EXPECT_EQ(failure(),
            "missing.src:0: Error: Could not open input file \"" + dir_ / "missing.src" + "\".");
  EXPECT_EQ(listing(), "");
  EXPECT_FALSE(compileTo("", ""));
  EXPECT_EQ(failure(), "None:0: Error: Unknown error.");
}

TEST_F(CompilerTest, OnlyRegularFilesAreInputs) {
  ASSERT_EQ(mkdir((dir_ / "old.src").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "pipe.src").c_str(), 0644), 0);
  EXPECT_FALSE(compileTo(dir_ / "old.src", dir_ / "a.html"));
  EXPECT_EQ(failure(), "old.src:0: Error: Could not open input file \"" + dir_ / "old.src" + "\".");
  EXPECT_FALSE(compileTo(dir_ / "pipe.src", dir_ / "b.html"));
  EXPECT_EQ(failure(),
            "pipe.src:0: Error: Could not open input file \"" + dir_ / "pipe.src" + "\".");
}

TEST_F(CompilerTest, DerivedOutputAndBuiltInSymbols) {
  writeFiles({{"dir/page.src",
               "_INFILETITLE_ _OUTFILETITLE_\n_WEEKDAY_ _DAY_ _MONTH_ _YEAR_ _TIME_\n"
               "#ifdef _INFILENAME_\n_OUTFILENAME_\n#endif\n"}});
  EXPECT_TRUE(compileTo(dir_ / "dir/page.src", "")) << failure();
  EXPECT_EQ(
      readFile(dir_ / "dir/page.html"),
      "page.src page.html\nWednesday 07 January 2026 01:07 PM\n" + dir_ / "dir/page.html" + "\n");
  EXPECT_EQ(failure(), "dir/page.src:0: Success: File compiled.");
}

TEST_F(CompilerTest, RequestedDefinitionsFollowTheBuiltInOnes) {
  writeFiles({{"page.src", "_YEAR_ SITE\n#undefine _YEAR_\n_YEAR_\n"}});
  CompileRequest request;
  request.inputPath = dir_ / "page.src";
  request.definitions = {{"SITE", "Example"}, {"_YEAR_", "then"}};
  EXPECT_TRUE(compiler_.compileFile(request));
  EXPECT_EQ(readFile(dir_ / "page.html"), "then Example\n2026\n");
}

TEST_F(CompilerTest, DerivedOutputKeepsDotsInDirectories) {
  writeFiles({{"my.dir/page", "x\n"}, {"a.b.src", "y\n"}});
  EXPECT_TRUE(compileTo(dir_ / "my.dir/page", ""));
  EXPECT_EQ(readFile(dir_ / "my.dir/page.html"), "x\n");
  EXPECT_TRUE(compileTo(dir_ / "a.b.src", ""));
  EXPECT_EQ(readFile(dir_ / "a.b.html"), "y\n");
}

TEST_F(CompilerTest, NothingOfThePreviousCompileRemains) {
  writeFiles({{"a.src", "#define LEFT over\n"}, {"b.src", "LEFT\n"}});
  EXPECT_TRUE(compileTo(dir_ / "a.src", dir_ / "a.html"));
  EXPECT_TRUE(compileTo(dir_ / "b.src", dir_ / "b.html"));
  EXPECT_EQ(readFile(dir_ / "b.html"), "LEFT\n");
}

TEST_F(CompilerTest, OutputThatIsTheInputIsRefused) {
  writeFiles({{"page.src", "text\n"}});
  ASSERT_EQ(symlink((dir_ / "page.src").c_str(), (dir_ / "link.html").c_str()), 0);
  const std::string cases[] = {dir_ / "page.src", dir_ / "./page.src", dir_ / "link.html"};
  for (const std::string& output : cases) {
    EXPECT_FALSE(compileTo(dir_ / "page.src", output));
    EXPECT_EQ(failure(), "page.src:0: Error: Output file \"" + output + "\" is the input file.");
    EXPECT_EQ(readFile(dir_ / "page.src"), "text\n");
  }
}

TEST_F(CompilerTest, FailedCompileKeepsThePreviousOutput) {
  writeFiles({{"page.src", "new\n#bogus\n"}, {"page.html", "previous\n"}});
  ASSERT_EQ(chmod((dir_ / "page.html").c_str(), 0640), 0);
  EXPECT_FALSE(compileTo(dir_ / "page.src", dir_ / "page.html"));
  EXPECT_EQ(readFile(dir_ / "page.html"), "previous\n");
  EXPECT_EQ(listing().find(".tmp"), std::string::npos) << listing();

  writeFiles({{"page.src", "new\n"}});
  EXPECT_TRUE(compileTo(dir_ / "page.src", dir_ / "page.html"));
  EXPECT_EQ(readFile(dir_ / "page.html"), "new\n");
  struct stat status;
  ASSERT_EQ(stat((dir_ / "page.html").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(listing().find(".tmp"), std::string::npos) << listing();
}

TEST_F(CompilerTest, NewOutputGetsTheUmaskMode) {
  writeFiles({{"page.src", "x\n"}});
  const mode_t old = umask(027);
  const bool ok = compileTo(dir_ / "page.src", dir_ / "page.html");
  umask(old);
  ASSERT_TRUE(ok);
  struct stat status;
  ASSERT_EQ(stat((dir_ / "page.html").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

// A linked output is replaced at the link's final target, in the target's
// directory; the links stay, and a failed compile leaves the target alone.
TEST_F(CompilerTest, LinkedOutputReplacesItsFinalTarget) {
  struct Case {
    const char* what;
    const char* source;
    const char* target;  // where the link chain ends
    bool targetExists;
    bool compiles;
    const char* expected;  // the target's contents afterwards
  };
  const Case cases[] = {
      {"compiled", "through\n", "real/target.html", true, true, "through\n"},
      {"failed", "new\n#bogus\n", "real/target.html", true, false, "old\n"},
      {"dangling", "fresh\n", "real/new.html", false, true, "fresh\n"},
      {"dangling, failed", "#bogus\n", "real/new.html", false, false, "<missing>"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("page.src", c.source);
    dir.write("real/keep", "");
    if (c.targetExists) dir.write(c.target, "old\n");
    // link.html -> hop.html (relative) -> the target (absolute)
    ASSERT_EQ(symlink((dir / c.target).c_str(), (dir / "hop.html").c_str()), 0);
    ASSERT_EQ(symlink("hop.html", (dir / "link.html").c_str()), 0);
    Compiler compiler;
    CompileRequest request;
    request.inputPath = dir / "page.src";
    request.outputPath = dir / "link.html";
    EXPECT_EQ(compiler.compileFile(request), c.compiles) << c.what;
    EXPECT_EQ(readFile(dir / c.target), c.expected) << c.what;
    struct stat status;
    ASSERT_EQ(lstat((dir / "link.html").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << c.what;
    ASSERT_EQ(lstat((dir / "hop.html").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << c.what;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "real")) {
      EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << c.what;
    }
  }
}

TEST_F(CompilerTest, LongestOutputNamesCanBeWritten) {
  writeFiles({{"page.src", "long\n"}});
  for (const std::size_t length : {240u, 242u, 250u, 255u}) {
    const std::string name = std::string(length - 5, 'p') + ".html";
    EXPECT_TRUE(compileTo(dir_ / "page.src", dir_ / name)) << length << ": " << failure();
    EXPECT_EQ(readFile(dir_ / name), "long\n") << length;
    EXPECT_TRUE(compileTo(dir_ / "page.src", dir_ / name)) << length << " replaced";
  }
}

TEST_F(CompilerTest, UnopenableOutputs) {
  writeFiles({{"page.src", "x\n"}});
  ASSERT_EQ(mkdir((dir_ / "out.html").c_str(), 0755), 0);
  const std::string cases[] = {dir_ / "out.html", dir_ / "no/such/dir/page.html"};
  for (const std::string& output : cases) {
    EXPECT_FALSE(compileTo(dir_ / "page.src", output));
    EXPECT_EQ(failure(), "page.src:0: Error: Could not open output file \"" + output + "\".");
  }
}

TEST_F(CompilerTest, FullDeviceReportsAWriteFailure) {
  writeFiles({{"page.src", "x\n"}});
  const std::string full = dir_ / "full";
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a private full device here (mknod not permitted)";
  }
  EXPECT_FALSE(compileTo(dir_ / "page.src", full));
  EXPECT_EQ(failure(), "page.src:0: Error: Could not write output file \"" + full + "\".");
}

TEST_F(CompilerTest, UnwritableOutputIsRefusedForOrdinaryUsers) {
  writeFiles({{"page.src", "x\n"}, {"page.html", "old\n"}});
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod((dir_ / "page.html").c_str(), 0444), 0);
  const std::optional<bool> refused = runAsNobody([&] {
    return !compileTo(dir_ / "page.src", dir_ / "page.html") &&
           failure() ==
               "page.src:0: Error: Could not open output file \"" + dir_ / "page.html" + "\".";
  });
  if (!refused) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_TRUE(*refused);
  EXPECT_EQ(readFile(dir_ / "page.html"), "old\n");
}

TEST_F(CompilerTest, RunningOutOfMemoryFailsTheCompile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
  writeFiles({{"page.src", "first\n#include \"huge.inc\"\n"}, {"huge.inc", ""}});
  // A sparse file: one line of 512 MiB of NUL bytes, more than the child may have.
  ASSERT_EQ(truncate((dir_ / "huge.inc").c_str(), 512L << 20), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{256L << 20, 256L << 20};
    setrlimit(RLIMIT_AS, &limit);
    const bool failedCleanly = !compileTo(dir_ / "page.src", dir_ / "page.html") &&
                               failure() == "huge.inc:1: Error: Out of memory.";
    if (!failedCleanly) fprintf(stderr, "%s\n", failure().c_str());
    _exit(failedCleanly ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(pathExists(dir_ / "page.html"));
#endif
}

TEST_F(CompilerTest, CompilesIntoASink) {
  struct StringSink : ByteSink {
    std::string bytes;
    bool write(std::string_view b) override {
      bytes.append(b);
      return true;
    }
    bool flush() override { return true; }
  } sink;
  writeFiles({{"page.src", "_OUTFILENAME_ _OUTFILETITLE_\n"}});
  CompileRequest request;
  request.inputPath = dir_ / "page.src";
  EXPECT_TRUE(compiler_.compileToSink(request, "-", sink));
  EXPECT_EQ(sink.bytes, "- -\n");
  EXPECT_EQ(listing(), "page.src ");
}

TEST_F(CompilerTest, EmptyInputPathFailsWithoutAPlace) {
  EXPECT_FALSE(compiler_.compileFile(CompileRequest{}));
  EXPECT_EQ(compiler_.result().message, "Error: Unknown error.");
  EXPECT_EQ(compiler_.result().errorFileName, "None");
  EXPECT_EQ(compiler_.result().errorLine, 0);
}

}  // namespace
}  // namespace qf
