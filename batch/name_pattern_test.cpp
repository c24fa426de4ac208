#include "batch/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "base/test_util.h"

namespace qf {
namespace {

struct PatternCase {
  const char* pattern;
  const char* name;
  bool matches;
};

const PatternCase kPatternCases[] = {
    {"*.src", "page.src", true},
    {"*.src", ".src", true},
    {"*.src", ".hidden.src", true},
    {"*.src", "page.SRC", false},
    {"*.src", "page.src.bak", false},
    {"*.src", "page.srcx", false},
    {"*.src", "pagesrc", false},
    {"*.src", "a.src.src", true},
    {"*", "", true},
    {"*", ".profile", true},
    {"", "", true},
    {"", "a", false},
    {"a", "", false},
    {"?", "a", true},
    {"?", "", false},
    {"?", "ab", false},
    {"??.src", "ab.src", true},
    {"??.src", "a.src", false},
    {"a*b*c", "abc", true},
    {"a*b*c", "aXbYbZc", true},
    {"a*b*c", "aXbYcZ", false},
    {"**x", "x", true},
    {"*?", "", false},
    {"*?", "z", true},
    {"[ab].src", "[ab].src", true},
    {"[ab].src", "a.src", false},
    {"a\\b", "a\\b", true},
    {"web*.src", "website.src", true},
    {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
};

TEST(NamePattern, MatchesEveryCase) {
  for (const PatternCase& c : kPatternCases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
    EXPECT_EQ(matchesNamePattern(c.pattern, c.name), c.matches);
  }
}

TEST(NamePattern, ManyStarsAgainstALongNameFinish) {
  const std::string name(5000, 'a');
  EXPECT_FALSE(matchesNamePattern("*a*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(matchesNamePattern("*a*a*a*a*a*a*a*a*", name));
}

TEST(ExcludePattern, SpellingsOfTheSamePathBecomeOne) {
  const struct {
    const char* pattern;
    const char* normal;
  } cases[] = {
      {"drafts", "drafts"},
      {"drafts/", "drafts"},
      {"./drafts", "drafts"},
      {"/drafts", "drafts"},
      {"//a/./b//", "a/b"},
      {"img/raw-*", "img/raw-*"},
      {"./", ""},
      {"/", ""},
      {"", ""},
      {"../x", "../x"},
      {".hidden/", ".hidden"},
      {"a/../b", "a/../b"},
  };
  for (const auto& c : cases) EXPECT_EQ(normalExcludePattern(c.pattern), c.normal) << c.pattern;
}

TEST(ExcludePattern, MatchesAnyLooksOnlyAlongThePattern) {
  TempDir dir;
  dir.write("site/img/raw-1.psd", "");
  dir.write("site/docs/a/notes.txt", "");
  dir.write("site/.cache/x", "");
  const std::string site = dir / "site/";
  const struct {
    const char* pattern;
    bool matches;
  } cases[] = {
      {"img", true},
      {"img/raw-*", true},
      {"*/a/*.txt", true},
      {".cache", true},
      {"*.psd", false},
      {"img/raw-1.psd/x", false},
      {"docs/*/nothing", false},
      {"notes.txt", false},
      {"missing", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(excludePatternMatchesAny(site, c.pattern), c.matches) << c.pattern;
  }
}

}  // namespace
}  // namespace qf
