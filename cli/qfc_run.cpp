#include "cli/qfc_run.h"

#include <cstdlib>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/path.h"
#include "base/site_path.h"
#include "base/version.h"
#include "batch/compile_pool.h"
#include "batch/incremental_build.h"
#include "batch/name_pattern.h"
#include "batch/run_messages.h"
#include "batch/site_assets.h"
#include "batch/state_path.h"

namespace qf {

namespace {

BatchOptions batchOptionsOf(const QfcOptions& options) {
  BatchOptions batch;
  batch.sourceDirectory = options.allDirectory;
  batch.outputDirectory = options.outDirectory;
  batch.includeDirectory = options.includeDirectory;
  batch.outputExtension = options.outputExtension;
  batch.useOutputDirectory = !options.outDirectory.empty();
  batch.recursive = options.recursive;
  return batch;
}

// The state lives outside the site: one file per source directory under the
// user's cache directory, unless --state or --no-state says otherwise.
std::string statePathFor(const QfcOptions& options) {
  if (options.allDirectory.empty() || options.noState) return {};
  if (!options.statePath.empty()) return options.statePath;
  const char* cacheHome = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  return defaultStatePath(resolvedPathOf(options.allDirectory).value_or(options.allDirectory),
                          cacheHome ? cacheHome : "", home ? home : "");
}

std::vector<std::string> normalExcludePatterns(const QfcOptions& options) {
  std::vector<std::string> patterns;
  for (const std::string& pattern : options.excludes) {
    patterns.push_back(normalExcludePattern(pattern));
  }
  return patterns;
}

}  // namespace

void WarningWriter::write(const std::string& line) {
  if (holding_) {
    held_.push_back(line);
  } else {
    writeAll(fd_, run_messages::warningLine(line));
  }
}

void WarningWriter::release() {
  holding_ = false;
  for (const std::string& line : held_) writeAll(fd_, run_messages::warningLine(line));
  held_.clear();
}

IncrementalOptions incrementalOptionsOf(const QfcOptions& options,
                                        std::optional<std::time_t> compileTime,
                                        WarningWriter& warnings) {
  IncrementalOptions incremental;
  incremental.batch = batchOptionsOf(options);
  incremental.directiveChar = options.directiveChar;
  incremental.concatChar = options.concatChar;
  incremental.definitions = options.definitions;
  incremental.compileTime = compileTime;
  incremental.statePath = statePathFor(options);
  incremental.programVersion = std::string(kProgramNameAndVersion);
  incremental.alwaysMake = options.alwaysMake;
  incremental.excludes = normalExcludePatterns(options);
  incremental.dependencyFiles = options.dependencyFiles;
  incremental.dependencyFile = options.dependencyFile;
  incremental.dependencyTarget = options.dependencyTarget;
  incremental.dependencyDirectory = options.dependencyDirectory;
  incremental.phonyTargets = options.phonyTargets;
  incremental.jobs = options.jobs;
  incremental.checkLinks = options.checkLinks;
  incremental.warn = [&warnings](const std::string& line) { warnings.write(line); };
  return incremental;
}

namespace {

// Files are reported in list order: "[3/40] site/c.src" once the first three are done.
std::string progressLine(std::size_t done, std::size_t total, const std::string& current) {
  return "\r\033[K[" + std::to_string(done) + "/" + std::to_string(total) + "] " +
         run_messages::escapedForTerminal(current);
}

}  // namespace

std::vector<PlannedCompile> listJobs(const QfcOptions& options, std::string& error) {
  std::vector<PlannedCompile> jobs;
  if (options.allDirectory.empty()) {
    for (const std::string& file : options.files) {
      jobs.push_back(planLoneFile(file, options.outputExtension));
      if (options.output) jobs.back().output = *options.output;
    }
    return jobs;
  }
  const BatchOptions batch = batchOptionsOf(options);
  std::vector<std::string> unreadable;
  jobs = planDirectoryRun(batch, unreadable);
  const std::vector<std::string> excludes = normalExcludePatterns(options);
  // An editor's lock or scratch file named like a page is none.
  std::erase_if(jobs, [&excludes](const PlannedCompile& job) {
    return isEditorScratchName(fileNameOf(job.item)) ||
           std::any_of(excludes.begin(), excludes.end(), [&job](const std::string& pattern) {
             return matchesExcludePattern(pattern, job.item);
           });
  });
  // The directory named on the command line has the message below instead.
  for (const std::string& directory : unreadable) {
    if (withTrailingSlash(directory) != options.allDirectory) {
      error += run_messages::directoryNotRead(directory);
    }
  }
  if (jobs.empty()) {
    error += options.allDirectoryAsGiven + ": " +
             run_messages::noSourcesFound(batch.sourceExtension) + "\n";
  }
  return jobs;
}

std::string excludeWarnings(const QfcOptions& options) {
  std::string warnings;
  std::vector<std::string> seen;
  for (const std::string& pattern : options.excludes) {
    if (std::find(seen.begin(), seen.end(), pattern) != seen.end()) continue;
    seen.push_back(pattern);
    if (!excludePatternMatchesAny(options.allDirectory, normalExcludePattern(pattern))) {
      warnings += run_messages::warningLine(run_messages::excludeMatchedNothing(pattern));
    }
  }
  return warnings;
}

std::string summaryLine(const QfcOptions& options, const BuildReport& report) {
  return run_messages::compiledSummary(
      report.compiled, report.upToDate, report.failed,
      options.checkLinks ? std::optional(report.brokenLinks.size()) : std::nullopt);
}

bool brokenLinksFail(const QfcOptions& options, const BuildReport& report) {
  return options.brokenLinksFail && !report.brokenLinks.empty();
}

RunOutcome compileBegunBuild(IncrementalBuild& build, WarningWriter& warnings, int errorFd,
                             bool showProgress, bool writeFailures) {
  RunOutcome outcome;
  const std::vector<PlannedCompile>& jobs = build.plan();
  // The warnings of the compiles and of finish() follow the failures.
  warnings.hold();
  compileInParallel(build, [&](std::size_t index, const PoolPage& page) {
    if (showProgress) writeAll(errorFd, "\r\033[K");
    if (!page.failure.empty()) {
      if (writeFailures) writeAll(errorFd, page.failure);
      outcome.failureLines.push_back(page.failure);
      outcome.failedJobs.push_back(index);
    }
    if (showProgress) writeAll(errorFd, progressLine(index + 1, jobs.size(), jobs[index].input));
  });
  outcome.report = build.finish();
  const BuildReport& report = outcome.report;
  if (showProgress) writeAll(errorFd, "\r\033[K");
  if (writeFailures) {
    for (const std::string& line : report.failures) writeAll(errorFd, line);
  }
  outcome.failureLines.insert(outcome.failureLines.end(), report.failures.begin(),
                              report.failures.end());
  warnings.release();
  std::string brokenLinks;
  for (const BrokenLink& link : report.brokenLinks) brokenLinks += link.line;
  writeAll(errorFd, brokenLinks);
  return outcome;
}

int runJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress) {
  WarningWriter warnings(errorFd);
  // Kept to the end of the process, which returns the records' memory at
  // once: freeing a large site's records one by one would cost a tenth of a
  // run that finds nothing to do.
  static IncrementalBuild* const build =
      new IncrementalBuild(incrementalOptionsOf(options, compileTime, warnings), jobs);
  build->begin();
  const RunOutcome outcome = compileBegunBuild(*build, warnings, errorFd, showProgress);
  build->closeState();
  const BuildReport& report = outcome.report;
  if (showProgress) {
    writeAll(errorFd, summaryLine(options, report) + "\n");
  }
  return brokenLinksFail(options, report) ? 1 : report.exitStatus();
}

}  // namespace qf
