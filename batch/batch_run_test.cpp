#include "batch/batch_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

using Events = std::vector<std::string>;

// A front end that records what the run shows, one event per line:
// "status: text", "bar: n", "note: text", "failure: file line n | message |
// OK" (or "ARI"); and the failures as given.
class ScriptedFrontEnd : public BatchFrontEnd {
 public:
  void setStatus(std::string_view text) override {
    events.push_back("status: " + std::string(text));
    if (onStatus) onStatus(text);
  }
  void setProgress(int percent) override { events.push_back("bar: " + std::to_string(percent)); }
  void showNote(std::string_view text) override {
    events.push_back("note: " + std::string(text));
    if (onMessage) onMessage();
  }
  MessageAnswer showFailure(const CompileResult& failure, MessageButtons buttons) override {
    events.push_back(
        failureEvent(failure.errorFileName + " line " + std::to_string(failure.errorLine),
                     failure.message, buttons == MessageButtons::kOk ? "OK" : "ARI"));
    failures.push_back(failure);
    if (onMessage) onMessage();
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected failure box: " << failure.message;
      return MessageAnswer::kAbort;
    }
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<PickedFile> chooseSourceFile() override {
    if (pickedPath.empty()) return std::nullopt;
    return PickedFile{pickedPath, pickedName};
  }

  static std::string failureEvent(std::string_view place, std::string_view message,
                                  std::string_view buttons) {
    return "failure: " + std::string(place) + " | " + std::string(message) + " | " +
           std::string(buttons);
  }

  Events events;
  std::vector<CompileResult> failures;
  std::deque<MessageAnswer> answers;
  std::function<void(std::string_view)> onStatus;
  std::function<void()> onMessage;
  std::string pickedPath;  // empty: the picker is cancelled
  std::string pickedName;
};

constexpr const char* kGood = "Hello\n";
constexpr const char* kBogus = "#bogus\n";
constexpr const char* kBogusMessage = "Error: Unknown directive after #.";

// A source tree under site/ with its options and a run over it.
struct BatchFixture {
  BatchFixture() : run(frontEnd) { options.sourceDirectory = dir / "site/"; }

  std::string source(std::string_view relative) const {
    return dir / ("site/" + std::string(relative));
  }
  void write(std::string_view relative, std::string_view text) const {
    dir.write("site/" + std::string(relative), text);
  }

  TempDir dir;
  BatchOptions options;
  ScriptedFrontEnd frontEnd;
  BatchRun run;
};

std::string failure(std::string_view place, std::string_view message, std::string_view buttons) {
  return ScriptedFrontEnd::failureEvent(place, message, buttons);
}

std::string note(std::string_view text) { return "note: " + std::string(text); }

struct CheckCase {
  const char* name;
  const char* sourceDirectory;  // relative to the fixture's directory; "/" and "" as they are
  bool useOutputDir;
  const char* outputDirectory;
  const char* message;
};

TEST(CompileAll, ChecksComeBeforeAnyWork) {
  const CheckCase cases[] = {
      {"no source directory", "", 0, "", "You haven't specified a directory to search for files!"},
      {"one character", "/", 0, "", "You haven't specified a directory to search for files!"},
      {"no output directory", "site/", 1, "",
       "You must specify an output directory, or turn off that option."},
      {"one-character output directory", "site/", 1, "/",
       "You must specify an output directory, or turn off that option."},
      {"no source files", "empty/", 0, "", "Can't find any .src files in directory!"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    BatchFixture f;
    f.write("page.src", kGood);
    f.dir.write("empty/page.txt", "");
    const std::string sourceDirectory = c.sourceDirectory;
    f.options.sourceDirectory =
        sourceDirectory.size() < 2 ? sourceDirectory : f.dir / sourceDirectory;
    f.options.useOutputDirectory = c.useOutputDir;
    f.options.outputDirectory = c.outputDirectory;
    f.frontEnd.answers = {MessageAnswer::kOk};

    f.run.compileAll(f.options);

    EXPECT_EQ(f.frontEnd.events, (Events{note(c.message)}));
    EXPECT_TRUE(f.run.plan().empty());
    EXPECT_FALSE(pathExists(f.source("page.html")));
  }
}

TEST(CompileAll, IgnoredFailureSkipsTheFile) {
  BatchFixture f;
  f.write("a.src", kGood);
  f.write("b.src", kBogus);
  f.write("c.src", kGood);
  f.frontEnd.answers = {MessageAnswer::kIgnore};

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling files...", "bar: 0", "status: Compiling a.src", "bar: 0",
                    "bar: 33", "status: Compiling b.src", "bar: 33",
                    failure(f.source("b.src") + " line 1", kBogusMessage, "ARI"),
                    "status: Compiling c.src", "bar: 33", "bar: 66",
                    "status: Successfully Compiled 2 Files", "bar: 100"}));
  EXPECT_EQ(readFile(f.source("a.html")), kGood);
  EXPECT_EQ(readFile(f.source("c.html")), kGood);
  EXPECT_FALSE(pathExists(f.source("b.html")));
}

