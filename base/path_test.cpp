#include "base/path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace qf {
namespace {

struct PathCase {
  const char* path;
  const char* extension;
  const char* withoutExtension;
  const char* fileName;
  const char* directory;
};

const PathCase kPathCases[] = {
    {"PIC.JPG", "JPG", "PIC", "PIC.JPG", ""},
    {"file.", "", "file", "file.", ""},
    {"noext", "", "noext", "noext", ""},
    {"dir/.profile", "profile", "dir/", ".profile", "dir/"},
    {".profile", "profile", "", ".profile", ""},
    {"C:\\site\\img\\a.gif", "gif", "C:\\site\\img\\a", "C:\\site\\img\\a.gif", ""},
    {"C:a.gif", "gif", "C:a", "C:a.gif", ""},
    {"site/a\\b.src", "src", "site/a\\b", "a\\b.src", "site/"},
    {"x:y/c\\d", "", "x:y/c\\d", "c\\d", "x:y/"},
    {"site/", "", "site/", "", "site/"},
    {"web.site/index", "", "web.site/index", "index", "web.site/"},
    {"a.tar.gz", "gz", "a.tar", "a.tar.gz", ""},
    {"C:\\site\\page.src", "src", "C:\\site\\page", "C:\\site\\page.src", ""},
    {"C:\\my.dir\\page", "dir\\page", "C:\\my", "C:\\my.dir\\page", ""},
    {"page.src", "src", "page", "page.src", ""},
    {"/", "", "/", "", "/"},
    {"site/sub/", "", "site/sub/", "", "site/sub/"},
    {"", "", "", "", ""},
    {"out/sub/page.html", "html", "out/sub/page", "page.html", "out/sub/"},
    {"out/a\\b:c.html", "html", "out/a\\b:c", "a\\b:c.html", "out/"},
    {"/page.html", "html", "/page", "page.html", "/"},
    {"a\\b.c\\d", "c\\d", "a\\b", "a\\b.c\\d", ""},
};

TEST(Path, SplitsEveryExample) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(extensionOf(c.path), c.extension);
    EXPECT_EQ(withoutExtension(c.path), c.withoutExtension);
    EXPECT_EQ(fileNameOf(c.path), c.fileName);
    std::string cut = c.path;
    cutToDirectory(cut);
    EXPECT_EQ(cut, c.directory);
    EXPECT_EQ(directoryOf(c.path), c.directory);
  }
}

TEST(Path, NamesFromSourcesTakeBackslashesAsSlashes) {
  EXPECT_EQ(withForwardSlashes("img\\logo.gif"), "img/logo.gif");
  EXPECT_EQ(withForwardSlashes("..\\a/b\\"), "../a/b/");
  EXPECT_EQ(withForwardSlashes("c:d"), "c:d");
}

TEST(Path, NormalFormDropsDotsAndDoubledSlashes) {
  const struct {
    const char* path;
    const char* normal;
    const char* parent;
  } cases[] = {
      {"", "", "."},
      {".", ".", "."},
      {"./", ".", "."},
      {"a", "a", "."},
      {"a/", "a/", "a"},
      {"a//b///", "a/b/", "a/b"},
      {"a/./b", "a/b", "a"},
      {"a/.", "a/", "a"},
      {"a/b/..", "a/", "a"},
      {"a/b/../..", ".", "."},
      {"../a/../..", "../..", ".."},
      {"../", "..", "."},
      {"/", "/", "/"},
      {"//a", "/a", "/"},
      {"/../a", "/a", "/"},
      {"/..", "/", "/"},
      {"/a/b/../../..", "/", "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lexicallyNormal(c.path), c.normal) << c.path;
    EXPECT_EQ(parentOf(c.path), c.parent) << c.path;
  }
}

TEST(Path, NormalFormIsTheStandardLibrarysOnRandomPaths) {
  const char* const pieces[] = {"a", "bc", ".", "..", "/", "//"};
  std::mt19937 random(11);
  for (int i = 0; i < 5000; ++i) {
    std::string path;
    for (int n = static_cast<int>(random() % 7); n > 0; --n) path += pieces[random() % 6];
    EXPECT_EQ(lexicallyNormal(path),
              std::filesystem::path(path).lexically_normal().generic_string())
        << path;
  }
}

TEST(Path, TrailingSlashIsAddedOnlyWhenMissing) {
  EXPECT_EQ(withTrailingSlash("site"), "site/");
  EXPECT_EQ(withTrailingSlash("site/"), "site/");
  EXPECT_EQ(withTrailingSlash(""), "");
}

TEST(Path, JoinsWithOneSlash) {
  const struct {
    const char* directory;
    const char* name;
    const char* joined;
  } cases[] = {
      {"site", "a", "site/a"}, {"site/", "a", "site/a"}, {"/", "a", "/a"},
      {"", "a", "a"},          {"site", "", "site"},     {"", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(joinPath(c.directory, c.name), c.joined) << c.directory;
  EXPECT_EQ(withoutTrailingSlashes("site//"), "site");
  EXPECT_EQ(withoutTrailingSlashes("//"), "/");
}

TEST(Path, InsideMeansTheDirectoryOrBelowItNameByName) {
  const struct {
    const char* path;
    const char* directory;
    bool inside;
  } cases[] = {
      {"/site", "/site", true},   {"/site/a", "/site", true}, {"/site/a", "/site/", true},
      {"/site/", "/site", true},  {"/site2", "/site", false}, {"/site2/a", "/site/", false},
      {"/sit", "/site", false},   {"/", "/site", false},      {"/etc/passwd", "/", true},
      {"out/sub/a", "out", true}, {"outer/a", "out", false},  {"a", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isInsideDirectory(c.path, c.directory), c.inside) << c.path << " in " << c.directory;
  }
}

}  // namespace
}  // namespace qf
