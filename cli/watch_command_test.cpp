// qfc --watch as a real process on temporary sites. It runs on a pseudo
// terminal, so that each rebuild prints its summary line ("Compiled 1 file,
// 2 up to date, 0 failed. (3 ms)"): the tests read what each change rebuilt
// from those lines. Every wait is bounded.
#include "cli/watch_command.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/test_util.h"
#include "serve/serve_address.h"
#include "testing/qfc_process.h"

namespace qf {
namespace {

using namespace std::chrono_literals;

const std::string& kQfc = qfcProgram();

std::size_t countOf(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// qfc on a pseudo terminal in a directory, with a private cache; everything
// it prints is collected on a thread.
class WatchingQfc {
 public:
  /// environment: more "NAME=VALUE" settings.
  WatchingQfc(const std::string& directory, const std::vector<std::string>& arguments,
              const QfcProcess& runs, const std::vector<std::string>& environment = {}) {
    const std::vector<std::string> settings = runs.environment(environment);
    pid_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (chdir(directory.c_str()) != 0) _exit(127);
      for (const std::string& setting : settings) putenv(const_cast<char*>(setting.c_str()));
      std::vector<char*> argv = {const_cast<char*>(kQfc.c_str())};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(kQfc.c_str(), argv.data());
      _exit(127);
    }
    reader_ = std::thread([this] { readAll(); });
  }

  ~WatchingQfc() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (terminal_ >= 0) close(terminal_);
  }

  /// Waits up to ten seconds until the output (from offset on) holds text
  /// count times.
  bool waitFor(const std::string& text, std::size_t count = 1, std::size_t offset = 0) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (countOf(output().substr(offset), text) >= count) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  std::string output() {
    std::lock_guard<std::mutex> guard(lock_);
    return output_;
  }

  /// Sends signal (0: none) and waits for the process; its wait status.
  int stop(int signal) {
    if (signal != 0) kill(pid_, signal);
    waitpid(pid_, &status_, 0);
    if (reader_.joinable()) reader_.join();
    return status_;
  }

 private:
  void readAll() {
    char buffer[4096];
    while (true) {
      const ssize_t n = read(terminal_, buffer, sizeof buffer);
      if (n <= 0) return;  // the terminal closes when the process ends
      std::lock_guard<std::mutex> guard(lock_);
      output_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int terminal_ = -1;
  int status_ = -1;
  std::thread reader_;
  std::mutex lock_;
  std::string output_;
};

// Saves as editors that replace a file do: a new file renamed over the old.
void saveByRename(const TempDir& dir, const std::string& relative, const std::string& text) {
  dir.write(relative + ".new", text);
  std::filesystem::rename(dir / (relative + ".new"), dir / relative);
}

std::vector<std::string> temporaryFilesBelow(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".tmp")) found.push_back(entry.path().string());
  }
  return found;
}

TEST(WatchedDirectories, AreThoseOfEachDependencyOrTheNearestThatExists) {
  TempDir dir;
  dir.write("site/inc/head.inc", "");
  dir.write("site/pics/a.png", "");
  const std::string site = dir / "site";
  PageDependencies page;
  page.files = {{DependencyKind::kRead, site + "/page.src", {}},
                {DependencyKind::kIncluded, site + "/inc/head.inc", {}},
                {DependencyKind::kFound, site + "/pics/a.png", {}},
                {DependencyKind::kMissing, site + "/inc/gone.inc", {}},
                {DependencyKind::kMissing, site + "/not/yet/there.txt", {}},
                {DependencyKind::kMissing, site + "/inc/.page.swp", {}}};
  EXPECT_EQ(directoriesOfDependencies({page}),
            (std::set<std::string>{site, site + "/inc", site + "/pics"}));
  EXPECT_EQ(scratchNamedDependencies({page}), std::set<std::string>{site + "/inc/.page.swp"});
}

