#include "base/tree_walk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

// Writes down what the walk tells, in order: "enter d", "visit f", "visit d/",
// "outside l"; names in skip are not wanted.
class Recorder final : public TreeVisitor {
 public:
  explicit Recorder(std::set<std::string> skip = {}) : skip_(std::move(skip)) {}

  bool wanted(const std::string& relative, const DirectoryEntry&) override {
    return skip_.count(relative) == 0;
  }
  bool enter(const std::string& relative) override {
    events.push_back("enter " + relative);
    return true;
  }
  void visit(const std::string& relative, const DirectoryEntry& entry) override {
    events.push_back("visit " + relative + (entry.isDirectory ? "/" : ""));
  }
  void leadsOutside(const std::string& relative) override {
    events.push_back("outside " + relative);
  }

  std::vector<std::string> events;

 private:
  std::set<std::string> skip_;
};

std::vector<std::string> walked(const std::string& root, const TreeWalkOptions& options,
                                std::set<std::string> skip = {}) {
  Recorder recorder(std::move(skip));
  walkTree(root, recorder, options);
  return recorder.events;
}

TEST(WalkTree, SubDirectoriesFirstEachLevelInByteOrder) {
  TempDir dir;
  for (const char* file : {"site/b.txt", "site/a.txt", "site/sub/deeper/c.txt", "site/sub/s.txt",
                           "site/Z/z.txt", "site/skip/x.txt"}) {
    dir.write(file, "");
  }
  ASSERT_EQ(symlink("..", (dir / "site/sub/up").c_str()), 0);
  ASSERT_EQ(symlink("deeper", (dir / "site/sub/again").c_str()), 0);

  TreeWalkOptions options;
  EXPECT_EQ(walked(dir / "site", options, {"skip"}),
            (std::vector<std::string>{
                "enter ", "enter Z", "visit Z/z.txt", "enter sub", "enter sub/again",
                "visit sub/again/c.txt", "enter sub/deeper", "visit sub/deeper/c.txt",
                "visit sub/again/", "visit sub/deeper/", "visit sub/s.txt", "visit sub/up/",
                "visit Z/", "visit a.txt", "visit b.txt", "visit sub/"}));

  options.recurse = false;
  EXPECT_EQ(walked(dir / "site/sub/", options),
            (std::vector<std::string>{"enter ", "visit again/", "visit deeper/", "visit s.txt",
                                      "visit up/"}));
}

TEST(WalkTree, KeepingInsideTellsLinksThatLeadOutInsteadOfFollowingThem) {
  TempDir dir;
  dir.write("secret.txt", "s");
  dir.write("site2/other.txt", "o");
  dir.write("site/img/logo.png", "l");
  dir.write("site/.hidden/x", "");
  const struct {
    const char* target;
    const char* link;
  } links[] = {
      {"img/logo.png", "site/alias.png"},          // inside: followed
      {"img", "site/pictures"},                    // inside: followed
      {"../site/img/logo.png", "site/round.png"},  // out and back in: inside
      {"../secret.txt", "site/secret.txt"},        // outside
      {"../site2", "site/sibling"},                // a sibling with the root's name as prefix
      {"../..", "site/img/top"},                   // above the root
      {"nowhere", "site/dangling"},                // no target: visited, for the visitor to judge
      {"../secret.txt", "site/.hidden/link"},      // not wanted: not told
  };
  for (const auto& l : links) ASSERT_EQ(symlink(l.target, (dir / l.link).c_str()), 0) << l.link;
  ASSERT_EQ(symlink((dir / "secret.txt").c_str(), (dir / "site/absolute.txt").c_str()), 0);

  TreeWalkOptions options;
  options.keepInside = true;
  EXPECT_EQ(walked(dir / "site/", options, {".hidden"}),
            (std::vector<std::string>{
                "enter ", "outside absolute.txt", "outside secret.txt", "outside sibling",
                "enter img", "outside img/top", "visit img/logo.png", "enter pictures",
                "outside pictures/top", "visit pictures/logo.png", "visit alias.png",
                "visit dangling", "visit img/", "visit pictures/", "visit round.png"}));
}

}  // namespace
}  // namespace qf
