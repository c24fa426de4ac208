#include "engine/source_processor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

using namespace std::string_literals;

struct ProcessCase {
  const char* what;
  Files files;           // index.src is compiled
  std::string expected;  // the output, or "file:line: message" on failure
  bool fails = false;
  char directiveChar = 0;  // 0: '#'
};

std::string repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

class SourceProcessorTest : public CompileFixture {
 protected:
  // Each case gets a directory of its own.
  void check(const ProcessCase& c) {
    SCOPED_TRACE(c.what);
    const std::string sub = "case" + std::to_string(++cases_) + "/";
    for (const auto& [name, contents] : c.files) dir_.write(sub + name, contents);
    const std::string output = compile(sub + "index.src", "", c.directiveChar);
    if (c.fails) {
      EXPECT_EQ(failure(sub), c.expected);
    } else {
      EXPECT_EQ(compiler_.result().message, "Success: File compiled.");
      EXPECT_EQ(output, c.expected);
    }
  }

  int cases_ = 0;
};

TEST_F(SourceProcessorTest, DirectivesAndComments) {
  const ProcessCase cases[] = {
      {"comment lines", {{"index.src", "# any text\n##\n#\na\n"}}, "a\n"},
      {"a '#' after another directive character is a comment",
       {{"index.src", "!#define X\n!# text\n!!\n! x\n!\n#x X\n"}},
       "#x X\n",
       false,
       '!'},
      {"indented directive is text", {{"index.src", " #define X\n"}}, " #define X\n"},
      {"define and use",
       {{"index.src", "#define TITLE Home\n<h1>TITLE</h1>\n"}},
       "<h1>Home</h1>\n"},
      {"define text keeps trailing blanks",
       {{"index.src", "#define A   some text  \n[A]\n"}},
       "[some text  ]\n"},
      {"define with =", {{"index.src", "#define A=1\nA\n"}}, "=1\n"},
      {"define skips only spaces", {{"index.src", "#define A  \tx\n[A]\n"}}, "[\tx]\n"},
      {"empty definition is defined",
       {{"index.src", "#define A\n#ifdef A\nyes\n#endif\n[A]\n"}},
       "yes\n[]\n"},
      {"undefine reveals older",
       {{"index.src", "#define A 1\n#define A 2\n#undefine A\nA\n"}},
       "1\n"},
      {"killdefine removes all",
       {{"index.src", "#define A 1\n#define A 2\n#killdefine A\nA\n"}},
       "A\n"},
      {"undefine of undefined", {{"index.src", "#undefine A\nok\n"}}, "ok\n"},
      {"ifdef !X tests X", {{"index.src", "#define X\n#ifdef !X\nin\n#endif\n"}}, "in\n"},
      {"ifdef A B tests A", {{"index.src", "#define B\n#ifdef A B\nin\n#endif\nout\n"}}, "out\n"},
      {"ifndef", {{"index.src", "#ifndef X\nin\n#else\nout\n#endif\n"}}, "in\n"},
      {"elseif acts as else", {{"index.src", "#ifdef X\na\n#elseif X\nb\n#endif\n"}}, "b\n"},
      {"each else inverts again",
       {{"index.src", "#ifdef X\na\n#else\nb\n#else\nc\n#else\nd\n#endif\n"}},
       "b\nd\n"},
      {"endif with text", {{"index.src", "#ifdef X\na\n#endif comment\nb\n"}}, "b\n"},
      {"false outer hides true inner",
       {{"index.src", "#ifdef X\n#ifndef X\nhidden\n#endif\n#endif\nshown\n"}},
       "shown\n"},
      {"unknown and malformed include hidden in false branch",
       {{"index.src", "#ifdef X\n#foo\n#include a.inc\n#define\n#endif\n"}},
       ""},
      {"builtin shadowed and revealed",
       {{"index.src", "#define _DAY_ x\n_DAY_\n#undefine _DAY_\n_DAY_\n#undefine _DAY_\n_DAY_\n"}},
       "x\n07\n_DAY_\n"},
      {"directive substitution",
       {{"index.src", "#define T Home\n#define V |T|.html\nV\n"}},
       "Home.html\n"},
      {"CR LF is one line end", {{"index.src", "#define A 1\r\nA\r\nx\ry\r\n"}}, "1\nx\ry\n"},
      {"last line gains a line end", {{"index.src", "a\nb"}}, "a\nb\n"},
      {"NUL bytes are data",
       {{"index.src", std::string("#define N a\0b\nN\0N\n", 18)}},
       std::string("a\0b\0a\0b\n", 8)},
      {"byte-order mark of the input is kept",
       {{"index.src", "\xEF\xBB\xBF#define A 1\nA\n#include \"b.inc\"\n"},
        {"b.inc",
         "\xEF\xBB\xBF"
         "B\n"}},
       "\xEF\xBB\xBF"
       "1\nB\n"},
      {"long line is one line",
       {{"index.src", "#define N v\n" + repeat("x", 1500) + "N\n" + repeat("y", 2000) + "\n"}},
       repeat("x", 1500) + "N\n" + repeat("y", 2000) + "\n"},
      {"symbol after 1023 bytes is replaced",
       {{"index.src", "#define N v\n" + repeat("-", 1500) + "N\n"}},
       repeat("-", 1500) + "v\n"},
      {"99 nested conditionals",
       {{"index.src", repeat("#ifndef X\n", 99) + "deep\n" + repeat("#endif\n", 99)}},
       "deep\n"},
  };
  for (const ProcessCase& c : cases) check(c);
}