TEST(OwnWrites, CoverOnlyTheRebuildsOwnFilesAsItLeftThem) {
  TempDir dir;
  const std::string page = dir.write("out/page.html", "page");
  const std::string gone = dir / "out/gone.html";
  OwnWrites own(dir / "state.db");
  own.remember({page, gone});
  struct Case {
    const char* what;
    std::vector<std::string> paths;
    bool covered;
  };
  const Case cases[] = {
      {"outputs as written and removed", {page, gone}, true},
      {"the state's files", {dir / "state.db", dir / "state.db-journal"}, true},
      {"temporary outputs that are gone", {dir / "out/.qf12345678.tmp", dir / "out/#1234"}, true},
      {"a source beside them", {page, dir / "page.src"}, false},
      {"a file that only looks temporary", {dir.write("out/.notes.tmp", "")}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(own.coversAll(WatchBatch{c.paths, false}), c.covered) << c.what;
  }
  EXPECT_FALSE(own.coversAll(WatchBatch{{page}, true})) << "a rescan";
  dir.write("out/page.html", "edited by hand");
  EXPECT_FALSE(own.coversAll(WatchBatch{{page}, false})) << "an output changed since";
}

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.write("src/a.src", "#include \"head.inc\"\n<p>a</p>\n");
    site_.write("src/b.src", "#include \"head.inc\"\n<p>b</p>\n");
    site_.write("src/c.src", "#ifexists \"extra.txt\"\nwith extra\n#else\nwithout extra\n#endif\n");
    site_.write("inc/head.inc", "<h1>head</h1>\n");
  }

  std::vector<std::string> watchArguments(const std::vector<std::string>& more) const {
    std::vector<std::string> arguments = {"--all", "src", "-r", "-I", "inc", "--watch"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  TempDir site_;
  QfcProcess runs_;
};

TEST_F(WatchTest, RebuildsExactlyWhatEachChangeTouches) {
  struct Step {
    const char* what;
    std::function<void(const TempDir&)> change;
    const char* summary;
    const char* output;  // a file that must then hold text
    const char* text;
  };
  const Step steps[] = {
      {"edit a page in place",
       [](const TempDir& d) {
         d.write("src/c.src", "#ifexists \"extra.txt\"\nwith\n#endif\nc2\n");
       },
       "Compiled 1 file, 2 up to date, 0 failed.", "out/c.html", "c2"},
      {"save a page by renaming over it",
       [](const TempDir& d) { saveByRename(d, "src/a.src", "#include \"head.inc\"\na2\n"); },
       "Compiled 1 file, 2 up to date, 0 failed.", "out/a.html", "a2"},
      {"edit the include both pages use",
       [](const TempDir& d) { d.write("inc/head.inc", "<h1>new head</h1>\n"); },
       "Compiled 2 files, 1 up to date, 0 failed.", "out/b.html", "new head"},
      {"create the file an #ifexists missed",
       [](const TempDir& d) { d.write("src/extra.txt", "x"); },
       "Compiled 1 file, 2 up to date, 0 failed.", "out/c.html", "with"},
      {"add a sub-directory with a page",
       [](const TempDir& d) { d.write("src/new/d.src", "#include \"head.inc\"\nd\n"); },
       "Compiled 1 file, 3 up to date, 0 failed.", "out/new/d.html", "new head"},
      {"an editor's scratch file changes nothing",
       [](const TempDir& d) {
         d.write("src/.a.src.swp", "x");
         d.write("src/a.src~", "x");
         d.write("src/b.src", "#include \"head.inc\"\nb2\n");
       },
       "Compiled 1 file, 3 up to date, 0 failed.", "out/b.html", "b2"},
  };
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files, 0 up to date, 0 failed.")) << qfc.output();
  for (const Step& step : steps) {
    const std::size_t before = qfc.output().size();
    step.change(site_);
    // A save may come in two batches (a file written, then renamed into
    // place); the first then compiles nothing.
    ASSERT_TRUE(qfc.waitFor(step.summary, 1, before)) << step.what << "\n" << qfc.output();
    const std::string added = qfc.output().substr(before);
    EXPECT_EQ(countOf(added, "Compiled "),
              countOf(added, step.summary) + countOf(added, "Compiled 0 files"))
        << step.what << "\n"
        << added;
    EXPECT_NE(readFile(site_ / step.output).find(step.text), std::string::npos) << step.what;
  }
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, AMissingSourceDirectoryEndsAtOnce) {
  const ProgramResult r = runs_.run({"--all", "nowhere", "--serve=0"}, site_.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "nowhere: Can't find any .src files in directory!\n");
}

// The HTTP server lies in a module of its own, loaded only to serve; a
// program without it still builds, and says what is missing when asked to
// serve.
TEST_F(WatchTest, AProgramWithoutTheServersModuleSaysSoWhenAskedToServe) {
  namespace fs = std::filesystem;
  TempDir alone;
  fs::copy_file(qfcProgram(), alone / "qfc");
  const ProgramStart build{
      alone / "qfc", {"--all", "src", "-r", "-I", "inc", "--no-state"}, site_.path()};
  EXPECT_EQ(runProgram(build).exitCode, 0);
  ProgramStart serve = build;
  serve.arguments.push_back("--serve=0");
  serve.timeoutSeconds = 60;
  const ProgramResult r = runProgram(serve);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.starts_with("qfc: cannot load the preview server: ")) << r.err;
  EXPECT_NE(r.err.find("libqf_preview.so"), std::string::npos) << r.err;
}

