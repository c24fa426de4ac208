#include "ui/help_document.h"

#include <gtest/gtest.h>

#include "base/test_util.h"

namespace qf {
namespace {

// A program installed under prefix/bin, run from work/, built for installed/.
struct Tree {
  TempDir root;
  ManualPlaces places{root / "work", root / "prefix/bin", root / "installed"};
  Tree() {
    root.write("prefix/bin/quillforge", "");
    root.write("work/page.src", "");
  }
};

TEST(FindManual, TakesTheFirstPlaceThatHoldsTheManual) {
  struct Case {
    const char* name;
    std::vector<const char*> manuals;  // the copies that exist, under root
    const char* expected;              // under root
  };
  const Case kCases[] = {
      {"current directory first",
       {"work/manual.html", "prefix/bin/manual.html", "prefix/share/doc/quillforge/manual.html",
        "installed/manual.html"},
       "work/manual.html"},
      {"then beside the program",
       {"prefix/bin/manual.html", "installed/manual.html"},
       "prefix/bin/manual.html"},
      {"then the documentation folder beside bin/",
       {"prefix/share/doc/quillforge/manual.html", "installed/manual.html"},
       "prefix/share/doc/quillforge/manual.html"},
      {"then the installed documentation folder",
       {"installed/manual.html"},
       "installed/manual.html"},
      {"none: the current directory's name", {}, "work/manual.html"},
  };
  for (const Case& c : kCases) {
    Tree tree;
    for (const char* manual : c.manuals) tree.root.write(manual, "<html></html>\n");
    EXPECT_EQ(findManual(tree.places), tree.root / c.expected) << c.name;
  }
}

TEST(FindManual, SkipsADirectoryNamedLikeTheManual) {
  Tree tree;
  tree.root.write("work/manual.html/index.html", "");
  tree.root.write("installed/manual.html", "<html></html>\n");
  EXPECT_EQ(findManual(tree.places), tree.root / "installed/manual.html");
}

TEST(FindManual, IgnoresEmptyPlaces) {
  TempDir root;
  root.write("installed/manual.html", "<html></html>\n");
  EXPECT_EQ(findManual({"", "", root / "installed"}), root / "installed/manual.html");
  EXPECT_EQ(findManual({"", "", ""}), "");
}

}  // namespace
}  // namespace qf