TEST_F(SourceProcessorTest, ErrorsNameTheirFileAndLine) {
  const ProcessCase cases[] = {
      {"unknown directive",
       {{"index.src", "a\n#foo\n"}},
       "index.src:2: Error: Unknown directive after #.",
       true},
      {"unknown directive after another directive character",
       {{"index.src", "!# c\n!foo\n"}},
       "index.src:2: Error: Unknown directive after !.",
       true,
       '!'},
      {"keywords are case-sensitive",
       {{"index.src", "#IFDEF X\n"}},
       "index.src:1: Error: Unknown directive after #.",
       true},
      {"ifdef at line end",
       {{"index.src", "#ifdef\n"}},
       "index.src:1: Error: Unknown directive after #.",
       true},
      {"ifdefX",
       {{"index.src", "#ifdefX\n"}},
       "index.src:1: Error: Unknown directive after #.",
       true},
      {"malformed ifdef even when skipping",
       {{"index.src", "#ifdef X\n#ifdef  !!\n#endif\n#endif\n"}},
       "index.src:2: Error: Malformed #ifdef directive.",
       true},
      {"malformed ifndef",
       {{"index.src", "#ifndef -\n"}},
       "index.src:1: Error: Malformed #ifndef directive.",
       true},
      {"malformed ifexists",
       {{"index.src", "#ifexists x\n"}},
       "index.src:1: Error: Malformed #ifexists directive.",
       true},
      {"malformed include",
       {{"index.src", "#include a.inc\n"}},
       "index.src:1: Error: Malformed #include directive.",
       true},
      {"empty include",
       {{"index.src", "#include \"\"\n"}},
       "index.src:1: Error: Malformed #include directive.",
       true},
      {"malformed fileinfo",
       {{"index.src", "#fileinfo\tx\n"}},
       "index.src:1: Error: Unknown directive after #.",
       true},
      {"malformed fileinfo name",
       {{"index.src", "#fileinfo x\n"}},
       "index.src:1: Error: Malformed #fileinfo directive.",
       true},
      {"malformed define",
       {{"index.src", "#define =\n"}},
       "index.src:1: Error: Malformed #define directive.",
       true},
      {"malformed undefine",
       {{"index.src", "#undefine \n"}},
       "index.src:1: Error: Malformed #undefine directive.",
       true},
      {"malformed killdefine",
       {{"index.src", "#killdefine ()\n"}},
       "index.src:1: Error: Malformed #killdefine directive.",
       true},
      {"else without if",
       {{"index.src", "#else\n"}},
       "index.src:1: Error: #else without matching #if.",
       true},
      {"endif without if",
       {{"index.src", "x\n#endif\n"}},
       "index.src:2: Error: #endif without matching #if.",
       true},
      {"unclosed conditionals name the innermost",
       {{"index.src", "a\n#ifdef A\nb\nc\n#ifndef B\n"}},
       "index.src:5: Error: #if without matching #endif.",
       true},
      {"100th ifdef",
       {{"index.src", repeat("#ifdef X\n", 100)}},
       "index.src:100: Error: Max number of nested #ifs exceeded.",
       true},
      {"100th ifndef",
       {{"index.src", repeat("#ifndef X\n", 100)}},
       "index.src:100: Error: Max nesting of #ifs exceeded.",
       true},
      {"100th ifexists",
       {{"index.src", repeat("#ifexists \"x\"\n", 100)}},
       "index.src:100: Error: Max nesting of #ifs exceeded.",
       true},
      {"include not found",
       {{"index.src", "a\n#include \"parts\\foot.inc\"\n"}},
       "index.src:2: Error: #include file \"parts\\foot.inc\" not found.",
       true},
      {"unclosed include name",
       {{"index.src", "#include \"a.inc\n"}, {"a.inc", "x\n"}},
       "index.src:1: Error: #include file \"a.inc\n\" not found.",
       true},
      {"NUL in a file name",
       {{"index.src", "#include \"a\0b\"\n"s}, {"a", "x\n"}},
       "index.src:1: Error: #include file \"a\0b\" not found."s,
       true},
      {"fileinfo not found",
       {{"index.src", "#fileinfo <pic.gif>\n"}},
       "index.src:1: Error: #fileinfo file \"pic.gif\" not found.",
       true},
      {"error inside include",
       {{"index.src", "a\n#include \"b.inc\"\n"}, {"b.inc", "1\n2\n#bad\n"}},
       "b.inc:3: Error: Unknown directive after #.",
       true},
      {"included else has no conditional of its own",
       {{"index.src", "#ifndef X\n#include \"b.inc\"\n#endif\n"}, {"b.inc", "#else\n"}},
       "b.inc:1: Error: #else without matching #if.",
       true},
      {"included file leaves a conditional open",
       {{"index.src", "#include \"b.inc\"\n"}, {"b.inc", "x\n#ifdef Q\n"}},
       "b.inc:2: Error: #if without matching #endif.",
       true},
      {"runaway growth",
       {{"index.src", "#define A A A A A A A A A A A\nok\nA\n"}},
       "index.src:3: Error: Line too long after substitution.",
       true},
      {"runaway growth in a false branch directive",
       {{"index.src", "#define A |A||A||A||A||A||A||A||A||A|\n#ifdef X\n#define B |A|\n#endif\n"}},
       "index.src:3: Error: Line too long after substitution.",
       true},
  };
  for (const ProcessCase& c : cases) check(c);
}

