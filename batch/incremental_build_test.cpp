#include "batch/incremental_build.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/test_util.h"
#include "batch/compile_pool.h"
#include "batch/resident_build.h"
#include "batch/run_messages.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

long long modifiedNsOf(const std::string& path) {
  const auto status = statusOf(path);
  return status ? status->modifiedNs : -1;
}

// How the tree at out differs from a full build's at fresh.
std::string treeDifferences(const std::string& out, const std::string& fresh,
                            const std::set<std::string>& failedOutputs) {
  std::string problems;
  TreeSnapshot ours = snapshotTree(out, true);
  const TreeSnapshot theirs = snapshotTree(fresh, true);
  // A page that fails keeps its earlier output, as every run does.
  for (const std::string& failed : failedOutputs) ours.erase(failed);
  ours.erase("mine.txt");  // the user's own file
  for (const auto& [path, bytes] : theirs) {
    const auto it = ours.find(path);
    if (it == ours.end()) {
      // What a failing page included in its last good compile is no asset;
      // a build without state cannot know it.
      if (path.ends_with(".inc") && !failedOutputs.empty()) continue;
      problems += "missing " + path + "\n";
    } else if (it->second != bytes) {
      problems += "differs " + path + ": '" + it->second + "' vs '" + bytes + "'\n";
    } else if (!path.ends_with(".html") && modifiedNsOf(out + path) != modifiedNsOf(fresh + path)) {
      problems += "time differs " + path + "\n";
    }
  }
  for (const auto& [path, bytes] : ours) {
    if (!theirs.count(path)) problems += "extra " + path + "\n";
  }
  return problems;
}

struct Outcome {
  std::vector<std::string> failureLines;
  int status = 0;
  std::set<std::string> failedOutputs;
  BuildReport report;
};

class SiteRun {
 public:
  explicit SiteRun(const TempDir& dir) : dir_(dir) {}

  IncrementalOptions options(const std::string& out, const std::string& state) const {
    IncrementalOptions o;
    o.batch.sourceDirectory = dir_ / "site/";
    o.batch.outputDirectory = out;
    o.batch.useOutputDirectory = true;
    o.batch.recursive = true;
    o.batch.includeDirectory = dir_ / "site/inc/";
    o.definitions = definitions;
    o.compileTime = compileTime;
    o.statePath = state;
    o.programVersion = "test";
    o.excludes = {"skip*"};
    o.jobs = jobs;
    o.checkLinks = true;
    return o;
  }

  Outcome build(const std::string& out, const std::string& state) const {
    const IncrementalOptions o = options(out, state);
    IncrementalBuild build(o, planDirectoryRun(o.batch));
    build.begin();
    return compile(build, out);
  }

  // A run of the resident build kept in resident (made when empty) after the
  // changes; the state is written after the run, as a preview does it.
  Outcome buildResident(std::unique_ptr<ResidentBuild>& resident, const std::string& out,
                        const std::string& state, const std::vector<std::string>& changed) const {
    const IncrementalOptions o = options(out, state);
    if (!resident) resident = std::make_unique<ResidentBuild>(o, planDirectoryRun(o.batch));
    const ChangeScope scope = resident->scopeOf(changed, false);
    IncrementalBuild& build = resident->begin(
        scope, scope.replan ? planDirectoryRun(o.batch) : std::vector<PlannedCompile>{});
    Outcome outcome = compile(build, out);
    resident->persist();
    return outcome;
  }

  static Outcome compile(IncrementalBuild& build, const std::string& out) {
    Outcome outcome;
    compileInParallel(build, [&](std::size_t index, const PoolPage& page) {
      if (page.ok) return;
      outcome.failureLines.push_back(page.failure);
      outcome.failedOutputs.insert(build.plan()[index].output.substr(out.size()));
    });
    outcome.report = build.finish();
    outcome.failureLines.insert(outcome.failureLines.end(), outcome.report.failures.begin(),
                                outcome.report.failures.end());
    outcome.status = outcome.report.exitStatus();
    return outcome;
  }

  std::vector<std::pair<std::string, std::string>> definitions;
  std::time_t compileTime = 1767791220;
  int jobs = 1;

 private:
  const TempDir& dir_;
};

// Random sites and random edits: after every step, the incremental build's
// output tree, failure lines and status equal those of a full build into a
// fresh directory without state.
class Differential {
 public:
  // Odd seeds compile on two threads.
  explicit Differential(unsigned seed) : random_(seed), run_(dir_) { run_.jobs = 1 + seed % 2; }

