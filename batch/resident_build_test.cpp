#include "batch/resident_build.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/test_util.h"
#include "batch/compile_pool.h"

namespace qf {

void PrintTo(const ChangeScope& scope, std::ostream* out) {
  *out << (scope.replan ? "replan" : "keep plan") << ", pages";
  for (const std::size_t page : scope.pages) *out << " " << page;
  if (!scope.assets) *out << ", all assets";
  if (scope.assets) *out << ", assets " << testing::PrintToString(*scope.assets);
}

namespace {

// A small site built once: dated.src (uses the date), other.src (plain),
// page.src (includes head.inc, probes maybe.txt), and an asset.
struct ResidentSite {
  ResidentSite() {
    dir.write("site/dated.src", "_DAY_\n");
    dir.write("site/other.src", "other\n");
    dir.write("site/page.src", "#include \"head.inc\"\n#ifexists \"maybe.txt\"\nM\n#endif\n");
    dir.write("site/inc/head.inc", "head\n");
    dir.write("site/logo.png", "PNG");
    IncrementalOptions options;
    options.batch.sourceDirectory = dir / "site/";
    options.batch.outputDirectory = dir / "out/";
    options.batch.useOutputDirectory = true;
    options.batch.includeDirectory = dir / "site/inc/";
    options.statePath = dir / "state.db";
    options.programVersion = "test";
    build = std::make_unique<ResidentBuild>(options, planDirectoryRun(options.batch));
    IncrementalBuild& run = build->begin(build->scopeOf({}, true));
    compileInParallel(run, [](std::size_t, const PoolPage&) {});
    run.finish();
  }

  TempDir dir;
  std::unique_ptr<ResidentBuild> build;
};

constexpr std::size_t kDated = 0, kOther = 1, kPage = 2;

TEST(ResidentBuild, ChangedPathsDecideWhatIsJudged) {
  using Assets = std::optional<std::vector<std::string>>;
  const Assets none = std::vector<std::string>{};
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> edit;
    std::vector<std::string> changed;  // below the temporary directory
    bool rescan;
    ChangeScope expected;
  } cases[] = {
      {"page edit",
       [](const TempDir& d) { d.write("site/other.src", "new\n"); },
       {"site/other.src"},
       false,
       {false, {kDated, kOther}, none}},
      {"include edit",
       [](const TempDir& d) { d.write("site/inc/head.inc", "h2\n"); },
       {"site/inc/head.inc"},
       false,
       {false, {kDated, kPage}, none}},
      {"probe appears",
       [](const TempDir& d) { d.write("site/maybe.txt", "m"); },
       {"site/maybe.txt"},
       false,
       {false, {kDated, kPage}, std::nullopt}},
      {"source added",
       [](const TempDir& d) { d.write("site/new.src", "n\n"); },
       {"site/new.src"},
       false,
       {true, {}, std::nullopt}},
      {"source removed",
       [](const TempDir& d) { ::unlink((d / "site/other.src").c_str()); },
       {"site/other.src"},
       false,
       {true, {}, std::nullopt}},
      {"directory made",
       [](const TempDir& d) { d.write("site/sub/x.txt", "x"); },
       {"site/sub"},
       false,
       {true, {}, std::nullopt}},
      {"asset changed",
       [](const TempDir& d) { d.write("site/logo.png", "GIF"); },
       {"site//logo.png"},
       false,
       {false, {kDated}, Assets{{"logo.png"}}}},
      {"asset removed",
       [](const TempDir& d) { ::unlink((d / "site/logo.png").c_str()); },
       {"site/logo.png"},
       false,
       {false, {kDated}, std::nullopt}},
      {"new file",
       [](const TempDir& d) { d.write("site/notes.txt", "n"); },
       {"site/notes.txt"},
       false,
       {false, {kDated}, std::nullopt}},
      {"unrelated file come and gone",
       [](const TempDir&) {},
       {"site/4913", "elsewhere/x.txt"},
       false,
       {false, {kDated}, none}},
      {"rescan", [](const TempDir&) {}, {}, true, {true, {}, std::nullopt}},
  };
  for (const Case& c : cases) {
    ResidentSite site;
    c.edit(site.dir);
    std::vector<std::string> changed;
    for (const std::string& path : c.changed) changed.push_back(site.dir / path);
    EXPECT_EQ(site.build->scopeOf(changed, c.rescan), c.expected) << c.name;
  }
}

// Once compiled anew, a page is found through what it depends on now.
TEST(ResidentBuild, FollowsWhatACompileNowDependsOn) {
  ResidentSite site;
  site.dir.write("site/inc/foot.inc", "foot\n");
  site.dir.write("site/other.src", "#include \"foot.inc\"\n");
  IncrementalBuild& run =
      site.build->begin(site.build->scopeOf({site.dir / "site/other.src"}, false));
  compileInParallel(run, [](std::size_t, const PoolPage&) {});
  run.finish();
  EXPECT_EQ(run.resultOf(kOther).status, PageStatus::kCompiled);
  site.build->persist();
  const ChangeScope scope = site.build->scopeOf({site.dir / "site/inc/foot.inc"}, false);
  EXPECT_EQ(scope.pages, (std::vector<std::size_t>{kDated, kOther}));
}

// Pages compiled anew drop out of the lists of what they no longer use, and
// stay in those of what they still use; the other pages stay where they were.
TEST(ResidentBuild, ForgetsWhatACompileNoLongerDependsOn) {
  struct Step {
    const char* page;  // below site/
    const char* text;
    std::vector<std::size_t> judgedForHead;  // then, when head.inc changes
  } steps[] = {
      {"other.src", "#include \"head.inc\"\n", {kDated, kOther, kPage}},
      {"page.src", "#include \"head.inc\"\nagain\n", {kDated, kOther, kPage}},
      {"other.src", "plain\n", {kDated, kPage}},
  };
  ResidentSite site;
  for (const Step& step : steps) {
    const std::string page = site.dir.write(std::string("site/") + step.page, step.text);
    IncrementalBuild& run = site.build->begin(site.build->scopeOf({page}, false));
    compileInParallel(run, [](std::size_t, const PoolPage&) {});
    run.finish();
    site.build->persist();
    EXPECT_EQ(site.build->scopeOf({site.dir / "site/inc/head.inc"}, false).pages,
              step.judgedForHead)
        << step.page << ": " << step.text;
  }
}

}  // namespace
}  // namespace qf
