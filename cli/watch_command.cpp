#include "cli/watch_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/file_stream.h"
#include "base/path.h"
#include "base/watch_filter.h"
#include "batch/resident_build.h"
#include "cli/qfc_run.h"
#include "serve/preview_server.h"

namespace qf {

namespace {

namespace fs = std::filesystem;

std::string_view nameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Outputs are written to an unnamed file (which the kernel reports as
// "#<inode>") or to ".qf<random>.tmp" beside their target, then put in place.
bool isTemporaryOutputName(std::string_view name) {
  if (name.size() > 1 && name.front() == '#') {
    return name.find_first_not_of("0123456789", 1) == std::string_view::npos;
  }
  return name.size() > 5 && name.front() == '.' && name.substr(name.size() - 4) == ".tmp";
}

std::string parentOf(const std::string& path) {
  const std::string parent = fs::path(path).lexically_normal().parent_path().generic_string();
  return parent.empty() ? "." : parent;
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

std::unique_ptr<PreviewServer> startServer(const QfcOptions& options, std::string& error) {
  if (!options.serve) return nullptr;
  std::error_code ignored;
  fs::create_directories(servedDirectory(options), ignored);
  PreviewServerOptions serve;
  serve.root = servedDirectory(options);
  serve.address = *options.serve;
  auto server = std::make_unique<PreviewServer>(serve);
  if (!server->start(error)) return nullptr;
  return server;
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
        showSummary_(!options.quiet && isatty(STDERR_FILENO)),
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
          incrementalOptionsOf(options_, compileTime_, STDERR_FILENO), jobs);
    }
    IncrementalBuild& build = resident_->begin(scope, std::move(jobs));
    const RunOutcome outcome = compileBegunBuild(build, STDERR_FILENO, showSummary_);
    const BuildReport& report = outcome.report;
    if (showSummary_) {
      writeAll(STDERR_FILENO,
               run_messages::compiledSummary(report.compiled, report.upToDate, report.failed) +
                   elapsedText(std::chrono::steady_clock::now() - start) + "\n");
    }
    result.changedFiles = report.changed;
    result.failureLines = linesOf(error);
    for (const std::string& failure : outcome.failureLines) {
      const std::vector<std::string> lines = linesOf(failure);
      result.failureLines.insert(result.failureLines.end(), lines.begin(), lines.end());
    }
    followDependencies(build, result);
    rememberWrites(report);
    // Written once the browsers have been told.
    result.afterEvents = [this] { persist(); };
    return result;
  }

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
  bool showSummary_;
  OwnWrites ownWrites_;
  bool sourceGone_ = false;
  std::unique_ptr<ResidentBuild> resident_;
  std::set<std::string> neededPaths_;
};

}  // namespace

void OwnWrites::remember(const std::vector<std::string>& paths) {
  written_.clear();
  for (const std::string& path : paths) written_[normalPath(path)] = statusOf(path);
}

bool OwnWrites::coversAll(const WatchBatch& changes) const {
  if (changes.rescan || changes.paths.empty()) return false;
  for (const std::string& path : changes.paths) {
    if (!isOwn(path)) return false;
  }
  return true;
}

bool OwnWrites::isOwn(const std::string& path) const {
  const std::string normal = normalPath(path);
  // The state's database, its journal and its lock file.
  if (!statePath_.empty() && normal.starts_with(normalPath(statePath_))) return true;
  if (isTemporaryOutputName(nameOf(normal))) return !statusOf(path).has_value();
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
      if (isEditorScratchName(nameOf(file.path))) needed.insert(normalPath(file.path));
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
  std::unique_ptr<PreviewServer> server = startServer(options, error);
  if (options.serve && !server) {
    writeAll(STDERR_FILENO, "qfc: " + error + "\n");
    return 1;
  }
  // Made before the first build, so that no save during it goes unseen.
  PreviewLoop loop(watchOptionsFor(options), std::move(server));
  writeAll(STDERR_FILENO, excludeWarnings(options));
  SiteRebuilder rebuilder(options, compileTime);
  loop.follow(rebuilder.rebuild(WatchBatch{{}, true}));
  if (loop.server()) {
    const std::string served = withoutTrailingSlashes(servedDirectory(options));
    std::printf("%s\n", servingLine(served, loop.server()->url()).c_str());
    std::fflush(stdout);
  }
  const int signal =
      loop.run([&](const WatchBatch& changes) { return rebuilder.rebuild(changes); });
  rebuilder.persist();
  endWithSignal(signal);
}

}  // namespace qf