  void start() {
    write("inc/a.inc", "#include \"b.inc\"\nA\n");
    write("inc/b.inc", "B\n#include \"c.inc\"\n");
    write("inc/c.inc", "C _DAY_\n");
    write("pic.gif", gif(3, 4));
    write("style.css", "body{}\n");
    write("img/logo.png", "PNG");
    write(".hidden/secret.txt", "hidden");
    write("skip-me/x.txt", "excluded");
    for (int i = 0; i < 6; ++i) writePage(i);
  }

  /// Makes one random edit; true when the edit changed nothing.
  bool step() {
    const int choice = pick(14);
    const int page = pick(8);
    switch (choice) {
      case 0:
      case 1:
        writePage(page);
        break;
      case 2:
        remove(pagePath(page));
        break;
      case 3: {
        const char* includes[] = {"inc/a.inc", "inc/b.inc", "inc/c.inc"};
        write(includes[pick(3)], randomInclude());
        break;
      }
      case 4:
        toggle(pick(2) ? "maybe.txt" : "sub/maybe.txt", "here\n");
        break;
      case 5:
        write("pic.gif", gif(pick(300), pick(300)));
        break;
      case 6:
        dropResident();
        run_.definitions.clear();
        if (pick(2)) run_.definitions.push_back({"X", std::to_string(pick(3))});
        break;
      case 7:
        dropResident();
        run_.compileTime += pick(2) ? 60 : 86400 * pick(3);
        break;
      case 8:
        toggle(pick(2) ? "inc/gone.inc" : "gone.inc", "gone\n");
        break;
      case 9:
        toggle(pick(2) ? "img/new.png" : "sub/page1.html", "asset " + std::to_string(pick(9)));
        break;
      case 10:
        write("style.css", "body{color:" + std::to_string(pick(5)) + "}\n");
        break;
      case 11:
        toggle("sub/inc/a.inc", "#include \"c.inc\"\nshadow\n");
        break;
      case 12:
        rename(pagePath(page), pagePath((page + 1) % 8));
        break;
      default:
        return true;
    }
    return false;
  }

  // The comparison of one step; empty when both builds agree.
  std::string compare(int stepNumber, bool idle) {
    awaitFileClockPastEdits();
    const std::string out = dir_ / "out/";
    const std::string state = dir_ / "state/build.sqlite";
    const Outcome incremental = run_.build(out, state);
    const std::string fresh = dir_ / ("full" + std::to_string(stepNumber) + "/");
    const Outcome full = run_.build(fresh, "");
    std::string problems;
    if (incremental.failureLines != full.failureLines) problems += "failure lines differ\n";
    if (incremental.status != full.status) problems += "status differs\n";
    if (brokenLinkLines(incremental) != brokenLinkLines(full)) {
      problems +=
          "broken links differ:\n" + brokenLinkLines(incremental) + "vs\n" + brokenLinkLines(full);
    }
    problems += compareResident(fresh, full, idle);
    changed_.clear();
    // A second run with nothing changed compiles only the failed pages (the
    // first may still meet files changed within its recording's clock tick).
    if (idle) {
      const Outcome again = run_.build(out, state);
      if (again.report.compiled != again.report.failed || !again.report.changed.empty()) {
        problems +=
            "compiled " + std::to_string(again.report.compiled) + " pages though nothing changed\n";
      }
    }
    problems += treeDifferences(out, fresh, incremental.failedOutputs);
    problems += checkAgainstSources(out, incremental.failedOutputs);
    fs::remove_all(fresh);
    return problems;
  }

  // The resident build, fed the paths each step changed, leaves what a full
  // build leaves.
  std::string compareResident(const std::string& fresh, const Outcome& full, bool idle) {
    const std::string out = dir_ / "resident/";
    const std::string state = dir_ / "state/resident.sqlite";
    const Outcome resident = run_.buildResident(resident_, out, state, changed_);
    std::string problems;
    if (resident.failureLines != full.failureLines) problems += "resident: failure lines differ\n";
    if (resident.status != full.status) problems += "resident: status differs\n";
    if (brokenLinkLines(resident) != brokenLinkLines(full)) {
      problems += "resident: broken links differ:\n" + brokenLinkLines(resident) + "vs\n" +
                  brokenLinkLines(full);
    }
    if (idle) {
      const Outcome again = run_.buildResident(resident_, out, state, {});
      if (again.report.compiled != again.report.failed || !again.report.changed.empty()) {
        problems += "resident: compiled " + std::to_string(again.report.compiled) +
                    " pages though nothing changed\n";
      }
    }
    const std::string differences = treeDifferences(out, fresh, resident.failedOutputs);
    if (!differences.empty()) problems += "resident:\n" + differences;
    return problems;
  }

