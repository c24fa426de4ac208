#include "batch/compile_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "base/file_system.h"
#include "base/test_util.h"

namespace qf {
namespace {

constexpr std::size_t kPages = 24;

// "p07", the name of page 7 without its extension.
std::string pageName(std::size_t i) { return (i < 10 ? "p0" : "p") + std::to_string(i); }

// Pages p00.src ... p23.src of shrinking size; every fifth one fails.
struct PoolSite {
  PoolSite() {
    std::vector<std::string> pages;
    for (std::size_t i = 0; i < kPages; ++i) {
      pages.push_back(
          dir.write("site/" + pageName(i) + ".src",
                    i % 5 == 3 ? "#bogus\n" : std::string(1000 * (kPages - i), 'x') + "\n"));
    }
    // Else a page written in the tick of its compile is compiled again.
    awaitFileClockPast(latestFileTime(pages));
    options.batch.sourceDirectory = dir / "site/";
    options.batch.outputDirectory = dir / "out/";
    options.batch.useOutputDirectory = true;
    options.statePath = dir / "state.db";
    options.programVersion = "test";
  }

  struct Run {
    std::vector<std::size_t> order;
    std::vector<PoolPage> pages;
    std::size_t started = 0;
    BuildReport report;
  };

  // A run on jobs threads whose starter refuses every thread after `allowed`.
  Run run(int jobs, std::size_t allowed) {
    options.jobs = jobs;
    IncrementalBuild build(options, planDirectoryRun(options.batch));
    Run result;
    build.begin();
    compileInParallel(
        build,
        [&](std::size_t index, const PoolPage& page) {
          result.order.push_back(index);
          result.pages.push_back(page);
        },
        [&](std::function<void()> body) {
          if (result.started == allowed) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
          }
          ++result.started;
          return std::thread(std::move(body));
        });
    result.report = build.finish();
    return result;
  }

  TempDir dir;
  IncrementalOptions options;
};

struct PoolCase {
  const char* name;
  int jobs;
  std::size_t allowed;  // threads the system grants
  std::size_t started;  // helpers expected
};

const PoolCase kPoolCases[] = {
    {"four workers", 4, 100, 3},
    {"one job", 1, 100, 0},
    {"no thread starts", 4, 0, 0},
    {"the second helper is refused", 4, 1, 1},
    {"more jobs than pages", 100, 100, kPages - 1},
};

TEST(CompileInParallel, ReportsEveryPageInPlanOrderWhateverThreadsStart) {
  for (const PoolCase& c : kPoolCases) {
    SCOPED_TRACE(c.name);
    PoolSite site;
    const PoolSite::Run run = site.run(c.jobs, c.allowed);
    EXPECT_EQ(run.started, c.started);
    ASSERT_EQ(run.order.size(), kPages);
    for (std::size_t i = 0; i < kPages; ++i) {
      EXPECT_EQ(run.order[i], i);
      const PoolPage& page = run.pages[i];
      EXPECT_TRUE(page.compiled);
      const bool bad = i % 5 == 3;
      EXPECT_EQ(page.ok, !bad) << i;
      if (bad) {
        EXPECT_EQ(page.failure, site.options.batch.sourceDirectory + pageName(i) +
                                    ".src:1: Error: Unknown directive after #.\n");
      } else {
        EXPECT_EQ(page.failure, "");
        EXPECT_EQ(readFile(site.options.batch.outputDirectory + pageName(i) + ".html").size(),
                  1000 * (kPages - i) + 1);
      }
    }
    EXPECT_EQ(run.report.failed, 5u);
  }
}

TEST(CompileInParallel, ReportsUpToDatePagesUncompiled) {
  PoolSite site;
  site.run(3, 100);
  const PoolSite::Run again = site.run(3, 100);
  ASSERT_EQ(again.pages.size(), kPages);
  for (std::size_t i = 0; i < kPages; ++i) {
    EXPECT_EQ(again.pages[i].compiled, i % 5 == 3) << i;
  }
  EXPECT_EQ(again.report.upToDate, kPages - 5);
}

}  // namespace
}  // namespace qf
