#include "serve/request_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "base/file_system.h"
#include "base/test_util.h"

namespace qf {
namespace {

TEST(RequestPathBelowRoot, DecodesAndTidiesPlainPaths) {
  const struct {
    const char* target;
    const char* relative;
  } cases[] = {
      {"/", ""},
      {"/index.html", "index.html"},
      {"/a/b.css?v=3#top", "a/b.css"},
      {"/a%20b/c%2Ehtml", "a b/c.html"},
      {"//a///b/", "a/b/"},
      {"/./a/./b", "a/b"},
      {"/a%2Fb", "a/b"},
      {"/%252e%252e/x", "%2e%2e/x"},  // decoded once: a name, not a step up
      {"/...", "..."},
      {"/..a/b..", "..a/b.."},
      {"/caf%C3%A9.html", "caf\xc3\xa9.html"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(requestPathBelowRoot(c.target), std::optional<std::string>(c.relative)) << c.target;
  }
}

TEST(RequestPathBelowRoot, RefusesEverySpellingOfAStepUp) {
  const char* hostile[] = {
      "/..",
      "/../secret",
      "/a/../../secret",
      "/%2e%2e/secret",
      "/%2E%2E/secret",
      "/.%2e/secret",
      "/%2e./secret",
      "/..%2fsecret",
      "/..%2Fsecret",
      "//..//secret",
      "/..\\secret",
      "/%2e%2e%5csecret",
      "/a\\..\\..\\secret",
      "/a%5c..%5csecret",
      "/a/%2e%2e",
      "/a/..?x=/",
      "secret",
      "",
      "http://x/secret",
      "/%00",
      "/a%0a",
      "/%",
      "/%2",
      "/%zz",
  };
  for (const char* target : hostile)
    EXPECT_EQ(requestPathBelowRoot(target), std::nullopt) << target;
}

TEST(ResolveBelowRoot, FollowsLinksOnlyWithinTheRoot) {
  TempDir dir;
  dir.write("secret", "s");
  dir.write("site/page.html", "p");
  dir.write("site/sub/index.html", "i");
  dir.write("site/empty/.keep", "");
  dir.write("site/.env", "e");
  dir.write("site/.git/config", "c");
  dir.write("site/page.html~", "p");
  dir.write("site/#page.html#", "p");
  // A sibling whose name begins with the root's name is still outside it.
  dir.write("site-old/page.html", "o");
  dir.write("siteX/index.html", "x");
  ASSERT_EQ(symlink("page.html", (dir / "site/alias.html").c_str()), 0);
  ASSERT_EQ(symlink("../secret", (dir / "site/out.html").c_str()), 0);
  ASSERT_EQ(symlink("..", (dir / "site/up").c_str()), 0);
  ASSERT_EQ(symlink("../../secret", (dir / "site/sub/deep.html").c_str()), 0);
  ASSERT_EQ(symlink("../site-old/page.html", (dir / "site/old.html").c_str()), 0);
  ASSERT_EQ(symlink("../siteX", (dir / "site/x").c_str()), 0);
  const std::string root = *resolvedPathOf(dir / "site");

  using Kind = Resolution::Kind;
  const struct {
    const char* relative;
    Kind kind;
    const char* file;  // below root
  } cases[] = {
      {"page.html", Kind::kFile, "page.html"},
      {"alias.html", Kind::kFile, "page.html"},
      {"", Kind::kFile, "index.html"},
      {"sub/", Kind::kFile, "sub/index.html"},
      {"sub", Kind::kDirectoryWithoutSlash, ""},
      {"empty/", Kind::kNotFound, ""},
      {"missing.html", Kind::kNotFound, ""},
      {"out.html", Kind::kOutside, ""},
      {"up/secret", Kind::kOutside, ""},
      {"up/", Kind::kOutside, ""},
      {"sub/deep.html", Kind::kOutside, ""},
      {".env", Kind::kNotFound, ""},
      {".git/config", Kind::kNotFound, ""},
      {".git/", Kind::kNotFound, ""},
      {"page.html~", Kind::kNotFound, ""},
      {"#page.html#", Kind::kNotFound, ""},
      {"old.html", Kind::kOutside, ""},
      {"x/", Kind::kOutside, ""},
      // A page asked for without its ".html", unless a directory has the name.
      {"page", Kind::kFile, "page.html"},
      {"alias", Kind::kFile, "page.html"},
      {"sub/deep", Kind::kNotFound, ""},
      {"page/", Kind::kNotFound, ""},
      {"sub.html", Kind::kFile, "sub.html"},
  };
  dir.write("site/sub.html", "not the directory");
  dir.write("site/index.html", "root");
  for (const auto& c : cases) {
    const Resolution found = resolveBelowRoot(root, c.relative);
    EXPECT_EQ(found.kind, c.kind) << c.relative;
    if (c.kind == Kind::kFile) {
      EXPECT_EQ(found.file, root + "/" + c.file) << c.relative;
      EXPECT_EQ(found.addedHtmlExtension, !std::string(c.relative).ends_with(".html") &&
                                              !std::string(c.file).ends_with("index.html"))
          << c.relative;
    }
  }
}

}  // namespace
}  // namespace qf
