#include "batch/state_path.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(DefaultStatePath, OneFilePerDirectoryInTheCache) {
  struct Case {
    const char* cacheHome;
    const char* home;
    const char* prefix;
  } cases[] = {
      {"/c", "/h", "/c/quillforge/my_site-"},
      {"relative", "/h", "/h/.cache/quillforge/my_site-"},
      {"", "/h/", "/h/.cache/quillforge/my_site-"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const std::string path = defaultStatePath("/work/my site/", c.cacheHome, c.home);
    EXPECT_EQ(path.substr(0, std::string(c.prefix).size()), c.prefix) << c.cacheHome;
  }
  EXPECT_NE(defaultStatePath("/a/site", "/c", ""), defaultStatePath("/b/site", "/c", ""));
  EXPECT_EQ(defaultStatePath("/a/site/", "/c", ""), defaultStatePath("/a/site", "/c", ""));
}

}  // namespace
}  // namespace qf