TEST_F(SourceProcessorTest, WorkedExampleKeepsNoOutputOnFailure) {
  writeFiles(
      {{"site/index.src",
        "#define TITLE Home\n#ifdef TITLE\n<h1>TITLE</h1>\n#else\n<h1>Untitled</h1>\n#endif\n"
        "#include \"parts\\foot.inc\"\n"}});
  EXPECT_EQ(compile("site/index.src"), "<missing>");
  EXPECT_EQ(failure(), "site/index.src:7: Error: #include file \"parts\\foot.inc\" not found.");
  writeFiles({{"site/parts/foot.inc", "<p>_INFILETITLE_ TITLE</p>\n"}});
  EXPECT_EQ(compile("site/index.src"), "<h1>Home</h1>\n<p>index.src Home</p>\n");
}

TEST_F(SourceProcessorTest, SearchOrders) {
  writeFiles({
      {"site/index.src", "#include \"parts/menu.inc\"\n#include \"lib.inc\"\n"},
      {"site/parts/menu.inc",
       "#include \"item.inc\"\n#ifexists \"item.inc\"\nhere\n#endif\n"
       "#ifexists \"lib.inc\"\nnot searched in include dir\n#endif\n"},
      {"site/parts/item.inc", "item from parts\n"},
      {"site/item.inc", "item from site\n"},
      {"inc/lib.inc", "lib from include dir\n"},
  });
  EXPECT_EQ(compile("site/index.src", dir_ / "inc/"),
            "item from parts\nhere\nlib from include dir\n");
  compile("site/index.src");
  EXPECT_EQ(failure(), "site/index.src:2: Error: #include file \"lib.inc\" not found.");
}

TEST_F(SourceProcessorTest, SecondPlaceIsTheInputDirectory) {
  writeFiles({{"site/index.src", "#include \"parts/a.inc\"\n"},
              {"site/parts/a.inc", "#include \"b.inc\"\n"},
              {"site/b.inc", "b in site\n"}});
  EXPECT_EQ(compile("site/index.src"), "b in site\n");
}

TEST_F(SourceProcessorTest, SelfIncludeIsIgnoredAndDeepCyclesStopAtTheLimit) {
  writeFiles({{"index.src", "a\n#include \"index.src\"\n#include \"b.inc\"\nz\n"},
              {"b.inc", "b\n#include \"index.src\"\n"}});
  EXPECT_EQ(compile(), "a\nb\nz\n");

  // The same file under ever longer paths is a new file each time.
  writeFiles({{"index.src", "#include \"x.inc\"\n"}, {"x.inc", "#include \"./x.inc\"\n"}});
  compile();
  EXPECT_EQ(failure(), repeat("./", 62) + "x.inc:1: Error: Max nesting of #includes exceeded.");
}