TEST_F(WatchTest, ASourceDirectoryThatGoesAndComesBackIsWatchedAgain) {
  namespace fs = std::filesystem;
  const std::string gone =
      "qfc: warning: the source directory src is gone; waiting for it to come back\r\n";
  const std::string back = "qfc: the source directory src is back; watching it again\r\n";
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> leave;
    std::function<void(const TempDir&)> returnTo;
  };
  const Case cases[] = {
      {"renamed away and back", [](const TempDir& d) { fs::rename(d / "src", d / "src.away"); },
       [](const TempDir& d) { fs::rename(d / "src.away", d / "src"); }},
      {"removed and made anew", [](const TempDir& d) { fs::remove_all(d / "src"); },
       [](const TempDir& d) {
         d.write("new/a.src", "#include \"head.inc\"\n<p>a again</p>\n");
         fs::rename(d / "new", d / "src");
       }},
      {"removed and made anew empty, then filled",
       [](const TempDir& d) { fs::remove_all(d / "src"); },
       [](const TempDir& d) { fs::create_directory(d / "src"); }},
  };
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  for (const Case& c : cases) {
    const std::size_t start = qfc.output().size();
    c.leave(site_);
    ASSERT_TRUE(qfc.waitFor(gone, 1, start)) << c.what << "\n" << qfc.output();
    site_.write("notes.txt", c.what);  // a change beside it, while it is gone
    c.returnTo(site_);
    ASSERT_TRUE(qfc.waitFor(back, 1, start)) << c.what << "\n" << qfc.output();
    site_.write("src/a.src", std::string("#include \"head.inc\"\n<p>") + c.what + "</p>\n");
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (readFile(site_ / "out/a.html").find(c.what) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_NE(readFile(site_ / "out/a.html").find(c.what), std::string::npos) << c.what << "\n"
                                                                              << qfc.output();
    EXPECT_EQ(countOf(qfc.output().substr(start), gone), 1u) << c.what << "\n" << qfc.output();
  }
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, ADeletedIncludeFailsItsPagesAsAFullBuildWould) {
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  std::filesystem::remove(site_ / "inc/head.inc");
  ASSERT_TRUE(qfc.waitFor("Compiled 2 files, 1 up to date, 2 failed.")) << qfc.output();
  const ProgramResult full =
      runs_.run({"--all", "src", "-r", "-I", "inc", "--no-state"}, site_.path());
  EXPECT_EQ(full.exitCode, 1);
  ASSERT_NE(full.err, "");
  // The same lines, each once, between the progress lines.
  const std::string output = qfc.output();
  std::size_t lines = 0;
  for (std::size_t at = 0, end; (end = full.err.find('\n', at)) != std::string::npos;
       at = end + 1) {
    const std::string line = full.err.substr(at, end - at) + "\r\n";
    EXPECT_EQ(countOf(output, line), 1u) << line << output;
    ++lines;
  }
  EXPECT_EQ(lines, 2u) << full.err;
  site_.write("inc/head.inc", "<h1>back</h1>\n");
  ASSERT_TRUE(qfc.waitFor("Compiled 2 files, 1 up to date, 0 failed.")) << qfc.output();
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGINT)), SIGINT);
}

