#include "cli/preview_loop.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "base/test_util.h"
#include "batch/build_plan.h"
#include "batch/run_messages.h"
#include "serve/event_stream_reader.h"
#include "serve/preview_server.h"
#include "testing/copy_rebuild.h"

namespace qf {
namespace {

TEST(GroupedFailures, TellAFailureSharedByManyPagesOnce) {
  const std::string broken = "inc/head.inc:3: Error: Unknown directive after #.\n";
  const auto includedFrom = [&](const char* page) {
    return std::string("In file included from ") + page + ":1:\n" + broken;
  };
  const std::vector<BuildFailure> failures = {
      {includedFrom("site/a.src"), "/site/out/a.html"},
      {"site/c.src:2: Error: Unknown directive after #.\n", "/site/out/c.html"},
      {includedFrom("site/b.src"), "/site/out/b.html"},
      {broken, "/site/out/head.html"},  // the same line met without an include
      {"a.png -> out/a.png: not copied\n", ""},
  };
  const std::vector<FailureGroup> groups = groupedFailures(failures);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groupText(groups[0]), includedFrom("site/a.src") + "(and 2 other pages)\n");
  EXPECT_EQ(groupText(groups[1]), failures[1].text);
  EXPECT_EQ(groupText(groups[2]), failures[4].text);
  EXPECT_EQ(
      errorEventLines(groups, "/site/out"),
      (std::vector<std::string>{
          "@pages /a.html /b.html /head.html", includedFrom("site/a.src") + "(and 2 other pages)",
          "", "@pages /c.html", failures[1].text.substr(0, failures[1].text.size() - 1), "",
          "@pages ", failures[4].text.substr(0, failures[4].text.size() - 1), ""}));
}

TEST(EventsAfterRebuild, TellsPagesWhatChanged) {
  const std::string root = "/site/out";
  const struct {
    const char* name;
    std::vector<std::string> changedFiles;
    std::vector<std::string> failureLines;
    bool lastFailed;
    std::vector<PageEvent> expected;
  } cases[] = {
      {"pages",
       {"/site/out/a.html", "/site/out/sub/index.html"},
       {},
       false,
       {{"reload", {"/a.html", "/sub/index.html"}}}},
      {"style sheets only", {"/site/out/css/site.css"}, {}, false, {{"css", {"/css/site.css"}}}},
      {"both, and a picture",
       {"/site/out/a.css", "/site/out/a.html", "/site/out/p.png"},
       {},
       false,
       {{"css", {"/a.css"}}, {"reload", {"/a.html", "/p.png"}}}},
      {"failures",
       {},
       {"a.src:2: no such file: x.inc"},
       false,
       {{"error", {"a.src:2: no such file: x.inc"}}}},
      {"failures beside changed pages",
       {"/site/out/b.html"},
       {"a.src:2: bad"},
       true,
       {{"reload", {"/b.html"}}, {"error", {"a.src:2: bad"}}}},
      {"good build without changes after failures", {}, {}, true, {{"clear", {}}}},
      {"good build without changes", {}, {}, false, {}},
      {"files outside the root",
       {"/site/src/a.html", "/site/outside.html", "/site/out"},
       {},
       false,
       {}},
      {"a relative spelling", {"/site/out/./x/../a.html"}, {}, false, {{"reload", {"/a.html"}}}},
  };
  for (const auto& c : cases) {
    RebuildResult result;
    result.changedFiles = c.changedFiles;
    result.failureLines = c.failureLines;
    EXPECT_EQ(eventsAfterRebuild(result, root, c.lastFailed), c.expected) << c.name;
  }
}

TEST(EventsAfterRebuild, SendsTheBrokenLinksOfServedPagesWhenChecked) {
  RebuildResult result;
  result.failureLines = {"c.src:1: bad"};
  EXPECT_EQ(eventsAfterRebuild(result, "/site/out", false),
            (std::vector<PageEvent>{{"error", {"c.src:1: bad"}}}));
  // Each page's URL path, whether its links follow another page's or its own.
  result.brokenLinks = {{"/site/out/sub/a.html", "a.src:2: warning: broken link \"x\"\n"},
                        {"/site/out/sub/a.html", "a.src:3: warning: broken link \"z\"\n"},
                        {"/site/elsewhere/b.html", "b.src:1: warning: broken link \"y\"\n"},
                        {"/site/out/c.html", "c.src:1: warning: broken link \"w\"\n"}};
  const std::string title(run_messages::kBrokenLinksPanelTitle);
  EXPECT_EQ(eventsAfterRebuild(result, "/site/out", false),
            (std::vector<PageEvent>{{"links",
                                     {title, "/sub/a.html\ta.src:2: warning: broken link \"x\"",
                                      "/sub/a.html\ta.src:3: warning: broken link \"z\"",
                                      "/c.html\tc.src:1: warning: broken link \"w\""}},
                                    {"error", {"c.src:1: bad"}}}));
  result.brokenLinks->clear();
  result.failureLines.clear();
  EXPECT_EQ(eventsAfterRebuild(result, "/site/out", true),
            (std::vector<PageEvent>{{"links", {title}}, {"clear", {}}}));
}

TEST(UrlPathOf, MapsRelativeSpellingsToo) {
  TempDir dir;
  char* before = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(urlPathOf("out/a b.html", "out"), "/a b.html");
  EXPECT_EQ(urlPathOf(dir / "out/sub/a.html", "out/"), "/sub/a.html");
  EXPECT_EQ(urlPathOf("src/a.html", "out"), "");
  EXPECT_EQ(urlPathOf("out2/a.html", "out"), "");
  EXPECT_EQ(chdir(before), 0);
  free(before);
}

// A loop over dir/src, serving dir/out, run on a thread of its own.
class RunningLoop {
 public:
  RunningLoop() {
    dir_.write("src/index.html", "<p>one</p>");
    dir_.write("out/.keep", "");
    WatchOptions watch;
    watch.trees = {dir_ / "src"};
    PreviewServerOptions serve;
    serve.root = dir_ / "out";
    serve.address.port = 0;
    auto server = std::make_unique<PreviewServer>(serve);
    std::string error;
    EXPECT_TRUE(server->start(error)) << error;
    port_ = server->port();
    loop_ = std::make_unique<PreviewLoop>(watch, std::move(server));
    copyPagesAndStyleSheets(dir_ / "src", dir_ / "out");
    status_ = std::async(std::launch::async, [this] {
      return loop_->run([this](const WatchBatch&) {
        return copyPagesAndStyleSheets(dir_ / "src", dir_ / "out");
      });
    });
  }
  ~RunningLoop() {
    if (status_.valid()) {
      raise(SIGTERM);
      status_.wait();
    }
  }

