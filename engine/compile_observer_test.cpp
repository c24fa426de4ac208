#include "engine/compile_observer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/compile_fixture.h"

namespace qf {
namespace {

// Every report as one line, with the temporary directory's path removed.
class RecordingObserver : public CompileObserver {
 public:
  explicit RecordingObserver(std::string root) : root_(std::move(root)) {}
  // A read the compile looked at itself must come with what is there now.
  void fileRead(const std::string& path, bool included, const FileStatus* status) override {
    const char* look = !status ? " (not looked at)" : *status == statusOf(path) ? "" : " (stale)";
    events.push_back((included ? "include " : "read ") + relative(path) + look);
  }
  void fileFound(const std::string& path) override { events.push_back("found " + relative(path)); }
  void fileMissing(const std::string& path) override {
    events.push_back("missing " + relative(path));
  }
  void dateSymbolUsed(std::string_view name, std::string_view text) override {
    events.push_back("date " + std::string(name) + "=" + std::string(text));
  }
  std::vector<std::string> events;

 private:
  std::string relative(const std::string& path) const {
    return path.rfind(root_, 0) == 0 ? path.substr(root_.size()) : path;
  }
  std::string root_;
};

class CompileObserverTest : public CompileFixture {
 protected:
  std::vector<std::string> observe(const std::vector<std::pair<std::string, std::string>>& defs) {
    RecordingObserver observer(dir_.path());
    CompileRequest request;
    request.inputPath = dir_ / "pages/index.src";
    request.outputPath = dir_ / "out.html";
    request.includeDirectory = dir_ / "inc/";
    request.definitions = defs;
    request.observer = &observer;
    compiler_.compileFile(request);
    return observer.events;
  }
};

TEST_F(CompileObserverTest, ReportsWhatTheCompileLookedAt) {
  using Events = std::vector<std::string>;
  struct Case {
    std::string page;
    Events events;
  } cases[] = {
      {"plain\n", {"read pages/index.src"}},
      {"#include \"head.inc\"\n",
       {"read pages/index.src", "missing pages/head.inc", "include inc/head.inc",
        "include inc/deeper.inc"}},
      {"#ifexists \"maybe.txt\"\n#endif\n#ifexists \"pages.txt\"\n#endif\n",
       {"read pages/index.src", "missing pages/maybe.txt", "found pages/pages.txt"}},
      {"#fileinfo \"pic.gif\"\n", {"read pages/index.src", "read pages/pic.gif (not looked at)"}},
      {"#include \"gone.inc\"\n",
       {"read pages/index.src", "missing pages/gone.inc", "missing inc/gone.inc"}},
      {"_DAY_ _MONTH_ x\n", {"read pages/index.src", "date _DAY_=07", "date _MONTH_=January"}},
      {"#define _YEAR_ mine\n_YEAR_ _TIME_\n", {"read pages/index.src", "date _TIME_=01:07 PM"}},
  };
  writeFiles({{"inc/head.inc", "#include \"deeper.inc\"\n"},
              {"inc/deeper.inc", "deep\n"},
              {"pages/pages.txt", ""},
              {"pages/pic.gif", "GIF89a"}});
  for (const Case& c : cases) {
    writeFiles({{"pages/index.src", c.page}});
    EXPECT_EQ(observe({}), c.events) << c.page;
  }
}

TEST_F(CompileObserverTest, ADefinitionThatShadowsADateSymbolIsNoDateLookup) {
  writeFiles({{"pages/index.src", "_DAY_\n"}});
  EXPECT_EQ(observe({{"_DAY_", "fixed"}}), (std::vector<std::string>{"read pages/index.src"}));
  EXPECT_EQ(readFile(dir_ / "out.html"), "fixed\n");
}

}  // namespace
}  // namespace qf