TEST_F(WatchTest, CompilingInPlaceDoesNotRebuildForItsOwnOutputs) {
  WatchingQfc qfc(site_.path(), watchArguments({}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  site_.write("src/a.src", "#include \"head.inc\"\nagain\n");
  ASSERT_TRUE(qfc.waitFor("Compiled ", 2)) << qfc.output();
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(countOf(qfc.output(), "Compiled "), 2u) << qfc.output();
  EXPECT_NE(readFile(site_ / "src/a.html").find("again"), std::string::npos);
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, ABurstOfSavesGivesFewRebuilds) {
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  for (int i = 0; i < 100; ++i) {
    saveByRename(site_, "src/b.src", "#include \"head.inc\"\nsave " + std::to_string(i) + "\n");
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (readFile(site_ / "out/b.html").find("save 99") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(readFile(site_ / "out/b.html").find("save 99"), std::string::npos);
  EXPECT_LE(countOf(qfc.output(), "Compiled "), 5u) << qfc.output();
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, ATerminationSignalCommitsTheStateAndLeavesNoTemporaryFiles) {
  for (int i = 0; i < 300; ++i) {
    site_.write("src/many/p" + std::to_string(i) + ".src", "#include \"head.inc\"\npage\n");
  }
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 303 files")) << qfc.output();
  site_.write("inc/head.inc", "<h1>during</h1>\n");
  // Stopped while the rebuild is (most likely) under way: it is finished first.
  ASSERT_TRUE(qfc.waitFor("[1/303]", 2)) << qfc.output();
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
  EXPECT_EQ(temporaryFilesBelow(site_.path()), std::vector<std::string>{});
  // The next run finds every page up to date: the stopped one recorded them all.
  WatchingQfc next(site_.path(), {"--all", "src", "-r", "-I", "inc", "--out-dir", "out"}, runs_);
  EXPECT_EQ(next.stop(0), 0);
  EXPECT_NE(next.output().find("Compiled 0 files, 303 up to date, 0 failed."), std::string::npos)
      << next.output();
  EXPECT_EQ(readFile(site_ / "out/many/p7.html"), "<h1>during</h1>\npage\n");
}

// The state is written once the saves pause; a run killed before that leaves
// the state of the run before, which the next run can use.
TEST_F(WatchTest, AKilledRunLeavesAStateTheNextRunCanUse) {
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  site_.write("inc/head.inc", "<h1>killed</h1>\n");
  ASSERT_TRUE(qfc.waitFor("Compiled 2 files")) << qfc.output();
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGKILL)), SIGKILL);
  // Else b, written in the tick of its compile, is compiled again by the last run.
  awaitFileClockPast(
      latestFileTime({site_.write("src/b.src", "#include \"head.inc\"\n<p>b2</p>\n")}));
  WatchingQfc next(site_.path(), {"--all", "src", "-r", "-I", "inc", "--out-dir", "out"}, runs_);
  EXPECT_EQ(next.stop(0), 0);
  EXPECT_EQ(next.output().find("warning"), std::string::npos) << next.output();
  EXPECT_EQ(readFile(site_ / "out/a.html"), "<h1>killed</h1>\n<p>a</p>\n");
  EXPECT_EQ(readFile(site_ / "out/b.html"), "<h1>killed</h1>\n<p>b2</p>\n");
  WatchingQfc again(site_.path(), {"--all", "src", "-r", "-I", "inc", "--out-dir", "out"}, runs_);
  EXPECT_EQ(again.stop(0), 0);
  EXPECT_NE(again.output().find("Compiled 0 files, 3 up to date"), std::string::npos)
      << again.output();
}

// A listening socket on a loopback port, so that the port is taken.
class TakenPort {
 public:
  explicit TakenPort(int port) : socket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(socket_, 1) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~TakenPort() { close(socket_); }
  /// The port held, 0 when it could not be had (someone else holds it).
  int port() const { return port_; }

 private:
  int socket_;
  int port_ = 0;
};

TEST_F(WatchTest, TellsWhatItWatchesEachRebuildAndTheStop) {
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out", "--serve=0"}), runs_);
  // Three pages and the include they share, in two folders.
  ASSERT_TRUE(qfc.waitFor("Watching 4 files in 2 folders; serving http://127.0.0.1:"))
      << qfc.output();
  ASSERT_TRUE(qfc.waitFor("/ (Ctrl-C to stop)\r\n")) << qfc.output();
  const std::size_t before = qfc.output().size();
  site_.write("src/a.src", "#include \"head.inc\"\nagain\n");
  ASSERT_TRUE(qfc.waitFor("src/a.src: Compiled 1 file, 2 up to date, 0 failed. (", 1, before))
      << qfc.output();
  // The time of day first: "14:03:59 src/a.src: ...".
  const std::string output = qfc.output();
  const std::size_t at = output.find(" src/a.src: Compiled", before);
  ASSERT_GE(at, before + 8);
  const std::string time = output.substr(at - 8, 8);
  EXPECT_EQ(time.substr(2, 1) + time.substr(5, 1), "::") << time;
  EXPECT_EQ(time.find_first_not_of("0123456789:"), std::string::npos) << time;
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGINT)), SIGINT);
  EXPECT_NE(qfc.output().find("Stopped.\r\n"), std::string::npos) << qfc.output();
}

