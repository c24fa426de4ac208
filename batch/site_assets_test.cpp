#include "batch/site_assets.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

TEST(MatchesExcludePattern, MatchesWholePathsAndWhatDirectoriesHold) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  } cases[] = {
      {"*.psd", "logo.psd", true},
      {"*.psd", "img/logo.psd", false},  // '*' does not cross '/'
      {"img/*.psd", "img/logo.psd", true},
      {"*/*.psd", "img/logo.psd", true},
      {"drafts", "drafts/a/b.png", true},  // a directory takes what it holds
      {"drafts", "drafts.png", false},
      {"d?afts", "drafts/x", true},
      {"img/raw-*", "img/raw-1/big.tif", true},
      {"img/raw-*", "img/cooked.png", false},
      {"a/b/c", "a/b", false},
      {"", "x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(matchesExcludePattern(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
  }
}

TEST(ListAssets, ListsEveryFileButSourcesHiddenExcludedScratchAndTheOutput) {
  TempDir dir;
  for (const char* file :
       {"index.src", "style.css", "img/logo.png", "img/deep/er.gif", ".git/config", "img/.cache/x",
        "drafts/a.txt", "raw.psd", "public/index.html", "deps/index.html.d", "sub/page.src",
        "sub/notes.txt", "page.src~", "style.css~", "#page.src#", ".#page.src", "4913", "sub/x.swp",
        "y.swx"}) {
    dir.write(std::string("site/") + file, "x");
  }
  ASSERT_EQ(symlink("style.css", (dir / "site/link.css").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "site/dangling.css").c_str()), 0);
  ASSERT_EQ(symlink("..", (dir / "site/img/up").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "site/pipe").c_str(), 0600), 0);

  AssetScan scan;
  scan.sourceDirectory = dir / "site/";
  scan.excludes = {"drafts", "*.psd"};
  scan.skippedDirectories = {dir / "site/public/", dir / "site/deps/", dir / "site/gone/"};
  const AssetListing listing = listAssets(scan);
  EXPECT_EQ(listing.assets, (std::vector<std::string>{"img/deep/er.gif", "img/logo.png",
                                                      "sub/notes.txt", "link.css", "style.css"}));
  EXPECT_EQ(listing.linksOutside, std::vector<std::string>{});
}

TEST(ListAssets, LinksLeadingOutsideAreToldAndNotListed) {
  TempDir dir;
  dir.write("secret.txt", "s");
  dir.write("private/key", "k");
  dir.write("site/img/logo.png", "l");
  const struct {
    const char* target;
    const char* link;
  } links[] = {
      {"../secret.txt", "site/secret.txt"}, {"../../private", "site/img/private"},
      {"img/logo.png", "site/alias.png"},   {"../secret.txt", "site/.hidden.txt"},
      {"../secret.txt", "site/drafts"},     {"../secret.txt", "site/old.src"},
  };
  for (const auto& l : links) ASSERT_EQ(symlink(l.target, (dir / l.link).c_str()), 0) << l.link;

  AssetScan scan;
  scan.sourceDirectory = dir / "site/";
  scan.excludes = {"drafts"};
  const AssetListing listing = listAssets(scan);
  EXPECT_EQ(listing.assets, (std::vector<std::string>{"img/logo.png", "alias.png"}));
  EXPECT_EQ(listing.linksOutside, (std::vector<std::string>{"secret.txt", "img/private"}));
}

TEST(MirrorFile, CopiesBytesAndTimeAndKeepsACopyThatHoldsTheBytes) {
  constexpr long long kTime = 1000000000LL * 1700000000;
  struct Case {
    const char* name;
    const char* existing;  // nullptr: no copy yet
    bool kept;             // the existing copy stays the same file
  } cases[] = {
      {"new", nullptr, false},
      {"equal bytes", "body{}", true},
      {"other bytes of the same size and time", "body{]", false},
      {"shorter", "body", false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string from = dir.write("from.css", "body{}");
    ASSERT_TRUE(setModifiedTime(from, kTime));
    const std::string to = dir / "out/css/to.css";
    std::optional<FileIdentity> before;
    if (c.existing) {
      dir.write("out/css/to.css", c.existing);
      ASSERT_TRUE(setModifiedTime(to, kTime));
      before = statusOf(to)->identity;
    }
    ASSERT_TRUE(mirrorFile(from, to, kTime)) << c.name;
    EXPECT_EQ(readFile(to), "body{}") << c.name;
    EXPECT_EQ(statusOf(to)->modifiedNs, kTime) << c.name;
    EXPECT_EQ(before && statusOf(to)->identity == *before, c.kept) << c.name;
  }
}

}  // namespace
}  // namespace qf