  static std::string brokenLinkLines(const Outcome& outcome) {
    std::string lines;
    for (const BrokenLink& link : outcome.report.brokenLinks) lines += "  " + link.line;
    return lines;
  }

  // Options changed: the next resident build starts anew from the state, as
  // a new preview would.
  void dropResident() {
    if (resident_) resident_->persist();
    resident_.reset();
  }

  void prepareOutput() { mine_ = statusOf(dir_.write("out/mine.txt", "the user's own")); }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  // Builds start once the file clock has passed the last edit, so that idle
  // steps compile nothing.
  void awaitFileClockPastEdits() const { awaitFileClockPast(lastEditNs_); }

  // What a full build cannot show, as it is made by the same code: every
  // asset in the output holds its source's bytes (only included files may be
  // left out); the user's own file is
  // untouched; a page whose bytes stayed the same is still the same file
  // with the same time.
  std::string checkAgainstSources(const std::string& out, const std::set<std::string>& failed) {
    std::string problems;
    const std::string site = dir_ / "site/";
    for (const auto& [path, bytes] : snapshotTree(site, true)) {
      if (path.ends_with(".src") || path.starts_with(".") || path.find("/.") != std::string::npos ||
          path.starts_with("skip")) {
        continue;
      }
      if (path.ends_with(".html") && pathExists(site + path.substr(0, path.size() - 5) + ".src")) {
        continue;  // a page's output has that name too
      }
      // A file that pages include is no asset; any other is mirrored.
      const std::string copy = readFile(out + path);
      if (copy != bytes && (copy != "<missing>" || !path.ends_with(".inc"))) {
        problems += "asset not mirrored " + path + "\n";
      }
    }
    if (readFile(out + "mine.txt") != "the user's own" || statusOf(out + "mine.txt") != mine_) {
      problems += "a file of the user's was touched\n";
    }
    std::map<std::string, WrittenPage> pages;
    for (const auto& [path, bytes] : snapshotTree(out, true)) {
      if (!path.ends_with(".html") ||
          !pathExists(site + path.substr(0, path.size() - 5) + ".src")) {
        continue;
      }
      const std::optional<FileStatus> status = statusOf(out + path);
      pages[path] = {bytes, status.value_or(FileStatus{})};
      const auto before = pages_.find(path);
      if (before != pages_.end() && before->second.bytes == bytes &&
          before->second.status != pages[path].status && !failed.count(path)) {
        problems += "unchanged page rewritten " + path + "\n";
      }
    }
    pages_ = std::move(pages);
    return problems;
  }

  std::string pagePath(int page) const {
    return (page % 2 ? "sub/page" : "page") + std::to_string(page) + ".src";
  }

  void writePage(int page) {
    static const char* kLines[] = {
        "#include \"a.inc\"\n",
        "#include \"c.inc\"\n",
        "#ifexists \"maybe.txt\"\nmaybe here\n#else\nmaybe not\n#endif\n",
        "#fileinfo \"pic.gif\"\n_FILEW_ x _FILEH_ _FILEB_\n",
        "#fileinfo \"../pic.gif\"\n_FILEW_ x _FILEH_\n",
        "_DAY_ _MONTH_ _YEAR_\n",
        "_TIME_\n",
        "X is X\n",
        "#ifdef X\nX defined\n#endif\n",
        "#include \"gone.inc\"\n",
        "plain text\n",
        "_INFILETITLE_ _OUTFILETITLE_\n",
        "<p id=\"here\"><a href=\"#here\"></a> <a href=\"page2.html#here\">2</a>\n",
        "<a href=\"/sub/page3.html#here\"><img srcset=\"/img/new.png 2x, img/logo.png\"></a>\n",
        "<a href=\"/Style.css\"></a><a href=\"page1.html\"></a>\n",
    };
    std::string text;
    for (int n = pick(5); n >= 0; --n) text += kLines[pick(sizeof kLines / sizeof *kLines)];
    write(pagePath(page), text);
  }