TEST_F(SourceProcessorTest, IncludeNestingOfSixtyFourFilesIsAllowed) {
  Files files = {{"index.src", "#include \"f1.inc\"\n"}};
  for (int i = 1; i < 63; ++i) {
    files.push_back(
        {"f" + std::to_string(i) + ".inc", "#include \"f" + std::to_string(i + 1) + ".inc\"\n"});
  }
  files.push_back({"f63.inc", "deepest\n"});
  writeFiles(files);
  EXPECT_EQ(compile(), "deepest\n");
  files.back().second = "#include \"f64.inc\"\n";
  files.push_back({"f64.inc", "too deep\n"});
  writeFiles(files);
  compile();
  EXPECT_EQ(failure(), "f63.inc:1: Error: Max nesting of #includes exceeded.");
}

TEST_F(SourceProcessorTest, BackslashesInNamesAreSeparators) {
  writeFiles({{"index.src", "#include \"parts\\menu.inc\"\n"},
              {"parts/menu.inc", "#include \"..\\foot.inc\"\n_INFILENAME_\n"},
              {"foot.inc", "foot\n"}});
  EXPECT_EQ(compile(), "foot\n" + dir_ / "index.src" + "\n");
}

TEST_F(SourceProcessorTest, OnlyRegularFilesAreFound) {
  writeFiles({{"index.src",
               "#ifexists \"dir.inc\"\ndir\n#endif\n#ifexists \"fifo.inc\"\nfifo\n#endif\nend\n"}});
  ASSERT_EQ(mkdir((dir_ / "dir.inc").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "fifo.inc").c_str(), 0644), 0);
  EXPECT_EQ(compile(), "end\n");
  writeFiles({{"index.src", "#include \"fifo.inc\"\n"}});
  compile();
  EXPECT_EQ(failure(), "index.src:1: Error: #include file \"fifo.inc\" not found.");
}

TEST(SourceProcessorReading, ReadErrorFailsAtTheLineBeingRead) {
  struct FailingSource : ByteSource {
    bool done = false;
    long read(char* buffer, std::size_t size) override {
      if (done) return -1;
      done = true;
      const std::string lines = "one\ntwo\nthr";
      lines.copy(buffer, std::min(size, lines.size()));
      return static_cast<long>(std::min(size, lines.size()));
    }
  } source;
  struct CountingSink : ByteSink {
    std::size_t bytes = 0;
    bool write(std::string_view b) override {
      bytes += b.size();
      return true;
    }
    bool flush() override { return true; }
  } sink;
  DefinitionTable definitions(1);
  ActiveFileList activeFiles;
  CompileResult result;
  CompileContext context{definitions, activeFiles, result, sink, '#', '|', "", ""};
  EXPECT_FALSE(SourceProcessor(context).processSource("page.src", source));
  EXPECT_EQ(result.message, "Error: Could not read file \"page.src\".");
  EXPECT_EQ(result.errorFileName, "page.src");
  EXPECT_EQ(result.errorLine, 3);
  EXPECT_EQ(sink.bytes, 8u);
  EXPECT_EQ(activeFiles.size(), 0u);
}

TEST(SourceProcessorArguments, ParseSymbolAndFileNames) {
  struct Case {
    const char* argument;
    const char* symbol;
    const char* file;
  };
  const Case cases[] = {
      {"NAME rest", "NAME", ""},  {"!FOO", "FOO", ""},         {"  ", "", ""},
      {"<a.inc>", "a", "a.inc"},  {"\"a.inc\"", "a", "a.inc"}, {"<a.inc\"", "a", "a.inc"},
      {"\"a.inc>", "a", "a.inc"}, {"x \"open", "x", "open"},   {"\"\"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseSymbolArgument(c.argument), c.symbol) << c.argument;
    EXPECT_EQ(parseFileArgument(c.argument), c.file) << c.argument;
  }
  EXPECT_EQ(formatMessage("Error: %celse without matching %cif.", '!'),
            "Error: !else without matching !if.");
  EXPECT_EQ(formatMessage("Error: %cinclude file \"%s\" not found.", '#', "a"),
            "Error: #include file \"a\" not found.");
}

}  // namespace
}  // namespace qf
