#include "testing/differential.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

// Every page with every included text, the text at site/<name> and h.inc
// holding other: the compile engine writes and fails as the reference does.
void expectEnginesAgreeOnIncludedTexts(std::span<const char* const> included,
                                       std::span<const char* const> pages, const std::string& name,
                                       const std::string& other) {
  Compiler compiler(7);
  for (const char* text : included) {
    for (const char* page : pages) {
      DifferentialCase diffCase;
      diffCase.files = {{"site/index.src", page}, {"site/" + name, text}, {"site/h.inc", other}};
      diffCase.variants = {FastVariant{}, FastVariant{true, 7, false, 16, ScanPath::kPlain}};
      TempDir dir;
      EXPECT_EQ(compareEngines(diffCase, dir.path(), compiler), "") << text << "\n" << page;
    }
  }
}

// The compile engine, fed in every way it can be fed, writes what the
// reference engine writes and fails where it fails.
TEST(Differential, EnginesAgreeOnRandomSourceTrees) {
  Compiler compiler(7);
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    Draws draws(seed);
    const DifferentialCase diffCase = drawCase(draws);
    TempDir dir;
    ASSERT_EQ(compareEngines(diffCase, dir.path(), compiler), "") << "seed " << seed;
  }
}

// A guarded file included again is passed over; the compile must still write
// and fail as the reference engine, which reads every inclusion, does.
TEST(Differential, EnginesAgreeOnFilesIncludedAgain) {
  const char* const included[] = {
      "#ifndef G\n#define G\n<p>G</p>\n#endif\n",
      "#ifndef G\n<p>never defines G</p>\n#endif\n",
      "#ifndef G\n#define G\n#ifdef A\n#ifexists \"x.inc\"\n#endif\n#endif\n#endif\n",
      "#ifndef G\n#define G\n#else\n<p>again</p>\n#endif\n",
      "#ifndef G\n#define G\n#endif\n\n",
      "#ifndef G\n#define G\n#ifdef\n#endif\n#endif\n",
      "#ifndef G\n#define G\n#|W| A\n#endif\n",
      "#ifndef G\n#define G\n#ifdef A\n#endif\n",
      "#ifndef G\n#define G\n#include \"g.inc\"\n#endif",
      "#ifndef _DAY_\n#endif\n",
  };
  const char* const pages[] = {
      "#include \"g.inc\"\n#include \"g.inc\"\n",
      "#define W ifdef\n#include \"g.inc\"\n#undefine G\n#include \"g.inc\"\nG\n",
      "#define G 1\n#include \"g.inc\"\n#include \"h.inc\"\n",
  };
  expectEnginesAgreeOnIncludedTexts(included, pages, "g.inc", "#include \"g.inc\"\n");
}

// The define lines of a kept text that no substitution pass can change are
// obeyed, a run at a time, without reading them again; the compile must still
// write, count lines and fail as the reference engine does.
TEST(Differential, EnginesAgreeOnFixedDefinitions) {
  const char* const included[] = {
      "#define A 1\n#define B A A\n#define A 2\nA B\n",
      "#define A 1\n#define B 2\n#bogus\n",
      "#define A 1\r\n#define B 2\r\n#define\r\nA B\r\n",
      "\xEF\xBB\xBF#define A 1\n#define B 2",
      "#ifdef X\n#define A 1\n#define B 2\n#else\n#define B 3\n#endif\nA B\n",
      "#define A 1\n#|X| A\n#define B 2\n#define X endif\n#undefine A\nA B X\n",
      "#define A\n#define  B  spaced  \n#define !\n",
      "#define A 1\n#include \"h.inc\"\n#define B 2\nA B\n",
      "#ifndef G\n#define G\n#define A 1\n#define B 2\n#endif\n#ifdef\n",
  };
  const char* const pages[] = {
      "#include \"f.inc\"\nA B X\n",
      "#define X ifdef\n#include \"f.inc\"\n#undefine A\n#include \"f.inc\"\nA B\n",
      "#define A B\n#define B A\n#include \"h.inc\"\nA|B\n",
  };
  expectEnginesAgreeOnIncludedTexts(included, pages, "f.inc",
                                    "#define C 3\n#include \"f.inc\"\n#define D 4\n");
}

}  // namespace
}  // namespace qf