  std::string randomInclude() {
    static const char* kTexts[] = {"#include \"b.inc\"\nA2\n",
                                   "#include \"c.inc\"\nA3\n",
                                   "B _MONTH_\n",
                                   "C\n",
                                   "#ifexists \"maybe.txt\"\nM\n#endif\n",
                                   "#include \"gone.inc\"\n",
                                   "#include \"b.inc\"\n",
                                   "<a href=\"../page4.html#here\">C</a>\n"};
    return kTexts[pick(sizeof kTexts / sizeof *kTexts)];
  }

  void write(const std::string& relative, const std::string& text) {
    changed_.push_back(dir_ / ("site/" + relative));
    noteEdit(dir_.write("site/" + relative, text));
  }
  void noteEdit(const std::string& path) {
    lastEditNs_ = std::max(lastEditNs_, latestFileTime({path}));
  }
  void remove(const std::string& relative) {
    changed_.push_back(dir_ / ("site/" + relative));
    ::unlink((dir_ / ("site/" + relative)).c_str());
  }
  void rename(const std::string& from, const std::string& to) {
    changed_.push_back(dir_ / ("site/" + from));
    changed_.push_back(dir_ / ("site/" + to));
    ::rename((dir_ / ("site/" + from)).c_str(), (dir_ / ("site/" + to)).c_str());
    noteEdit(dir_ / ("site/" + to));  // a rename changes the file's change time
  }
  void toggle(const std::string& relative, const std::string& text) {
    if (pathExists(dir_ / ("site/" + relative))) {
      remove(relative);
    } else {
      write(relative, text);
    }
  }

  static std::string gif(int width, int height) {
    std::string bytes = "GIF89a";
    bytes += static_cast<char>(width & 0xff);
    bytes += static_cast<char>(width >> 8);
    bytes += static_cast<char>(height & 0xff);
    bytes += static_cast<char>(height >> 8);
    return bytes + std::string(static_cast<std::size_t>(width % 7), 'x');
  }

  struct WrittenPage {
    std::string bytes;
    FileStatus status;
  };

  TempDir dir_;
  std::mt19937 random_;
  SiteRun run_;
  long long lastEditNs_ = 0;
  std::optional<FileStatus> mine_;
  std::map<std::string, WrittenPage> pages_;  // the pages of the last comparison
  std::unique_ptr<ResidentBuild> resident_;
  std::vector<std::string> changed_;  // paths the edits since the last comparison touched
};

// What a preview reloads: the outputs a run reports changed, step after step.
TEST(IncrementalBuild, ReportsOnlyOutputsThatChanged) {
  TempDir dir;
  dir.write("site/inc/head.inc", "<head>\n");
  dir.write("site/inc/foot.inc", "<foot>\n");
  dir.write("site/page.src", "#include \"head.inc\"\n#include \"foot.inc\"\npage\n");
  const std::string logo = dir.write("site/logo.png", "AAAA");
  // Puts bytes at path under its old size and modification time, in a new file.
  const auto replace = [&](const std::string& path, const std::string& bytes) {
    const long long time = statusOf(path)->modifiedNs;
    const std::string fresh = dir.write("replacement", bytes);
    ASSERT_TRUE(setModifiedTime(fresh, time));
    ASSERT_EQ(::rename(fresh.c_str(), path.c_str()), 0);
  };
  struct Step {
    const char* name;
    std::function<void()> edit;
    std::vector<std::string> changed;
  } steps[] = {
      {"first run", [] {}, {"logo.png", "page.html"}},
      {"nothing", [] {}, {}},
      {"the same bytes again", [&] { replace(logo, "AAAA"); }, {}},
      {"other bytes, same size and time", [&] { replace(logo, "BBBB"); }, {"logo.png"}},
      {"a new time",
       [&] { ASSERT_TRUE(setModifiedTime(logo, 1000000000LL * 1700000000)); },
       {"logo.png"}},
      {"a broken shared include",
       [&] { dir.write("site/inc/head.inc", "#include \"no.inc\"\n"); },
       {}},
      {"still broken", [] {}, {}},
  };
  SiteRun run(dir);
  const std::string out = dir / "out/";
  for (const Step& step : steps) {
    step.edit();
    const Outcome outcome = run.build(out, dir / "state/build.sqlite");
    std::vector<std::string> changed;
    for (const std::string& path : outcome.report.changed)
      changed.push_back(path.substr(out.size()));
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, step.changed) << step.name;
  }
  EXPECT_FALSE(pathExists(dir / "out/inc/foot.inc"));
}