TEST_F(WatchTest, ServingOnAllAddressesNamesThoseOthersCanUse) {
  std::vector<std::string> expected;
  for (const std::string& name : namesOfThisMachine()) {
    if (name.find_first_not_of("0123456789.") == std::string::npos && !isLoopbackHost(name)) {
      expected.push_back(name);
    }
  }
  for (const char* host : {"0.0.0.0", "127.0.0.1"}) {
    WatchingQfc qfc(site_.path(),
                    watchArguments({"--out-dir", "out", "--serve=" + std::string(host) + ":0"}),
                    runs_);
    ASSERT_TRUE(qfc.waitFor("(Ctrl-C to stop)\r\n")) << qfc.output();
    EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
    const std::string output = qfc.output();
    const bool everywhere = std::string(host) == "0.0.0.0";
    EXPECT_EQ(countOf(output, "Also at http://"), everywhere ? expected.size() : 0u) << output;
    for (const std::string& address : expected) {
      EXPECT_EQ(countOf(output, "Also at http://" + address + ":"), everywhere ? 1u : 0u)
          << address << "\n"
          << output;
    }
  }
}

TEST_F(WatchTest, GroupsAFailureThatManyPagesShare) {
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  const std::size_t before = qfc.output().size();
  site_.write("inc/head.inc", "#bogus\n");
  ASSERT_TRUE(qfc.waitFor("2 failed.", 1, before)) << qfc.output();
  const std::string added = qfc.output().substr(before);
  EXPECT_EQ(countOf(added, "inc/head.inc:1: "), 1u) << added;
  EXPECT_EQ(countOf(added, "In file included from src/a.src:1:\r\n"), 1u) << added;
  EXPECT_EQ(countOf(added, "In file included from src/b.src:1:"), 0u) << added;
  EXPECT_EQ(countOf(added, "(and 1 other page)\r\n"), 1u) << added;
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, TheDefaultPortGivesWayToTheNextFreeOne) {
  const TakenPort taken(8080);
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out", "--serve"}), runs_);
  ASSERT_TRUE(qfc.waitFor("(Ctrl-C to stop)")) << qfc.output();
  EXPECT_NE(qfc.output().find("qfc: port 8080 is taken; using port 80"), std::string::npos)
      << qfc.output();
  EXPECT_EQ(qfc.output().find("http://127.0.0.1:8080/"), std::string::npos) << qfc.output();
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);

  const TakenPort given(0);
  ASSERT_NE(given.port(), 0);
  const ProgramResult r =
      runs_.run(watchArguments({"--serve=" + std::to_string(given.port())}), site_.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("(--serve=0 picks a free port)"), std::string::npos) << r.err;
}

