#include "engine/active_file_list.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(ActiveFileList, TracksTheIncludeChainWithLines) {
  ActiveFileList files;
  long& outer = files.pushActiveFile("site/index.src");
  outer = 2;
  long& middle = files.pushActiveFile("site/parts/menu.inc");
  middle = 4;
  for (int i = 0; i < 100; ++i) files.pushActiveFile("deeper");  // counters stay valid
  EXPECT_EQ(outer, 2);
  for (int i = 0; i < 100; ++i) files.popActiveFile();
  files.pushActiveFile("site/parts/nav.inc") = 7;

  EXPECT_TRUE(files.isActiveFile("site/index.src"));
  EXPECT_FALSE(files.isActiveFile("SITE/index.src"));
  EXPECT_FALSE(files.isActiveFile("site/./index.src"));
  EXPECT_FALSE(files.isActiveFile(""));
  const std::vector<IncludeSite> chain = files.includeChain();
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0].path, "site/parts/menu.inc");
  EXPECT_EQ(chain[0].line, 4);
  EXPECT_EQ(chain[1].path, "site/index.src");
  EXPECT_EQ(chain[1].line, 2);

  files.popActiveFile();
  EXPECT_FALSE(files.isActiveFile("site/parts/nav.inc"));
  files.clearActiveFiles();
  files.popActiveFile();
  EXPECT_EQ(files.size(), 0u);
  EXPECT_TRUE(files.includeChain().empty());
}

}  // namespace
}  // namespace qf