TEST(IncrementalBuild, RemovesOutputDirectoriesLeftEmptyWhenTheirSourcesWent) {
  TempDir dir;
  dir.write("site/blog/2024/post.src", "post\n");
  dir.write("site/blog/pic.png", "PNG");
  dir.write("site/kept/page.src", "page\n");
  dir.write("site/index.src", "home\n");
  SiteRun run(dir);
  const std::string out = dir / "out/";
  const std::string state = dir / "state/build.sqlite";
  ASSERT_EQ(run.build(out, state).status, 0);
  dir.write("out/mine/notes.txt", "made by hand");
  ASSERT_TRUE(pathExists(dir / "out/blog/2024/post.html"));
  std::filesystem::remove_all(dir / "site/blog");
  std::filesystem::remove(dir / "site/kept/page.src");
  dir.write("site/kept/.keep", "");
  ASSERT_EQ(run.build(out, state).status, 0);
  EXPECT_FALSE(pathExists(dir / "out/blog")) << "its source directory is gone";
  EXPECT_TRUE(pathExists(dir / "out/kept")) << "its source directory is still there";
  EXPECT_TRUE(pathExists(dir / "out/mine/notes.txt"));
  EXPECT_TRUE(pathExists(dir / "out/index.html"));
}

int stepsToRun() {
  const char* steps = std::getenv("QF_DIFFERENTIAL_STEPS");
  return steps ? std::atoi(steps) : 150;
}

TEST(IncrementalBuild, EqualsAFullBuildAfterEveryRandomEdit) {
  setenv("TZ", "UTC", 1);
  tzset();
  const char* seedText = std::getenv("QF_DIFFERENTIAL_SEED");
  const unsigned firstSeed = seedText ? static_cast<unsigned>(std::atoi(seedText)) : 1;
  const int steps = stepsToRun();
  for (unsigned seed = firstSeed; seed < firstSeed + 2; ++seed) {
    Differential site(seed);
    site.start();
    site.prepareOutput();
    for (int step = 0; step < steps; ++step) {
      const bool idle = step > 0 && site.step();
      const std::string problems = site.compare(step, idle);
      ASSERT_EQ(problems, "") << "seed " << seed << ", step " << step
                              << " (rerun with QF_DIFFERENTIAL_SEED=" << seed << ")";
    }
  }
}

// A compile that throws (out of memory while recording what it read) must
// not leave its page counted as up to date.
TEST(IncrementalBuild, CompileThatThrowsLeavesThePageFailed) {
  TempDir dir;
  dir.write("site/page.src", "text\n");
  IncrementalOptions options;
  options.batch.sourceDirectory = dir / "site/";
  IncrementalBuild build(options, planDirectoryRun(options.batch));
  build.begin();
  ASSERT_FALSE(build.isUpToDate(0));
  EXPECT_THROW(
      build.compilePage(
          0, [](const PlannedCompile&, CompileObserver&) -> bool { throw std::bad_alloc(); }),
      std::bad_alloc);
  const BuildReport report = build.finish();
  EXPECT_EQ(report.pages.at(0).status, PageStatus::kFailed);
  EXPECT_EQ(report.failed, 1u);
  EXPECT_EQ(report.exitStatus(), 1);
}

