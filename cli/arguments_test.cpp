#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qf {
namespace {

TEST(QfcArguments, AcceptsEveryOption) {
  std::string error;
  const auto options = parseArguments(
      {"--all", "site", "-r", "--out-dir=out", "-e", "htm", "-I", "inc", "--directive-char", "!",
       "--concat-char=+", "-D", "A", "--define", "B=x=y", "-j", "0", "-q"},
      error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->allDirectory, "site/");
  EXPECT_EQ(options->allDirectoryAsGiven, "site");
  EXPECT_TRUE(options->recursive);
  EXPECT_EQ(options->outDirectory, "out/");
  EXPECT_EQ(options->outputExtension, ".htm");
  EXPECT_EQ(options->includeDirectory, "inc/");
  EXPECT_EQ(options->directiveChar, '!');
  EXPECT_EQ(options->concatChar, '+');
  const std::vector<std::pair<std::string, std::string>> definitions = {{"A", ""}, {"B", "x=y"}};
  EXPECT_EQ(options->definitions, definitions);
  EXPECT_EQ(options->jobs, 0);
  EXPECT_TRUE(options->quiet);
}

TEST(QfcArguments, FilesAndOutput) {
  std::string error;
  auto options = parseArguments({"a.src", "-o", "-"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->files, std::vector<std::string>{"a.src"});
  EXPECT_EQ(options->output, "-");
  options = parseArguments({"--", "-odd.src", "b.src"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->files, (std::vector<std::string>{"-odd.src", "b.src"}));
  struct Case {
    const char* given;
    const char* extension;
  };
  const Case extensions[] = {
      {"htm", ".htm"}, {"", ".html"}, {".", ".html"}, {".txt", ".txt"}, {"x", ".x"}};
  for (const Case& c : extensions) {
    options = parseArguments({"a.src", "--ext", c.given}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->outputExtension, c.extension);
  }
}

TEST(QfcArguments, ShortOptionsBundleAndTakeAttachedValues) {
  struct Case {
    std::vector<std::string> arguments;
    bool recursive, quiet;
    int jobs;
    const char* output;  // "" when none
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {{"--all", "s", "-rq"}, true, true, 1, "", {}},
      {{"--all", "s", "-qrj4"}, true, true, 4, "", {}},
      {{"--all", "s", "-j4"}, false, false, 4, "", {}},
      {{"-oout.html", "a.src"}, false, false, 1, "out.html", {"a.src"}},
      {{"a.src", "-qo", "out.html"}, false, true, 1, "out.html", {"a.src"}},
      {{"b.src", "-q", "a.src", "--", "-c.src"}, false, true, 1, "", {"b.src", "a.src", "-c.src"}},
      {{"-", "--jobs=2"}, false, false, 2, "", {"-"}},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto options = parseArguments(c.arguments, error);
    ASSERT_TRUE(options) << c.arguments.back() << ": " << error;
    EXPECT_EQ(options->recursive, c.recursive);
    EXPECT_EQ(options->quiet, c.quiet);
    EXPECT_EQ(options->jobs, c.jobs);
    EXPECT_EQ(options->output.value_or(""), c.output);
    EXPECT_EQ(options->files, c.files);
  }
}

TEST(QfcArguments, ServeImpliesWatchAndDefaultsToTheLoopback) {
  struct Case {
    std::vector<std::string> arguments;
    bool watch, serve;
    const char* host;
    int port;
    bool portGiven = true;
    bool open = false;
  };
  const Case cases[] = {
      {{"--all", "s"}, false, false, "", 0},
      {{"--all", "s", "--watch"}, true, false, "", 0},
      {{"--all", "s", "--serve"}, true, true, "127.0.0.1", 8080, false},
      {{"--all", "s", "--serve", "--open"}, true, true, "127.0.0.1", 8080, false, true},
      {{"--all", "s", "--serve=0"}, true, true, "127.0.0.1", 0},
      {{"--serve=0.0.0.0:9000", "--all", "s"}, true, true, "0.0.0.0", 9000},
      {{"--all", "s", "--serve=[::1]:8081", "--watch"}, true, true, "::1", 8081},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto options = parseArguments(c.arguments, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->watch, c.watch);
    EXPECT_EQ(options->open, c.open);
    ASSERT_EQ(options->serve.has_value(), c.serve);
    if (!c.serve) continue;
    EXPECT_EQ(options->servePortGiven, c.portGiven);
    EXPECT_EQ(options->serve->host, c.host);
    EXPECT_EQ(options->serve->port, c.port);
  }
}

TEST(QfcArguments, HelpHasAShortForm) {
  std::string error;
  const auto options = parseArguments({"-h"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->help);
  EXPECT_NE(std::string(usageText()).find("-h, --help"), std::string::npos);
}

TEST(QfcArguments, RefusesBadUsage) {
  struct Case {
    std::vector<std::string> arguments;
    const char* error;
  };
  const Case cases[] = {
      {{}, "no input: give FILE... or --all DIR"},
      {{"--bogus", "a.src"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"a.src", "-o"}, "option '-o' needs a value"},
      {{"a.src", "b.src", "-o", "x.html"}, "'-o' takes exactly one FILE"},
      {{"--all", "site", "-o", "x.html"}, "'-o' takes exactly one FILE"},
      {{"--all", "site", "a.src"}, "give either FILE... or --all DIR, not both"},
      {{"a.src", "--directive-char", "##"},
       "option '--directive-char' takes exactly one character, not '##'"},
      {{"a.src", "--concat-char", ""},
       "option '--concat-char' takes exactly one character, not ''"},
      {{"a.src", "-r"}, "'-r' goes with --all"},
      {{"a.src", "--out-dir", "o"}, "'--out-dir' goes with --all"},
      {{"a.src", "-j", "x"}, "'-j x': jobs is a number from 0 to 1024"},
      {{"a.src", "-j", "-1"}, "'-j -1': jobs is a number from 0 to 1024"},
      {{"a.src", "-D", "=x"}, "'-D =x': a name is letters, digits and '_'"},
      {{"a.src", "-D", "A-B"}, "'-D A-B': a name is letters, digits and '_'"},
      {{"a.src", "--quiet=yes"}, "option '--quiet' takes no value"},
      {{"--all", ""}, "'--all' needs a directory"},
      {{"--all", "s", "-rx"}, "unknown option '-x'"},
      {{"--all", "s", "-xr"}, "unknown option '-x'"},
      {{"--all", "s", "-rj"}, "option '-j' needs a value"},
      {{"a.src", "--jobs"}, "option '--jobs' needs a value"},
      {{"a.src", "--jobs=x"}, "'--jobs x': jobs is a number from 0 to 1024"},
      {{"a.src", "--bogus=1"}, "unknown option '--bogus'"},
      {{"a.src", "-j", "1025"}, "'-j 1025': jobs is a number from 0 to 1024"},
      {{"a.src", "-j", "9223372036854776832"},
       "'-j 9223372036854776832': jobs is a number from 0 to 1024"},
      {{"a.src", "-j", "99999999999999999999999"},
       "'-j 99999999999999999999999': jobs is a number from 0 to 1024"},
      {{"a.src", "-j", "+4"}, "'-j +4': jobs is a number from 0 to 1024"},
      {{"a.src", "-o", ""}, "'-o' needs a path"},
      {{"a.src", "--output="}, "'--output' needs a path"},
      {{"--all", "s", "--out-dir", "o", "--ext", "../x"},
       "'--ext ../x': an extension holds no '/'"},
      {{"--all", "s", "-e", "/../../esc"}, "'-e /../../esc': an extension holds no '/'"},
      {{"a.src", "--watch"}, "'--watch' and '--serve' go with --all"},
      {{"--all", "s", "--watch", "--open"}, "'--open' goes with --serve"},
      {{"--init", "new", "--all", "s"}, "'--init' goes alone"},
      {{"--init", "new", "a.src"}, "'--init' goes alone"},
      {{"--init="}, "'--init' needs a directory"},
      {{"a.src", "--serve"}, "'--watch' and '--serve' go with --all"},
      {{"--all", "s", "--serve=http"}, "'--serve=http': not a port number (0 to 65535): http"},
      {{"--all", "s", "--serve=1:99999"},
       "'--serve=1:99999': not a port number (0 to 65535): 99999"},
      {{"--all", "s", "--watch=1"}, "option '--watch' takes no value"},
      {{"--all", "s", "--serve="}, "'--serve=' needs [ADDR:]PORT"},
      {{"--all", "s", "--ex", "x"},
       "option '--ex' is ambiguous; possibilities: '--ext' '--exclude'"},
      {{"--all", "s", "--e=x"}, "option '--e' is ambiguous; possibilities: '--ext' '--exclude'"},
      {{"a.src", "--M"}, "option '--M' is ambiguous; possibilities: '-MD' '-MF' '-MT' '-MP'"},
      {{"a.src", "--dep-dir="}, "'--dep-dir' needs a directory"},
      {{"--all", "s", "--out-dir", "o", "--exclude", "./"},
       "'--exclude ./' names no path below DIR"},
      {{"--all", "s", "--out-dir", "o", "--exclude=/"}, "'--exclude /' names no path below DIR"},
      {{"--all", "s", "--exc=x", "--out-dir", "o", "--ex=y", "--ext", "h"},
       "option '--ex' is ambiguous; possibilities: '--ext' '--exclude'"},
      {{"a.src", "--state", "x"}, "'--state' and '--no-state' go with --all"},
      {{"--all", "s", "--exclude", "x"}, "'--exclude' goes with --out-dir"},
      {{"--all", "s", "-MF", "x.d"}, "'-MF' and '-MT' take exactly one FILE"},
      {{"a.src", "b.src", "-MT", "t"}, "'-MF' and '-MT' take exactly one FILE"},
      {{"a.src", "-MF"}, "option '-MF' needs a value"},
      {{"a.src", "-MD=x"}, "option '-MD' takes no value"},
      {{"--all", "s", "--state="}, "'--state' needs a path"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseArguments(c.arguments, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(QfcArguments, SourceDateEpochIsADecimalCountWithAFourDigitYear) {
  EXPECT_EQ(parseSourceDateEpoch("0"), 0);
  EXPECT_EQ(parseSourceDateEpoch("1767791220"), 1767791220);
  EXPECT_EQ(parseSourceDateEpoch("253402128000"), 253402128000);  // 9999-12-30
  const char* const bad[] = {
      "",
      "-1",
      "12a",
      " 1",
      "1.5",
      "+1",
      "99999999999999999999",
      "9999999999999999999",  // beyond 64 bits
      "67768036191676800",    // a year beyond 32 bits
      "253402473600",         // 10000-01-02
  };
  for (const char* value : bad) EXPECT_FALSE(parseSourceDateEpoch(value)) << value;
}

TEST(QfcArguments, IncrementalAndDependencyOptions) {
  const std::vector<std::string> accepted[] = {
      {"--all", "s", "-B", "--state", "st.db", "--out-dir", "o", "--exclude", "*.psd",
       "--exclude=drafts"},
      {"--all", "s", "--no-state", "-MD", "-MP"},
      {"a.src", "-MF", "a.d", "-MT", "a.html"},
      {"a.src", "-MFa.d", "-MTa.html"},
      {"a.src", "--dep", "d"},
  };
  for (const std::vector<std::string>& arguments : accepted) {
    std::string error;
    EXPECT_TRUE(parseArguments(arguments, error)) << arguments.back();
    EXPECT_EQ(error, "") << arguments.back();
  }
  std::string error;
  auto options = parseArguments({"--all", "s", "-B", "--state", "st.db", "--out-dir", "o",
                                 "--exclude", "*.psd", "--exclude=drafts", "-MD", "-MP"},
                                error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->alwaysMake);
  EXPECT_EQ(options->statePath, "st.db");
  EXPECT_EQ(options->excludes, (std::vector<std::string>{"*.psd", "drafts"}));
  EXPECT_TRUE(options->dependencyFiles);
  EXPECT_TRUE(options->phonyTargets);
  options = parseArguments({"a.src", "-MFa.d", "-MT", "t"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->dependencyFile, "a.d");
  EXPECT_EQ(options->dependencyTarget, "t");
  EXPECT_TRUE(options->dependencyFiles);
  options = parseArguments({"a.src", "--dep-dir", "deps"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->dependencyDirectory, "deps/");
  EXPECT_TRUE(options->dependencyFiles);
  options = parseArguments({"a.src", "--", "-MD"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->files, (std::vector<std::string>{"a.src", "-MD"}));
}

}  // namespace
}  // namespace qf
