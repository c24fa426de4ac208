// qfc's dependency files as make and ninja read them: awkward file names,
// --dep-dir, and the manual's own examples, run by the real tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "base/test_util.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

const std::string& kQfc = qfcProgram();
const char kMake[] = "/usr/bin/make";
const char kNinja[] = "/usr/bin/ninja";

// The lines "QFC target" that a rule's command printed.
std::vector<std::string> builtTargets(const std::string& out) {
  std::vector<std::string> built;
  const std::string text = "\n" + out;
  for (std::size_t at = 0; (at = text.find("\nQFC ", at)) != std::string::npos; at += 5) {
    built.push_back(text.substr(at + 5, text.find('\n', at + 5) - at - 5));
  }
  return built;
}

// Makes path look changed to a tool that goes by modification times.
void touchLater(const std::string& path) {
  ASSERT_TRUE(setModifiedTime(path, fileClockNs() + 10'000'000'000LL)) << path;
}

struct Tool {
  const char* name;
  const char* program;
  const char* file;  // the build file, written into the directory
  const char* text;
};

// Each runs `qfc -MD -MP -I "$QF_INC" -o out/page.html page.src`, echoing
// "QFC out/page.html". The page goes to a directory of its own: the include's
// search first misses in the current directory, which the rule lists.
const Tool kTools[] = {
    {"make", kMake, "Makefile",
     "all: out/page.html\n"
     "out/page.html: page.src\n\t@echo QFC $@\n\t@mkdir -p out\n"
     "\t@\"$$QFC\" -MD -MP -I \"$$QF_INC\" -o $@ $<\n"
     "-include out/page.html.d\n"},
    {"ninja", kNinja, "build.ninja",
     "rule qfc\n"
     "  command = echo QFC $out && \"$$QFC\" -MD -MP -I \"$$QF_INC\" -o $out $in\n"
     "  depfile = $out.d\n  deps = gcc\n"
     "build out/page.html: qfc page.src\n"},
};

struct AwkwardName {
  const char* what;
  std::string includeDirectory;  // -I
  std::string included;          // the name the page includes from there
  bool writable;                 // make and ninja can both read the path
};

const AwkwardName kAwkwardNames[] = {
    {"space", "my inc", "part.inc", true},
    {"hash", "a#b", "part.inc", true},
    {"dollar", "a$b", "part.inc", true},
    {"colon", "a:b", "part.inc", true},
    {"percent", "50%", "part.inc", true},
    {"backslash", "a\\b", "part.inc", true},
    {"backslash before a space", "a\\ b", "part.inc", true},
    {"leading tilde", "~inc", "part.inc", true},
    {"brackets and braces", "(x){y}", "part.inc", true},
    {"non-ASCII", "caf\xc3\xa9", "part.inc", true},
    {"tab", "a\tb", "part.inc", false},
    {"semicolon", "x;y", "part.inc", false},
    {"bar", "a|b", "part.inc", false},
    {"equals sign", "a=b", "part.inc", false},
    {"star", "a*b", "part.inc", false},
    {"apostrophe", "it's", "part.inc", false},
    {"ampersand", "a&b", "part.inc", false},
    {"line end", "a\nb", "part.inc", false},
    {"backslash before a hash", "a\\#b", "part.inc", false},
    {"archive member", ".", "lib(m)", false},
};

TEST(DependencyFiles, MakeAndNinjaRebuildForEveryNameBothCanRead) {
  for (const Tool& tool : kTools) {
    if (!pathExists(tool.program)) {
      ADD_FAILURE() << tool.program << " is not installed (scripts/setup.sh installs it)";
      continue;
    }
    for (const AwkwardName& name : kAwkwardNames) {
      const std::string what = std::string(tool.name) + ", " + name.what;
      TempDir dir;
      const QfcProcess qfc;
      dir.write(tool.file, tool.text);
      dir.write("page.src", "#include \"" + name.included + "\"\npage\n");
      const std::string include = dir.write(name.includeDirectory + "/" + name.included, "one\n");
      const std::vector<std::string> environment =
          qfc.environment({"QFC=" + kQfc, "QF_INC=" + name.includeDirectory});
      auto run = [&] {
        const ProgramResult r = runProgram(tool.program, {}, dir.path(), environment);
        EXPECT_EQ(r.exitCode, 0) << what << "\n" << r.out << r.err;
        return r;
      };
      const ProgramResult first = run();
      EXPECT_EQ(builtTargets(first.out), std::vector<std::string>{"out/page.html"}) << what;
      EXPECT_EQ(readFile(dir / "out/page.html"), "one\npage\n") << what;
      // ninja passes on what a command writes to standard error on its standard output.
      const bool warned =
          (first.err + first.out)
              .find(
                  "qfc: warning: no dependency file for page.src: make and ninja cannot "
                  "both read \"") != std::string::npos;
      EXPECT_EQ(warned, !name.writable) << what << "\n" << first.out << first.err;
      // The rule lists the current directory (the include's first miss), whose
      // time ninja's logs, made after the first build, have just changed.
      ASSERT_TRUE(setModifiedTime(dir.path(), fileClockNs() - 10'000'000'000LL));
      EXPECT_EQ(builtTargets(run().out), std::vector<std::string>{}) << what;
      touchLater(include);
      const std::vector<std::string> rebuilt =
          name.writable ? std::vector<std::string>{"out/page.html"} : std::vector<std::string>{};
      EXPECT_EQ(builtTargets(run().out), rebuilt) << what;
    }
  }
}

TEST(DependencyFiles, StandardOutputHasNoneAndSaysSo) {
  TempDir dir;
  const QfcProcess qfc;
  const ProgramResult r = qfc.run({"-MD", "-"}, dir.path());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "qfc: warning: -MD writes no dependency file for standard output; name one with -MF "
            "FILE or -o PATH\n");
  EXPECT_EQ(qfc.run({"-MF", "x.d", "-"}, dir.path()).err, "");
  EXPECT_TRUE(pathExists(dir / "x.d"));
}

TEST(DependencyFiles, DepDirKeepsThemOutOfTheOutputDirectory) {
  TempDir dir;
  dir.write("site/a.src", "#include \"inc/head.inc\"\na\n");
  dir.write("site/sub/b.src", "b\n");
  dir.write("site/inc/head.inc", "head\n");
  const std::vector<std::string> arguments = {"--all",  "site",      "-r",   "--out-dir",
                                              "public", "--dep-dir", "deps", "--no-state"};
  const ProgramResult r = QfcProcess().run(arguments, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir / "deps/a.html.d"),
            "public/a.html: \\\n site/a.src \\\n site/inc/head.inc\n");
  EXPECT_TRUE(pathExists(dir / "deps/sub/b.html.d"));
  for (const auto& [path, bytes] : snapshotTree(dir / "public/")) {
    EXPECT_FALSE(path.ends_with(".d")) << path;
  }
}

// The manual's makefile and ninja file, as printed, build a site and rebuild
// what an edit reaches.
std::string manualExample(const std::string& id) {
  std::string manual = readFile(QF_MANUAL_QFC);
  const std::string open = "<pre id=\"" + id + "\">\n";
  const std::size_t start = manual.find(open);
  if (start == std::string::npos) return {};
  std::string text =
      manual.substr(start + open.size(), manual.find("</pre>", start) - start - open.size());
  for (const auto& [entity, character] :
       {std::pair{"&lt;", "<"}, std::pair{"&gt;", ">"}, std::pair{"&amp;", "&"}}) {
    for (std::size_t at; (at = text.find(entity)) != std::string::npos;) {
      text.replace(at, std::string_view(entity).size(), character);
    }
  }
  return text;
}

TEST(DependencyFiles, TheManualsExamplesBuildAsWritten) {
  const struct {
    const char* program;
    const char* id;
    const char* file;
  } examples[] = {{kMake, "qfc-makefile", "Makefile"}, {kNinja, "qfc-ninja", "build.ninja"}};
  for (const auto& example : examples) {
    const std::string text = manualExample(example.id);
    ASSERT_NE(text, "") << example.id << " is not in the manual";
    TempDir dir;
    const QfcProcess qfc;
    dir.write(example.file, text);
    dir.write("site/index.src", "#include \"head.inc\"\nindex\n");
    dir.write("site/about.src", "#include \"head.inc\"\nabout\n");
    dir.write("site/news.src", "news\n");
    dir.write("site/head.inc", "head\n");
    const std::string path = "PATH=" + fs::path(kQfc).parent_path().string() + ":/usr/bin:/bin";
    auto run = [&] {
      const ProgramResult r = runProgram(example.program, {}, dir.path(), qfc.environment({path}));
      EXPECT_EQ(r.exitCode, 0) << example.file << "\n" << r.out << r.err;
      return r.out;
    };
    run();
    EXPECT_EQ(readFile(dir / "public/index.html"), "head\nindex\n") << example.file;
    EXPECT_EQ(readFile(dir / "public/news.html"), "news\n") << example.file;
    for (const auto& [path, bytes] : snapshotTree(dir / "public/")) {
      EXPECT_FALSE(path.ends_with(".d")) << example.file << ": " << path;
    }
    const std::string quiet = run();
    EXPECT_EQ(quiet.find("qfc "), std::string::npos) << example.file << "\n" << quiet;
    touchLater(dir / "site/head.inc");
    const std::string rebuilt = run();
    EXPECT_NE(rebuilt.find("public/index.html"), std::string::npos) << rebuilt;
    EXPECT_NE(rebuilt.find("public/about.html"), std::string::npos) << rebuilt;
    EXPECT_EQ(rebuilt.find("public/news.html"), std::string::npos) << rebuilt;
  }
}

}  // namespace
}  // namespace qf
