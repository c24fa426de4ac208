#include "engine/include_guard.h"

#include <gtest/gtest.h>

#include "engine/source_processor.h"

namespace qf {
namespace {

std::optional<IncludeGuard> guardOf(const std::string& text, char directive = '#') {
  return SourceProcessor::findIncludeGuard(std::make_shared<const std::string>(text),
                                           {directive, '|', kLineBufferSize});
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

TEST(IncludeGuards, FindsEachTextsGuardOnceForEachReading) {
  IncludeGuards guards;
  const auto text = std::make_shared<const std::string>("#ifndef G\n#endif\n");
  int found = 0;
  const auto find = [&] {
    ++found;
    return std::optional<IncludeGuard>(IncludeGuard{"G", {}});
  };
  const IncludeGuards::Reading hash{'#', '|', kLineBufferSize};
  const IncludeGuards::Reading bang{'!', '|', kLineBufferSize};
  ASSERT_NE(guards.guardOf(text, hash, find), nullptr);
  guards.guardOf(text, hash, find);
  EXPECT_EQ(found, 1);
  guards.guardOf(text, bang, find);
  EXPECT_EQ(found, 2);
  EXPECT_EQ(text.use_count(), 1) << "the guards hold no text";
}

}  // namespace
}  // namespace qf