TEST_F(WatchTest, OpensTheSiteInTheBrowserOnceItIsServed) {
  TempDir bin;
  const std::string record = bin / "opened";
  bin.write("xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + ".new' && mv '" + record +
                            ".new' '" + record + "'\n");
  std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
  WatchingQfc qfc(site_.path(), watchArguments({"--out-dir", "out", "--serve=0", "--open"}), runs_,
                  {"PATH=" + bin.path() + ":" + std::getenv("PATH")});
  ASSERT_TRUE(qfc.waitFor("(Ctrl-C to stop)")) << qfc.output();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const std::string output = qfc.output();
  const std::size_t at = output.find("http://127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << output;
  EXPECT_EQ(readFile(record), output.substr(at, output.find('/', at + 7) + 1 - at));
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

TEST_F(WatchTest, ServingHoldsTheClockUnlessTheEnvironmentSetsIt) {
  site_.write("src/c.src", "_TIME_\n");
  const std::string held = "qfc: the date and time symbols hold ";
  struct Case {
    const char* what;
    std::vector<std::string> more;
    std::vector<std::string> environment;
    bool clockHeld;
    const char* page;  // what out/c.html must start with; "" for any
  } const cases[] = {
      {"serving", {"--serve=0"}, {}, true, ""},
      {"watching only", {}, {}, false, ""},
      {"serving at a given moment", {"--serve=0"}, {"SOURCE_DATE_EPOCH=86400"}, false, "12:00 AM"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> more = {"--out-dir", "out", "--no-state"};
    more.insert(more.end(), c.more.begin(), c.more.end());
    WatchingQfc qfc(site_.path(), watchArguments(more), runs_, c.environment);
    ASSERT_TRUE(qfc.waitFor("(Ctrl-C to stop)")) << c.what << "\n" << qfc.output();
    EXPECT_EQ(countOf(qfc.output(), held), c.clockHeld ? 1u : 0u) << c.what << "\n" << qfc.output();
    EXPECT_TRUE(readFile(site_ / "out/c.html").starts_with(c.page))
        << c.what << "\n"
        << readFile(site_ / "out/c.html");
    EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM) << c.what;
  }
}

TEST_F(WatchTest, ServingInPlaceAnswersOnlyWhatBelongsToTheSite) {
  site_.write("secret.txt", "secret");
  for (const char* file :
       {"src/.env", "src/.git/config", "src/sub/.htaccess", "src/a.src~", "src/#a.src#",
        "src/.#style.css", "src/4913", "src/x.swp", "src/x.swx"}) {
    site_.write(file, "hidden");
  }
  site_.write("src/style.css", "body{}");
  std::filesystem::create_symlink("../secret.txt", site_ / "src/secret.txt");
  std::filesystem::create_symlink("style.css", site_ / "src/alias.css");
  WatchingQfc qfc(site_.path(), watchArguments({"--serve=0"}), runs_);
  ASSERT_TRUE(qfc.waitFor("Compiled 3 files")) << qfc.output();
  const std::string output = qfc.output();
  const std::size_t at = output.find("http://127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << output;
  const int port = std::stoi(output.substr(at + std::string("http://127.0.0.1:").size()));

  httplib::Client client("127.0.0.1", port);
  const struct {
    const char* target;
    int status;
    httplib::Headers headers{};
    const char* body = nullptr;  // checked when not null
  } cases[] = {
      {"/a.html", 200},
      {"/style.css", 200, {}, "body{}"},
      {"/alias.css", 200},
      {"/.env", 404},
      {"/.git/config", 404},
      {"/sub/.htaccess", 404},
      {"/%2egit/config", 404},
      {"/a.src~", 404},
      {"/%23a.src%23", 404},
      {"/.%23style.css", 404},
      {"/4913", 404},
      {"/x.swp", 404},
      {"/x.swx", 404},
      {"/secret.txt", 404},
      // Only the names of this machine's loopback reach the preview.
      {"/style.css", 200, {{"Host", "localhost:9"}}},
      {"/style.css", 200, {{"Host", "[::1]"}}},
      {"/style.css", 403, {{"Host", "rebound.example"}}},
      {"/_quillforge/events", 403, {{"Host", "127.0.0.1.rebound.example"}}},
      // Byte ranges of what is sent.
      {"/style.css", 206, {{"Range", "bytes=1-3"}}, "ody"},
      {"/style.css", 206, {{"Range", "bytes=-2"}}, "{}"},
      {"/style.css", 416, {{"Range", "bytes=6-"}}},
  };
  for (const auto& c : cases) {
    const httplib::Result result = client.Get(c.target, c.headers);
    ASSERT_TRUE(result) << c.target;
    EXPECT_EQ(result->status, c.status) << c.target;
    if (c.body) {
      EXPECT_EQ(result->body, c.body) << c.target;
    }
  }
  EXPECT_EQ(WTERMSIG(qfc.stop(SIGTERM)), SIGTERM);
}

}  // namespace
}  // namespace qf
