#include "engine/text_readings.h"

#include <gtest/gtest.h>

#include "engine/source_processor.h"

namespace qf {
namespace {

std::optional<IncludeGuard> guardOf(const std::string& text, char directive = '#') {
  return SourceProcessor::findIncludeGuard(std::make_shared<const std::string>(text),
                                           {directive, '|', kLineBufferSize});
}

// Each fixed definition of text as "line: name=text", in line order.
std::vector<std::string> fixedDefinitionsOf(const std::string& text, char directive = '#') {
  const FixedDefinitions fixed = SourceProcessor::findFixedDefinitions(
      std::make_shared<const std::string>(text), {directive, '|', kLineBufferSize});
  std::vector<std::string> found;
  for (std::size_t line = 0; line < 20; ++line) {
    if (const auto definition = fixed.at(line)) {
      found.push_back(std::to_string(line) + ": " + std::string(definition->name) + "=" +
                      std::string(definition->text) + " @" + std::to_string(definition->end));
    }
  }
  return found;
}

TEST(IncludeGuard, IsFoundOnlyWhereSkippingTheTextDoesNothingButLookUp) {
  struct Case {
    const char* what;
    std::string text;
    std::optional<std::vector<std::string>> symbols;  // the guard's, then its lookups
  };
  const Case cases[] = {
      {"the usual guard", "#ifndef G\n#define G\n<p>x</p>\n#endif\n", {{"G"}}},
      {"no last line end", "#ifndef G\n#define G 1\n#endif", {{"G"}}},
      {"Windows line ends", "#ifndef G\r\n#define G\r\n#endif\r\n", {{"G"}}},
      {"conditionals inside",
       "#ifndef G\n#ifdef A\n#else\n#ifndef B\n#endif\n#endif\n#endif\n",
       {{"G", "A", "B"}}},
      {"directives not obeyed inside",
       "#ifndef G\n#include \"x\"\n#bogus\n#undefine\n#endif\n",
       {{"G"}}},
      {"a blank line after", "#ifndef G\n#endif\n\n", std::nullopt},
      {"text before", "x\n#ifndef G\n#endif\n", std::nullopt},
      {"another first directive", "#ifdef G\n#endif\n", std::nullopt},
      {"a malformed guard", "#ifndef !\n#endif\n", std::nullopt},
      {"an #else of the guard's own", "#ifndef G\n#else\nx\n#endif\n", std::nullopt},
      {"the guard closed early", "#ifndef G\n#endif\n#ifndef H\n#endif\n", std::nullopt},
      {"the guard never closed", "#ifndef G\n#ifdef A\n#endif\n", std::nullopt},
      {"a probe inside", "#ifndef G\n#ifexists \"a.inc\"\n#endif\n#endif\n", std::nullopt},
      {"a malformed conditional inside", "#ifndef G\n#ifdef\n#endif\n#endif\n", std::nullopt},
      {"a directive substitution may change", "#ifndef G\n#|X| A\n#endif\n", std::nullopt},
      {"nothing", "", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<IncludeGuard> guard = guardOf(c.text);
    ASSERT_EQ(guard.has_value(), c.symbols.has_value()) << c.what;
    if (!guard) continue;
    std::vector<std::string> symbols = {guard->symbol};
    symbols.insert(symbols.end(), guard->lookups.begin(), guard->lookups.end());
    EXPECT_EQ(symbols, *c.symbols) << c.what;
  }
  EXPECT_TRUE(guardOf("!ifndef G\n#ifdef A\n!endif\n", '!')) << "another directive character";
}

TEST(IncludeGuard, TooManyConditionalsInsideAreLeftToFail) {
  std::string text = "#ifndef G\n";
  for (int i = 1; i < kMaxConditionals; ++i) text += "#ifdef A\n";
  std::string closing;
  for (int i = 1; i < kMaxConditionals; ++i) closing += "#endif\n";
  EXPECT_TRUE(guardOf(text + closing + "#endif\n"));
  EXPECT_FALSE(guardOf(text + "#ifdef A\n#endif\n" + closing + "#endif\n"));
}

// A define directive is fixed when no substitution pass can change it: it
// then defines what it says, wherever it is read outside a false conditional.
TEST(FixedDefinitions, AreTheDefineLinesNoSubstitutionChanges) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* what;
    std::string text;
    Lines expected;
    char directive = '#';
  };
  const Case cases[] = {
      {"plain and spaced",
       "#define A 1\n#define  B   two words \n",
       {"1: A=1 @12", "2: B=two words  @36"}},
      {"no text", "#define A\n#define B \n", {"1: A= @10", "2: B= @21"}},
      {"among other lines", "<p>\n#ifdef X\n#define A x\n#endif\n#undefine A\n", {"3: A=x @25"}},
      {"Windows line ends and no last line end",
       "#define A 1\r\n#define B 2",
       {"1: A=1 @13", "2: B=2 @24"}},
      {"a byte-order mark first", "\xEF\xBB\xBF#define A 1\n", {"1: A=1 @15"}},
      {"one substitution may change",
       "#define A |B|\n#define C 1|2|3\n#define D |\n",
       {"3: D=| @42"}},
      {"malformed or other keywords", "#define !\n#defineA 1\n# define A 1\n#definer A\n", {}},
      {"another directive character", "!define A 1\n#define B 2\n", {"1: A=1 @12"}, '!'},
      {"nothing", "", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixedDefinitionsOf(c.text, c.directive), c.expected) << c.what;
  }
}

// Each text's guard and fixed definitions are found once for each reading,
// and the readings hold no text.
TEST(TextReadings, FindWhatATextHoldsOnceForEachReading) {
  TextReadings readings;
  const auto text = std::make_shared<const std::string>("#ifndef G\n#define A 1\n#endif\n");
  const TextReadings::Reading hash{'#', '|', kLineBufferSize};
  const TextReadings::Reading bang{'!', '|', kLineBufferSize};
  int found = 0;
  const auto findGuard = [&] {
    ++found;
    return SourceProcessor::findIncludeGuard(text, hash);
  };
  const auto findFixed = [&] {
    ++found;
    return SourceProcessor::findFixedDefinitions(text, hash);
  };
  for (int again = 0; again < 2; ++again) {
    ASSERT_NE(readings.guardOf(text, hash, findGuard), nullptr);
    ASSERT_NE(readings.fixedDefinitionsOf(text, hash, findFixed), nullptr);
  }
  EXPECT_EQ(found, 2);
  readings.guardOf(text, bang, findGuard);
  readings.fixedDefinitionsOf(text, bang, findFixed);
  EXPECT_EQ(found, 4);
  EXPECT_EQ(text.use_count(), 1) << "the readings hold no text";
  EXPECT_EQ(readings.fixedDefinitionsOf(std::make_shared<const std::string>("x\n"), hash,
                                        [] { return FixedDefinitions(); }),
            nullptr);
}

}  // namespace
}  // namespace qf
