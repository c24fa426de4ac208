#include "engine/output_line_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

// Each output line's origin as "file:line" with the chain after '<', the
// temporary directory's path removed.
std::vector<std::string> describe(const OutputLineMap& map, const std::string& root) {
  const auto relative = [&root](const std::string& path) {
    return path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
  };
  std::vector<std::string> lines;
  for (std::size_t i = 1; i <= map.lineCount(); ++i) {
    const auto origin = map.originOf(i);
    std::string text = relative(origin->path) + ":" + std::to_string(origin->line);
    for (const IncludeSite& site : origin->includedFrom) {
      text += " < " + relative(site.path) + ":" + std::to_string(site.line);
    }
    lines.push_back(text);
  }
  return lines;
}

class MappingObserver : public CompileObserver {
 public:
  void fileRead(const std::string&, bool, const FileStatus*) override {}
  void fileFound(const std::string&) override {}
  void fileMissing(const std::string&) override {}
  void dateSymbolUsed(std::string_view, std::string_view) override {}
  OutputLineMap* outputLineMap() override { return &map; }
  OutputLineMap map;
};

class OutputLineMapTest : public CompileFixture {};

TEST_F(OutputLineMapTest, EveryOutputLineComesFromTheLineThatBeganIt) {
  using Lines = std::vector<std::string>;
  struct Case {
    std::string page;
    Lines origins;
  } cases[] = {
      {"one\ntwo\n", {"index.src:1", "index.src:2"}},
      {"#define X y\n#ifdef Z\nskipped\n#endif\nX\n", {"index.src:5"}},
      {"top\n#include \"menu.inc\"\nend",
       {"index.src:1", "menu.inc:1 < index.src:2", "menu.inc:3 < index.src:2", "index.src:3"}},
      {"#include \"outer.inc\"\n",
       {"outer.inc:1 < index.src:1",
        "menu.inc:1 < outer.inc:2 < "
        "index.src:1",
        "menu.inc:3 < outer.inc:2 < index.src:1"}},
      {"#include \"open.inc\"\nafter\n", {"open.inc:1 < index.src:1", "index.src:2"}},
      {"a\r\nb\rc\n", {"index.src:1", "index.src:2", "index.src:2"}},
  };
  writeFiles({{"menu.inc", "<a\n# a comment\nhref=x>\n"},
              {"outer.inc", "o\n#include \"menu.inc\"\n"},
              {"open.inc", "no end"}});
  for (const Case& c : cases) {
    writeFiles({{"index.src", c.page}});
    MappingObserver observer;
    observer.map.enterFile("stale", {});
    observer.map.written(0, 9, "left from before\n");
    CompileRequest request;
    request.inputPath = dir_ / "index.src";
    request.outputPath = dir_ / "out.html";
    request.observer = &observer;
    ASSERT_TRUE(compiler_.compileFile(request)) << c.page;
    EXPECT_EQ(describe(observer.map, dir_.path()), c.origins) << c.page;
    EXPECT_FALSE(observer.map.originOf(c.origins.size() + 1)) << c.page;
  }
}

TEST(OutputLineMap, CountsLineEndsSplitAcrossWrites) {
  OutputLineMap map;
  const std::uint32_t file = map.enterFile("f", {});
  map.written(file, 1, "a\r");
  map.written(file, 2, "\nb");
  map.written(file, 3, "c\n");
  map.written(file, 4, "\n");
  EXPECT_EQ(describe(map, ""), (std::vector<std::string>{"f:1", "f:2", "f:4"}));
}

}  // namespace
}  // namespace qf
