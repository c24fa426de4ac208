#include "testing/reference_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

TEST(ReferenceEngine, SplitsLinesAsTheLanguageReadsThem) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
    bool byteOrderMark;
  } cases[] = {
      {"", {}, false},
      {"a\nb", {"a\n", "b\n"}, false},
      {"a\r\nb\r\n", {"a\n", "b\n"}, false},
      {"a\rb\r", {"a\rb\r\n"}, false},
      {"\xEF\xBB\xBFx\n\n", {"x\n", "\n"}, true},
      {"x\xEF\xBB\xBF", {"x\xEF\xBB\xBF\n"}, false},
  };
  for (const Case& c : cases) {
    bool byteOrderMark = true;
    EXPECT_EQ(splitSourceLines(c.bytes, &byteOrderMark), c.lines) << c.bytes;
    EXPECT_EQ(byteOrderMark, c.byteOrderMark) << c.bytes;
  }
}

// The reference must itself be right, or the comparisons prove nothing: it
// is held to worked examples of the language here.
class ReferenceEngineTest : public CompileFixture {
 protected:
  ReferenceOutcome compileReference(const std::string& source, char directive = 0) {
    writeFiles({{"index.src", source}});
    ReferenceRequest request;
    request.inputPath = dir_ / "index.src";
    request.outputName = dir_ / "out.html";
    request.includeDirectory = dir_ / "inc/";
    request.directiveChar = directive;
    request.time = 1767791220;  // Wednesday 2026-01-07 13:07 UTC
    return compileByReference(request);
  }
};

TEST_F(ReferenceEngineTest, FollowsWorkedExamples) {
  struct Case {
    const char* source;
    const char* output;
  } cases[] = {
      {"#define TITLE Home\n#ifdef TITLE\n<h1>TITLE</h1>\n#else\nno\n#endif\n", "<h1>Home</h1>\n"},
      {"#define NAME X\n#define abc Y\nabc|NAME|def\nNAME|s NAMEs pre|NAME\n",
       "YXdef\nXs NAMEs preX\n"},
      {"#define NAME X\nUNDEF|x || NAME||x\n", "UNDEF|x || X|x\n"},
      {"#define PRE MY\n#define MY_NAME joined\nPRE|_NAME\n", "joined\n"},
      {"#define E\na E b\nE|E\n", "a  b\n\n"},
      {"#define S S\nS\n", "S\n"},
      {"#define T Home\n#define NAME X\n#define V |T|.html\n#define W |NAME||T|\nV W\n",
       "Home.html XHome\n"},
      {"#define A   some text  \n[A]\n", "[some text  ]\n"},
      {"#define A 1\n#define A 2\n#undefine A\nA\n#killdefine A\nA\n", "1\nA\n"},
      {"# comment\n##\n#\n#ifdef !_DAY_\n_DAY_ _MONTH_ _YEAR_ _TIME_\n#endif\n",
       "07 January 2026 01:07 PM\n"},
      {"_INFILETITLE_ _OUTFILETITLE_\nlast", "index.src out.html\nlast\n"},
  };
  for (const Case& c : cases) {
    const ReferenceOutcome outcome = compileReference(c.source);
    EXPECT_TRUE(outcome.result.ok) << c.source << outcome.result.message;
    EXPECT_EQ(outcome.output, c.output) << c.source;
  }
}

TEST_F(ReferenceEngineTest, FailsWhereTheLanguageSays) {
  writeFiles({{"parts/menu.inc", "menu\n#ifdef X\n#else\n#else\n"},
              {"inc/deep.inc", "#include \"parts/menu.inc\"\n"}});
  struct Case {
    const char* source;
    char directive;
    const char* message;
    long line;
    std::size_t includers;
  } cases[] = {
      {"a\n#foo\n", 0, "Error: Unknown directive after #.", 2, 0},
      {"!ifdef\n", '!', "Error: Unknown directive after !.", 1, 0},
      {"!# comment\n!!\n", '!', "", 0, 0},
      {"#ifdef X\n#include x\n#foo\n#endif\n#ifdef  !\n", 0, "Error: Malformed #ifdef directive.",
       5, 0},
      {"#ifdef A\n\n#ifndef B\n", 0, "Error: #if without matching #endif.", 3, 0},
      {"#endif\n", 0, "Error: #endif without matching #if.", 1, 0},
      {"#include \"missing.inc\"\n", 0, "Error: #include file \"missing.inc\" not found.", 1, 0},
      {"x\n#include <deep.inc>\n", 0, "Error: #if without matching #endif.", 2, 2},
  };
  for (const Case& c : cases) {
    const ReferenceOutcome outcome = compileReference(c.source, c.directive);
    if (*c.message == '\0') {
      EXPECT_TRUE(outcome.result.ok) << c.source << outcome.result.message;
      continue;
    }
    EXPECT_FALSE(outcome.result.ok) << c.source;
    EXPECT_EQ(outcome.result.message, c.message) << c.source;
    EXPECT_EQ(outcome.result.errorLine, c.line) << c.source;
    EXPECT_EQ(outcome.result.includedFrom.size(), c.includers) << c.source;
  }
}

}  // namespace
}  // namespace qf