TEST(CompileAll, AbortStopsAtOnceWithTheSummary) {
  BatchFixture f;
  f.write("a.src", kBogus);
  f.write("b.src", kGood);
  f.frontEnd.answers = {MessageAnswer::kAbort};

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling files...", "bar: 0", "status: Compiling a.src", "bar: 0",
                    failure(f.source("a.src") + " line 1", kBogusMessage, "ARI"),
                    "status: Successfully Compiled 0 Files", "bar: 100"}));
  EXPECT_FALSE(pathExists(f.source("b.html")));
}

TEST(CompileAll, RetryCompilesTheFixedFileOnce) {
  BatchFixture f;
  f.write("a.src", kBogus);
  f.frontEnd.answers = {MessageAnswer::kRetry};
  f.frontEnd.onMessage = [&f] { f.write("a.src", kGood); };

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling files...", "bar: 0", "status: Compiling a.src", "bar: 0",
                    failure(f.source("a.src") + " line 1", kBogusMessage, "ARI"),
                    "status: Compiling a.src", "bar: 0", "bar: 100",
                    "status: Successfully Compiled 1 Files", "bar: 100"}));
  EXPECT_TRUE(pathExists(f.source("a.html")));
}

TEST(CompileAll, FileVanishingDuringTheRunIsReportedAsAFailure) {
  BatchFixture f;
  f.write("a.src", kGood);
  f.write("b.src", kGood);
  const std::string doomed = f.source("b.src");
  f.frontEnd.onStatus = [&doomed](std::string_view text) {
    if (text == "Compiling a.src") ::unlink(doomed.c_str());
  };
  f.frontEnd.answers = {MessageAnswer::kIgnore};

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling files...", "bar: 0", "status: Compiling a.src", "bar: 0",
                    "bar: 50", "status: Compiling b.src", "bar: 50",
                    failure(doomed + " line 0",
                            "Error: Could not open input file \"" + doomed + "\".", "ARI"),
                    "status: Successfully Compiled 1 Files", "bar: 100"}));
}

TEST(CompileAll, OutputLandsBesideSourcesWhenOutputDirectoryIsOff) {
  BatchFixture f;
  f.write("a.src", kGood);
  f.write("sub/b.src", kGood);
  f.dir.write("out/keep", "");
  f.options.outputDirectory = f.dir / "out/";
  f.options.recursive = true;

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events.back(), "bar: 100");
  EXPECT_TRUE(pathExists(f.source("a.html")));
  EXPECT_TRUE(pathExists(f.source("sub/b.html")));
  EXPECT_FALSE(pathExists(f.dir / "out/a.html"));
  EXPECT_FALSE(pathExists(f.dir / "out/sub"));
}

TEST(CompileAll, MissingOutputSubDirectoriesAreMade) {
  BatchFixture f;
  f.write("top.src", kGood);
  f.write("sub/deeper/page.src", kGood);
  f.dir.write("out/keep", "");
  f.options.useOutputDirectory = true;
  f.options.outputDirectory = f.dir / "out/";
  f.options.recursive = true;
  f.options.outputExtension = ".htm";

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events.end()[-2], "status: Successfully Compiled 2 Files");
  EXPECT_TRUE(pathExists(f.dir / "out/top.htm"));
  EXPECT_TRUE(pathExists(f.dir / "out/sub/deeper/page.htm"));
  EXPECT_FALSE(pathExists(f.source("top.htm")));
}

