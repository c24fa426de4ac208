#include "batch/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace qf
