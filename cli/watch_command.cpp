#include "cli/watch_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>

#include "base/directory.h"
#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/local_time.h"
#include "base/path.h"
#include "base/watch_filter.h"
#include "batch/resident_build.h"
#include "batch/run_messages.h"
#include "cli/qfc_run.h"
#include "serve/preview_service.h"

namespace qf {

namespace {

// Outputs are written to an unnamed file (which the kernel reports as
// "#<inode>") or to ".qf<random>.tmp" beside their target, then put in place.
bool isTemporaryOutputName(std::string_view name) {
  if (name.size() > 1 && name.front() == '#') {
    return name.find_first_not_of("0123456789", 1) == std::string_view::npos;
  }
  return name.size() > 5 && name.front() == '.' && name.substr(name.size() - 4) == ".tmp";
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The pages are served from where they are written.
std::string servedDirectory(const QfcOptions& options) {
  return options.outDirectory.empty() ? options.allDirectory : options.outDirectory;
}

WatchOptions watchOptionsFor(const QfcOptions& options) {
  WatchOptions watch;
  watch.trees = {options.allDirectory};
  if (!options.includeDirectory.empty()) watch.directories = {options.includeDirectory};
  // Left out only when it lies inside the tree; elsewhere it is never entered.
  watch.ignoredDirectory = withoutTrailingSlashes(options.outDirectory);
  watch.warn = [](std::string_view warning) {
    writeAll(STDERR_FILENO, run_messages::warningLine(warning));
  };
  return watch;
}

// The default port is the first free one of these.
constexpr int kLastDefaultPort = 8099;

// Starts serving; when the default port is taken, the next free one up to
// kLastDefaultPort is used, which is said.
std::unique_ptr<PreviewService> startServer(const QfcOptions& options, std::string& error) {
  if (!options.serve) return nullptr;
  makeDirectories(servedDirectory(options));
  PreviewServerOptions serve;
  serve.root = servedDirectory(options);
  serve.address = *options.serve;
  const int first = serve.address.port;
  const int last = options.servePortGiven || first == 0 ? first : kLastDefaultPort;
  for (int port = first; port <= last; ++port) {
    serve.address.port = port;
    std::string attempt;
    std::unique_ptr<PreviewService> server = makePreviewServer(serve, attempt);
    if (!server) {
      error = attempt;
      return nullptr;
    }
    if (server->start(attempt)) {
      if (port != first) writeAll(STDERR_FILENO, run_messages::portTaken(first, port) + "\n");
      return server;
    }
    if (error.empty()) error = attempt;
    if (!isDirectory(serve.root)) break;
  }
  if (options.servePortGiven && first != 0) error += run_messages::kAnyFreePortHint;
  return nullptr;
}

// The URLs under which other machines on the network may reach a server
// listening on all addresses.
std::vector<std::string> urlsForOthers(const ServeAddress& address, int port) {
  std::vector<std::string> urls;
  if (address.host != "0.0.0.0" && address.host != "::") return urls;
  for (const std::string& name : namesOfThisMachine()) {
    const bool v6 = name.find(':') != std::string::npos;
    const bool number = v6 || name.find_first_not_of("0123456789.") == std::string::npos;
    // Link-local IPv6 addresses need a zone, which browsers do not take.
    if (!number || isLoopbackHost(name) || (address.host == "0.0.0.0" && v6) ||
        name.starts_with("fe80:")) {
      continue;
    }
    const std::string url = urlOf(name, port);
    if (std::find(urls.begin(), urls.end(), url) == urls.end()) urls.push_back(url);
  }
  return urls;
}

// Opens url in the desktop's browser, without waiting for it. The child
// starts with no signal blocked (the loop blocks the stop signals) and with
// its output kept off the terminal.
void openInBrowser(const std::string& url) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = -1;
  if (posix_spawnp(&child, "xdg-open", &actions, &attributes, argv, environ) == 0) {
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

// Each page failure with the output of its page, then the other failures.
std::vector<BuildFailure> failuresOf(const RunOutcome& outcome,
                                     const std::vector<PlannedCompile>& jobs) {
  std::vector<BuildFailure> failures;
  for (std::size_t i = 0; i < outcome.failureLines.size(); ++i) {
    const bool ofPage = i < outcome.failedJobs.size() && outcome.failedJobs[i] < jobs.size();
    failures.push_back(
        {outcome.failureLines[i], ofPage ? jobs[outcome.failedJobs[i]].output : std::string()});
  }
  return failures;
}

std::size_t filesOfDependencies(const std::vector<PageDependencies>& pages) {
  std::set<std::string> files;
  for (const PageDependencies& page : pages) {
    for (const Dependency& file : page.files) {
      if (file.kind != DependencyKind::kMissing) files.insert(lexicallyNormal(file.path));
    }
  }
  return files.size();
}

// "site/a.src" for the first path of a batch, below the working directory.
std::string firstChange(const WatchBatch& changes) {
  const std::string path = lexicallyNormal(changes.paths.front());
  return path.starts_with("./") ? path.substr(2) : path;
}

// moment in local time, as strftime's format spells it.
std::string localText(std::time_t moment, const char* format) {
  const std::optional<std::tm> local = localTime(moment);
  char text[64] = "";
  if (local) std::strftime(text, sizeof text, format, &*local);
  return text;
}

std::string elapsedText(std::chrono::steady_clock::duration elapsed) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return " (" + std::to_string(ms) + " ms)";
}

// One rebuild after another over the same options; remembers what the last
// one wrote.
class SiteRebuilder {
 public:
  SiteRebuilder(const QfcOptions& options, std::optional<std::time_t> compileTime)
      : options_(options),
        compileTime_(compileTime),
        showProgress_(!options.quiet && isatty(STDERR_FILENO)),
        ownWrites_(statePathOf(options)) {}

  RebuildResult rebuild(const WatchBatch& changes) {
    RebuildResult result;
    if (ownWrites_.coversAll(changes)) {
      result.skipped = true;
      return result;
    }
    if (!isDirectory(options_.allDirectory)) return waitForSourceDirectory();
    bool replan = changes.rescan || !resident_;
    if (sourceGone_) {
      sourceGone_ = false;
      replan = true;
      writeAll(STDERR_FILENO, run_messages::sourceDirectoryBack(options_.allDirectoryAsGiven));
    }
    result.treesToWatch = {options_.allDirectory};
    const auto start = std::chrono::steady_clock::now();
    ChangeScope scope;
    if (!replan) scope = resident_->scopeOf(changes.paths, false);
    std::string error;
    std::vector<PlannedCompile> jobs;
    if (replan || scope.replan) {
      scope = ChangeScope{true, {}, std::nullopt};
      jobs = listJobs(options_, error);
      writeAll(STDERR_FILENO, error);
      if (jobs.empty()) {
        if (resident_) resident_->persist();
        resident_.reset();
        result.failureLines = linesOf(error);
        return result;
      }
    }
    if (!resident_) {
      resident_ = std::make_unique<ResidentBuild>(
          incrementalOptionsOf(options_, compileTime_, warnings_), jobs);
    }
    IncrementalBuild& build = resident_->begin(scope, std::move(jobs));
    RunOutcome outcome = compileBegunBuild(build, warnings_, STDERR_FILENO, showProgress_, false);
    BuildReport& report = outcome.report;
    const std::vector<FailureGroup> failures = groupedFailures(failuresOf(outcome, build.plan()));
    for (const FailureGroup& group : failures) writeAll(STDERR_FILENO, groupText(group));
    if (!options_.quiet) {
      const std::string summary =
          summaryLine(options_, report) + elapsedText(std::chrono::steady_clock::now() - start);
      writeAll(STDERR_FILENO,
               run_messages::rebuildLine(localText(std::time(nullptr), "%H:%M:%S"),
                                         changes.rescan ? "" : firstChange(changes),
                                         changes.rescan ? 0 : changes.paths.size() - 1, summary) +
                   "\n");
    }
    result.changedFiles = report.changed;
    if (options_.checkLinks) {
      result.brokenLinks.emplace();
      result.brokenLinks->reserve(report.brokenLinks.size());
      for (BrokenLink& link : report.brokenLinks) {
        result.brokenLinks->emplace_back(link.output, std::move(link.line));
      }
    }
    result.failureLines = linesOf(error);
    const std::vector<std::string> lines = errorEventLines(failures, servedDirectory(options_));
    result.failureLines.insert(result.failureLines.end(), lines.begin(), lines.end());
    followDependencies(build, result);
    rememberWrites(report);
    // Once the browsers have been told; the state is written when the saves
    // pause (and at the stop), so that a save soon after never waits for it.
    result.afterEvents = [this] {
      if (resident_) resident_->catchUp();
    };
    result.whenQuiet = [this] { persist(); };
    return result;
  }

  /// What the last build watches: the files its pages read and their folders.
  std::size_t watchedFiles() const { return watchedFiles_; }
  std::size_t watchedFolders() const { return watchedFolders_; }

  // Writes what was recorded to the state.
  void persist() {
    if (resident_) resident_->persist();
  }

 private:
  // While the source directory is gone (removed, or renamed away), the
  // nearest directory above it is watched for its return; that is said once.
  RebuildResult waitForSourceDirectory() {
    RebuildResult result;
    const std::string gone = run_messages::sourceDirectoryGone(options_.allDirectoryAsGiven);
    if (!sourceGone_) writeAll(STDERR_FILENO, run_messages::warningLine(gone));
    sourceGone_ = true;
    result.failureLines = {gone};
    result.directoriesToWatch = {
        nearestExistingDirectory(parentOf(withoutTrailingSlashes(options_.allDirectory)))};
    return result;
  }

  static std::string statePathOf(const QfcOptions& options) {
    if (options.noState) return {};
    return options.statePath;  // the default place lies outside the site
  }

  // The directories of what the pages compiled in this run depend on are
  // watched (those of the others are already); the needed scratch-named
  // paths grow with them, and are found anew by a run that judged every page.
  void followDependencies(const IncrementalBuild& build, RebuildResult& result) {
    const bool whole = resident_->lastRunWasWhole();
    std::vector<PageDependencies> judged;
    for (std::size_t i = 0; i < build.plan().size(); ++i) {
      if (whole || build.resultOf(i).status != PageStatus::kUpToDate) {
        judged.push_back(build.dependenciesOf(i));
      }
    }
    const std::set<std::string> directories = directoriesOfDependencies(judged);
    result.directoriesToWatch.assign(directories.begin(), directories.end());
    if (whole) {
      watchedFiles_ = filesOfDependencies(judged);
      watchedFolders_ = directories.size();
    }
    std::set<std::string> needed = scratchNamedDependencies(judged);
    if (!whole) needed.insert(neededPaths_.begin(), neededPaths_.end());
    if (whole || needed != neededPaths_) result.neededPaths = needed;
    neededPaths_ = std::move(needed);
  }

  void rememberWrites(const BuildReport& report) {
    std::vector<std::string> written = report.changed;
    if (options_.dependencyFiles) {
      for (const std::string& path : report.changed) {
        written.push_back(
            dependencyFilePath(options_.dependencyDirectory, servedDirectory(options_), path));
      }
    }
    ownWrites_.remember(written);
  }

  const QfcOptions& options_;
  std::optional<std::time_t> compileTime_;
  bool showProgress_;
  OwnWrites ownWrites_;
  bool sourceGone_ = false;
  std::size_t watchedFiles_ = 0;
  std::size_t watchedFolders_ = 0;
  WarningWriter warnings_{STDERR_FILENO};  // outlives resident_, which writes to it
  std::unique_ptr<ResidentBuild> resident_;
  std::set<std::string> neededPaths_;
};

}  // namespace

void OwnWrites::remember(const std::vector<std::string>& paths) {
  written_.clear();
  for (const std::string& path : paths) written_[lexicallyNormal(path)] = statusOf(path);
}

bool OwnWrites::coversAll(const WatchBatch& changes) const {
  if (changes.rescan || changes.paths.empty()) return false;
  for (const std::string& path : changes.paths) {
    if (!isOwn(path)) return false;
  }
  return true;
}

bool OwnWrites::isOwn(const std::string& path) const {
  const std::string normal = lexicallyNormal(path);
  // The state's database, its journal and its lock file.
  if (!statePath_.empty() && normal.starts_with(lexicallyNormal(statePath_))) return true;
  if (isTemporaryOutputName(fileNameOf(normal))) return !statusOf(path).has_value();
  const auto it = written_.find(normal);
  return it != written_.end() && statusOf(path) == it->second;
}

std::set<std::string> directoriesOfDependencies(const std::vector<PageDependencies>& pages) {
  std::set<std::string> directories;
  std::set<std::string> missingIn;
  for (const PageDependencies& page : pages) {
    for (const Dependency& file : page.files) {
      if (file.kind == DependencyKind::kMissing) {
        missingIn.insert(parentOf(file.path));
      } else {
        directories.insert(parentOf(file.path));
      }
    }
  }
  for (const std::string& directory : missingIn) {
    directories.insert(nearestExistingDirectory(directory));
  }
  return directories;
}

std::set<std::string> scratchNamedDependencies(const std::vector<PageDependencies>& pages) {
  std::set<std::string> needed;
  for (const PageDependencies& page : pages) {
    for (const Dependency& file : page.files) {
      if (isEditorScratchName(fileNameOf(file.path))) needed.insert(lexicallyNormal(file.path));
    }
  }
  return needed;
}

int watchAndRebuild(const QfcOptions& options, std::optional<std::time_t> compileTime) {
  std::string error;
  // Nothing would ever change in a directory that is not there.
  if (!isDirectory(options.allDirectory)) {
    listJobs(options, error);
    writeAll(STDERR_FILENO, error);
    return 1;
  }
  std::unique_ptr<PreviewService> server = startServer(options, error);
  if (options.serve && !server) {
    writeAll(STDERR_FILENO, "qfc: " + error + "\n");
    return 1;
  }
  // A preview keeps one moment for the date and time symbols: otherwise a
  // page showing the time would change with every minute, and so would every
  // page sharing it.
  if (options.serve && !compileTime) {
    compileTime = std::time(nullptr);
    if (!options.quiet) {
      writeAll(STDERR_FILENO,
               run_messages::clockHeld(localText(*compileTime, "%Y-%m-%d %H:%M:%S")) + "\n");
    }
  }
  // Made before the first build, so that no save during it goes unseen.
  PreviewLoop loop(watchOptionsFor(options), std::move(server));
  writeAll(STDERR_FILENO, excludeWarnings(options));
  SiteRebuilder rebuilder(options, compileTime);
  loop.follow(rebuilder.rebuild(WatchBatch{{}, true}));
  const std::string url = loop.server() ? loop.server()->url() : "";
  std::printf("%s\n",
              run_messages::watchingLine(rebuilder.watchedFiles(), rebuilder.watchedFolders(), url)
                  .c_str());
  if (loop.server()) {
    for (const std::string& other : urlsForOthers(*options.serve, loop.server()->port())) {
      std::printf("%s\n", run_messages::alsoServedAt(other).c_str());
    }
  }
  std::fflush(stdout);
  if (options.open && loop.server()) openInBrowser(url);
  const int signal =
      loop.run([&](const WatchBatch& changes) { return rebuilder.rebuild(changes); });
  rebuilder.persist();
  std::printf("%s\n", std::string(run_messages::kStopped).c_str());
  std::fflush(stdout);
  endWithSignal(signal);
}

}  // namespace qf