TEST(CompileAll, OutputSubDirectoryThatCannotBeMadeFailsTheFile) {
  BatchFixture f;
  f.write("sub/page.src", kGood);
  f.dir.write("out/sub", "a file where the directory should be");
  f.options.useOutputDirectory = true;
  f.options.outputDirectory = f.dir / "out/";
  f.options.recursive = true;
  f.frontEnd.answers = {MessageAnswer::kIgnore};

  f.run.compileAll(f.options);

  const std::string output = f.dir / "out/sub/page.html";
  EXPECT_EQ(
      f.frontEnd.events,
      (Events{"status: Compiling files...", "bar: 0", "status: Compiling sub/page.src", "bar: 0",
              failure(f.source("sub/page.src") + " line 0",
                      "Error: Could not open output file \"" + output + "\".", "ARI"),
              "status: Successfully Compiled 0 Files", "bar: 100"}));
}

TEST(CompileAll, OutputThatWouldReplaceItsSourceIsRefused) {
  struct Case {
    const char* name;
    bool useOutputDir;
    const char* outputDirectory;  // relative to the fixture's directory
  };
  const Case cases[] = {
      {"beside the source", 0, ""},
      {"output directory linked to the source directory", 1, "alias/"},
      {"output directory spelled differently", 1, "site//"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BatchFixture f;
    f.write("page.src", kGood);
    ASSERT_EQ(symlink("site", (f.dir / "alias").c_str()), 0);
    f.options.outputExtension = ".src";
    f.options.useOutputDirectory = c.useOutputDir;
    f.options.outputDirectory = f.dir / c.outputDirectory;
    f.frontEnd.answers = {MessageAnswer::kIgnore};

    f.run.compileAll(f.options);

    const std::string input = f.source("page.src");
    const std::string output = outputPathFor(f.options, "page.src");
    EXPECT_EQ(
        f.frontEnd.events,
        (Events{"status: Compiling files...", "bar: 0", "status: Compiling page.src", "bar: 0",
                failure(input + " line 0",
                        "Error: Output file \"" + output + "\" is the input file.", "ARI"),
                "status: Successfully Compiled 0 Files", "bar: 100"}));
    EXPECT_EQ(readFile(input), kGood);
  }
}

TEST(CompileAll, IncludeDirectoryReachesTheCompiler) {
  BatchFixture f;
  f.write("page.src", "#include \"common.inc\"\n");
  f.dir.write("inc/common.inc", "shared\n");
  f.options.includeDirectory = f.dir / "inc/";

  f.run.compileAll(f.options);

  EXPECT_EQ(f.frontEnd.events.end()[-2], "status: Successfully Compiled 1 Files");
  EXPECT_EQ(readFile(f.source("page.html")), "shared\n");
}

TEST(CompileAll, FailureInAnIncludedFileCarriesItsIncludeChain) {
  BatchFixture f;
  f.write("page.src", "one\n#include \"outer.inc\"\n");
  f.write("outer.inc", "#include \"inner.inc\"\n");
  f.write("inner.inc", kBogus);
  f.frontEnd.answers = {MessageAnswer::kIgnore};

  f.run.compileAll(f.options);

  ASSERT_EQ(f.frontEnd.failures.size(), 1u);
  const CompileResult& failure = f.frontEnd.failures[0];
  EXPECT_EQ(failure.errorFileName, f.source("inner.inc"));
  EXPECT_EQ(failure.errorLine, 1);
  ASSERT_EQ(failure.includedFrom.size(), 2u);
  EXPECT_EQ(failure.includedFrom[0].path, f.source("outer.inc"));
  EXPECT_EQ(failure.includedFrom[0].line, 1);
  EXPECT_EQ(failure.includedFrom[1].path, f.source("page.src"));
  EXPECT_EQ(failure.includedFrom[1].line, 2);
}

TEST(CompileSingle, WritesBesideTheSourceWithTheOutputExtension) {
  BatchFixture f;
  f.write("page.src", kGood);
  f.dir.write("out/keep", "");
  f.options.useOutputDirectory = true;
  f.options.outputDirectory = f.dir / "out/";
  f.options.outputExtension = ".htm";
  f.frontEnd.pickedPath = f.source("page.src");
  f.frontEnd.pickedName = "page.src";

  f.run.compileSingle(f.options);

  EXPECT_EQ(f.frontEnd.events, (Events{"status: Compiling page.src", "bar: 0",
                                       "status: Successfully Compiled page.src", "bar: 100"}));
  EXPECT_TRUE(pathExists(f.source("page.htm")));
  EXPECT_FALSE(pathExists(f.dir / "out/page.htm"));
}

TEST(CompileSingle, FailureShowsAnOkBoxAndLeavesTheStatus) {
  BatchFixture f;
  f.write("bad.src", kBogus);
  f.frontEnd.pickedPath = f.source("bad.src");
  f.frontEnd.pickedName = "bad.src";
  f.frontEnd.answers = {MessageAnswer::kOk};

  f.run.compileSingle(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling bad.src", "bar: 0",
                    failure(f.source("bad.src") + " line 1", kBogusMessage, "OK")}));
}

