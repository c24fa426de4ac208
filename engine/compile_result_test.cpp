#include "engine/compile_result.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

class FailureReport : public CompileFixture {
 protected:
  // The report of compiling dir/sub/input, with the path of dir/sub/ removed.
  std::string reportOf(const std::string& sub, const std::string& input) {
    compile(sub + input);
    std::string report = formatFailure(compiler_.result());
    const std::string prefix = dir_.path() + sub;
    for (std::size_t at; (at = report.find(prefix)) != std::string::npos;) {
      report.erase(at, prefix.size());
    }
    return report;
  }
};

TEST_F(FailureReport, NamesTheIncludeChainInnermostFirst) {
  struct Case {
    const char* what;
    Files files;  // index.src is compiled
    const char* report;
  };
  const Case cases[] = {
      {"error in the input",
       {{"index.src", "a\n#bogus\n"}},
       "index.src:2: Error: Unknown directive after #.\n"},
      {"missing include named by the input",
       {{"index.src", "a\nb\n#include \"missing.inc\"\n"}},
       "index.src:3: Error: #include file \"missing.inc\" not found.\n"},
      {"two levels",
       {{"index.src", "a\n#include \"menu.inc\"\n"}, {"menu.inc", "x\n#bogus\n"}},
       "In file included from index.src:2:\n"
       "menu.inc:2: Error: Unknown directive after #.\n"},
      {"three levels, names as found",
       {{"index.src", "a\n#include \"parts/menu.inc\"\n"},
        {"parts/menu.inc", "1\n2\n3\n#include \"nav.inc\"\n"},
        {"parts/nav.inc", "1\n2\n3\n4\n5\n6\n#include \"missing.inc\"\n"}},
       "In file included from parts/menu.inc:4,\n"
       "                 from index.src:2:\n"
       "parts/nav.inc:7: Error: #include file \"missing.inc\" not found.\n"},
      {"unclosed conditional in an included file",
       {{"index.src", "#include \"a.inc\"\n"}, {"a.inc", "x\n#ifdef X\n"}},
       "In file included from index.src:1:\n"
       "a.inc:2: Error: #if without matching #endif.\n"},
      {"later lines of the includer are not reached",
       {{"index.src", "#include \"a.inc\"\n#include \"b.inc\"\n"},
        {"a.inc", "fine\n"},
        {"b.inc", "#include \"c.inc\"\n"},
        {"c.inc", "#else\n"}},
       "In file included from b.inc:1,\n"
       "                 from index.src:2:\n"
       "c.inc:1: Error: #else without matching #if.\n"},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string sub = "case" + std::to_string(++number) + "/";
    for (const auto& [name, contents] : c.files) dir_.write(sub + name, contents);
    EXPECT_EQ(reportOf(sub, "index.src"), c.report);
  }
}

TEST_F(FailureReport, AMisspeltDirectiveGetsANoteNamingTheNearest) {
  const struct {
    const char* source;
    const char* note;  // "" for none
  } cases[] = {
      {"#defin X 1\n", "did you mean \"#define\"?"},
      {"#inclde \"a.inc\"\n", "did you mean \"#include\"?"},
      {"#endfi\n", "did you mean \"#endif\"?"},
      {"#IFDEF X\n", "did you mean \"#ifdef\"?"},
      {"#ifdefX\n", "did you mean \"#ifdef\"?"},
      {"#fileinfoo x\n", "did you mean \"#fileinfo\"?"},
      {"#foo\n", ""},
      {"#definitely\n", ""},
      {"#ifdef\n", ""},  // a keyword spelt right, without its argument
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string sub = "note" + std::to_string(++number) + "/";
    dir_.write(sub + "index.src", std::string("a\n") + c.source);
    std::string expected = "index.src:2: Error: Unknown directive after #.\n";
    if (*c.note) expected += std::string("index.src:2: note: ") + c.note + "\n";
    EXPECT_EQ(reportOf(sub, "index.src"), expected);
  }
  dir_.write("chain/index.src", "#include \"a.inc\"\n");
  dir_.write("chain/a.inc", "#undefin X\n");
  EXPECT_EQ(reportOf("chain/", "index.src"),
            "In file included from index.src:1:\n"
            "a.inc:1: Error: Unknown directive after #.\n"
            "a.inc:1: note: did you mean \"#undefine\"?\n");
}

TEST_F(FailureReport, ErrorWithoutALineHasNoChain) {
  EXPECT_EQ(reportOf("", "missing.src"),
            "missing.src:0: Error: Could not open input file \"missing.src\".\n");
}

}  // namespace
}  // namespace qf