  const TempDir& dir() const { return dir_; }
  int port() const { return port_; }
  /// Sends signal and waits (at most 10 s) for the loop's status.
  int stopWith(int signal) {
    raise(signal);
    if (status_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return -1;
    return status_.get();
  }

 private:
  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<PreviewLoop> loop_;
  std::future<int> status_;
};

TEST(PreviewLoop, RebuildsAndTellsThePagesUntilASignal) {
  RunningLoop loop;
  EventStreamReader pages(loop.port());
  ASSERT_TRUE(pages.waitFor("retry"));

  loop.dir().write("src/index.html", "<p>two</p>");
  EXPECT_TRUE(pages.waitFor("event: reload\ndata: /index.html\n\n"));
  EXPECT_EQ(readFile(loop.dir() / "out/index.html"), "<p>two</p>");

  loop.dir().write("src/site.css", "p { color: red }");
  EXPECT_TRUE(pages.waitFor("event: css\ndata: /site.css\n\n"));

  loop.dir().write("src/failures.txt", "index.src:3: no such file: x.inc\n");
  EXPECT_TRUE(pages.waitFor("event: error\ndata: index.src:3: no such file: x.inc\n\n"));
  ASSERT_EQ(unlink((loop.dir() / "src/failures.txt").c_str()), 0);
  EXPECT_TRUE(pages.waitFor("event: clear\n"));

  EXPECT_EQ(loop.stopWith(SIGINT), SIGINT);
  httplib::Client client("127.0.0.1", loop.port());
  client.set_connection_timeout(1);
  EXPECT_FALSE(client.Get("/")) << "the server still answers";
}

TEST(PreviewLoop, WatchesWhatTheRebuildAsksFor) {
  TempDir dir;
  dir.write("src/page.html", "");
  dir.write("include/notes~", "");
  dir.write("out/.keep", "");
  WatchOptions watch;
  watch.trees = {dir / "src"};
  PreviewLoop loop(watch, nullptr);
  std::atomic<int> rebuilds = 0;
  auto status = std::async(std::launch::async, [&] {
    return loop.run([&](const WatchBatch&) {
      ++rebuilds;
      RebuildResult result;
      result.directoriesToWatch = {dir / "include"};
      result.neededPaths = std::set<std::string>{dir / "include/notes~"};
      return result;
    });
  });
  const auto waitForRebuilds = [&](int count) {
    for (int i = 0; i < 500 && rebuilds < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return rebuilds.load();
  };
  dir.write("src/page.html", "x");
  EXPECT_EQ(waitForRebuilds(1), 1);
  dir.write("include/notes~", "needed although it looks like a backup");
  EXPECT_EQ(waitForRebuilds(2), 2);
  raise(SIGTERM);
  ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(status.get(), SIGTERM);
}

// A rebuild's whenQuiet waits for the quiet time after the last rebuild: saves
// that follow each other sooner never meet it, and the stop does not call it.
TEST(PreviewLoop, CallsTheLastRebuildsWhenQuietOnceTheChangesPause) {
  struct Case {
    std::chrono::milliseconds quietTime;
    int calledBeforeTheStop;
  } cases[] = {{std::chrono::milliseconds(20), 2}, {std::chrono::minutes(10), 0}};
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("src/page.html", "");
    WatchOptions watch;
    watch.trees = {dir / "src"};
    PreviewLoop loop(watch, nullptr, c.quietTime);
    std::atomic<int> rebuilds = 0;
    std::atomic<int> quiet = 0;  // calls, each of the rebuild it came from
    std::atomic<int> calledFor = 0;
    auto status = std::async(std::launch::async, [&] {
      return loop.run([&](const WatchBatch&) {
        const int rebuild = ++rebuilds;
        RebuildResult result;
        result.whenQuiet = [&quiet, &calledFor, rebuild] {
          ++quiet;
          calledFor = rebuild;
        };
        return result;
      });
    });
    const auto await = [](const std::function<bool()>& done) {
      for (int i = 0; i < 1000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return done();
    };
    for (int save = 1; save <= 2; ++save) {
      dir.write("src/page.html", std::to_string(save));
      EXPECT_TRUE(await([&] { return rebuilds == save; })) << save;
      if (c.calledBeforeTheStop) {
        EXPECT_TRUE(await([&] { return quiet == save && calledFor == save; })) << save;
      }
    }
    raise(SIGTERM);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(status.get(), SIGTERM);
    EXPECT_EQ(quiet, c.calledBeforeTheStop) << c.quietTime.count() << " ms";
  }
}

TEST(PreviewLoop, StopsOnTerminateWhileIdle) {
  RunningLoop loop;
  EXPECT_EQ(loop.stopWith(SIGTERM), SIGTERM);
}

}  // namespace
}  // namespace qf