TEST(CompileSingle, OutputThatWouldReplaceItsSourceIsRefused) {
  BatchFixture f;
  f.write("page.src", kGood);
  f.options.outputExtension = ".src";
  const std::string input = f.source("page.src");
  f.frontEnd.pickedPath = input;
  f.frontEnd.pickedName = "page.src";
  f.frontEnd.answers = {MessageAnswer::kOk};

  f.run.compileSingle(f.options);

  EXPECT_EQ(f.frontEnd.events,
            (Events{"status: Compiling page.src", "bar: 0",
                    failure(input + " line 0",
                            "Error: Output file \"" + input + "\" is the input file.", "OK")}));
  EXPECT_EQ(readFile(input), kGood);
}

TEST(CompileSingle, CancelledPickerDoesNothing) {
  BatchFixture f;
  f.run.compileSingle(f.options);
  EXPECT_TRUE(f.frontEnd.events.empty());
}

TEST(ShowProgress, ScalesToPercentWithTotalAtLeastOne) {
  struct Case {
    std::size_t position, total;
    int percent;
  };
  const Case cases[] = {{0, 0, 0},
                        {2, 3, 66},
                        {1, 3, 33},
                        {1, 1, 100},
                        {1, 0, 100},
                        {3, 3, 100},
                        {50000000, 100000000, 50},
                        {3000000000, 6000000000, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + "/" + std::to_string(c.total));
    ScriptedFrontEnd frontEnd;
    showProgress(frontEnd, {}, c.position, c.total);
    EXPECT_EQ(frontEnd.events, (Events{"bar: " + std::to_string(c.percent)}));
  }
  ScriptedFrontEnd frontEnd;
  showProgress(frontEnd, "text", 1, 2);
  EXPECT_EQ(frontEnd.events, (Events{"status: text", "bar: 50"}));
}

TEST(NormalizeOutputExtension, KeepsALeadingDotAndADefault) {
  struct Case {
    const char* typed;
    const char* normalized;
  };
  const Case cases[] = {{"htm", ".htm"}, {"x", ".x"},  {".txt", ".txt"}, {"", ".html"},
                        {".", ".html"},  {"..", ".."}, {"a.b", ".a.b"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(normalizeOutputExtension(c.typed), c.normalized);
  }
}

TEST(OutputPathFor, ReplacesTheExtensionUnderTheChosenDirectory) {
  struct Case {
    bool useOutputDir;
    const char* item;
    const char* path;
  };
  const Case cases[] = {
      {0, "page.src", "src.d/page.html"},
      {1, "page.src", "out.d/page.html"},
      {1, "sub/deeper/page.src", "out.d/sub/deeper/page.html"},
      {0, "a.b.src", "src.d/a.b.html"},
      {0, "noext", "src.d/noext.html"},
      {0, "v1.0/noext", "src.d/v1.0/noext.html"},
      {0, "x.y\\z.src", "src.d/x.y\\z.html"},
      {0, "x.y\\z", "src.d/x.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    BatchOptions options;
    options.sourceDirectory = "src.d/";
    options.outputDirectory = "out.d/";
    options.useOutputDirectory = c.useOutputDir;
    EXPECT_EQ(outputPathFor(options, c.item), c.path);
  }
}

}  // namespace
}  // namespace qf