// A run that compiles every page whatever the state holds (-B, or a first
// one) opens the state beside its compiles: it still warns as it opens it,
// and records every page for the next run.
TEST(IncrementalBuild, RecordsARunThatOpenedItsStateBesideTheCompiles) {
  struct Case {
    const char* name;
    std::optional<std::string> stateBytes;  // nullopt: none; "": a recorded run's
    bool alwaysMake;
    std::size_t warnings;
  };
  const std::vector<Case> cases = {
      {"first run", std::nullopt, false, 0},
      {"-B over a recorded state", "", true, 0},
      {"-B over a damaged state", "not a database\n", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::string> written;
    for (int i = 0; i < 40; ++i) {
      written.push_back(dir.write("site/p" + std::to_string(i) + ".src", "#include \"a.inc\"\n"));
    }
    written.push_back(dir.write("site/inc/a.inc", "included\n"));
    awaitFileClockPast(latestFileTime(written));
    SiteRun run(dir);
    run.jobs = 2;
    const std::string state = dir / "state/build.sqlite";
    if (c.stateBytes && c.stateBytes->empty()) run.build(dir / "out/", state);
    if (c.stateBytes && !c.stateBytes->empty()) dir.write("state/build.sqlite", *c.stateBytes);
    IncrementalOptions options = run.options(dir / "out/", state);
    options.alwaysMake = c.alwaysMake;
    std::size_t warnings = 0;
    options.warn = [&](const std::string&) { ++warnings; };
    IncrementalBuild build(options, planDirectoryRun(options.batch));
    build.begin();
    EXPECT_EQ(SiteRun::compile(build, dir / "out/").report.compiled, 40u);
    build.closeState();
    EXPECT_EQ(warnings, c.warnings);
    EXPECT_EQ(run.build(dir / "out/", state).report.upToDate, 40u);
  }
}

// Dependency files kept inside the source tree are the build's, not the
// site's: no run mirrors them.
TEST(IncrementalBuild, DependencyFilesInsideTheTreeAreNoAssets) {
  TempDir dir;
  dir.write("site/page.src", "page\n");
  dir.write("site/style.css", "css");
  SiteRun run(dir);
  IncrementalOptions options = run.options(dir / "out/", dir / "state.sqlite");
  options.dependencyFiles = true;
  options.dependencyDirectory = dir / "site/deps/";
  for (int i = 0; i < 2; ++i) {
    IncrementalBuild build(options, planDirectoryRun(options.batch));
    build.begin();
    ASSERT_EQ(SiteRun::compile(build, dir / "out/").status, 0);
  }
  ASSERT_TRUE(pathExists(dir / "site/deps/page.html.d"));
  const TreeSnapshot out = snapshotTree(dir / "out/", true);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(out.count("style.css"), 1u);
  EXPECT_EQ(out.count("deps/page.html.d"), 0u);
}

// With helpers compiling, the assets may be listed before the compiles end,
// where the compiles write nothing inside the tree: a first run mirrors what
// a run that lists them after its compiles does.
TEST(IncrementalBuild, MirrorsTheSameAssetsWhetherListedAheadOrAfter) {
  struct Case {
    const char* name;
    const char* out;  // relative to the test's folder
  };
  const Case cases[] = {
      {"output outside the tree", "out/"},
      {"output inside the tree", "site/out/"},
      {"output through a link into the tree", "linked/out/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<int, TreeSnapshot> mirrored;
    for (const int jobs : {1, 2}) {
      TempDir dir;
      for (int i = 0; i < 8; ++i) dir.write("site/p" + std::to_string(i) + ".src", "page\n");
      dir.write("site/style.css", "css");
      ASSERT_EQ(::symlink("site", (dir / "linked").c_str()), 0);
      SiteRun run(dir);
      run.jobs = jobs;
      for (int again = 0; again < 2; ++again) {
        ASSERT_EQ(run.build(dir / c.out, dir / "state.sqlite").status, 0);
      }
      mirrored[jobs] = snapshotTree(dir / c.out, true);
    }
    EXPECT_EQ(mirrored[2], mirrored[1]);
    EXPECT_EQ(mirrored[2].size(), 9u);
  }
}

TEST(IncrementalBuild, GivesEachWarningOnceARunAsItComes) {
  TempDir dir;
  dir.write("site/page.src", "page\n");
  dir.write("secret.txt", "secret");
  ASSERT_EQ(::symlink("../secret.txt", (dir / "site/secret.txt").c_str()), 0);
  const std::string state = dir.write("state/build.sqlite", "not a database at all\n");
  SiteRun run(dir);
  std::string phase;
  std::vector<std::string> given;
  IncrementalOptions options = run.options(dir / "out/", state);
  options.warn = [&](const std::string& line) { given.push_back(phase + ": " + line); };
  const std::string site = dir / "site/";
  const std::string leadsOutside =
      "finish: " + run_messages::linkLeadsOutside(site + "secret.txt", dir / "site");
  const std::vector<std::vector<std::string>> expected = {
      {"begin: " + run_messages::stateMovedAside(state, "is not a usable database"), leadsOutside},
      {leadsOutside},
  };
  for (const std::vector<std::string>& lines : expected) {
    given.clear();
    IncrementalBuild build(options, planDirectoryRun(options.batch));
    phase = "begin";
    build.begin();
    phase = "compile";
    compileInParallel(build, [](std::size_t, const PoolPage&) {});
    phase = "finish";
    build.finish();
    EXPECT_EQ(given, lines);
    // Rebuilding with the same build, as the preview loop does, tells nothing again.
    given.clear();
    build.begin();
    build.finish();
    EXPECT_EQ(given, std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace qf
