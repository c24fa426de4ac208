#include "base/site_path.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(IsEditorScratchName, KnowsTheUsualSpellings) {
  const struct {
    const char* name;
    bool scratch;
  } cases[] = {
      {"page.src~", true}, {"style.css~", true}, {"#page.src#", true},    {".#page.src", true},
      {"4913", true},      {"page.swp", true},   {".page.src.swx", true}, {"page.bck", true},
      {"page.src", false}, {"49130", false},     {"a#b", false},          {"#page.src", false},
      {"#", false},        {"~page", false},     {".hidden", false},      {"swp", false},
      {"bck", false},      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isEditorScratchName(c.name), c.scratch) << c.name;
}

TEST(BelongsToSite, NoHiddenNameAndNoScratchFileAnywhereInThePath) {
  const struct {
    const char* relative;
    bool belongs;
  } cases[] = {
      {"index.html", true},
      {"img/logo.png", true},
      {"sub/", true},
      {"", true},
      {"a//b", true},
      {"a..b/c..", true},
      {".env", false},
      {".git/config", false},
      {"sub/.htaccess", false},
      {"a/.hidden/b.css", false},
      {"style.css~", false},
      {"#page.html#", false},
      {"sub/.#page.src", false},
      {"4913", false},
      {"img/x.swp", false},
      {"backup~/x.css", false},
      {".well-known/x", false},
      {"sub/../x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(belongsToSite(c.relative), c.belongs) << c.relative;
}

}  // namespace
}  // namespace qf
