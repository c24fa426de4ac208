#include "cli/qfc_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/path.h"
#include "base/thread_budget.h"
#include "batch/batch_run.h"
#include "batch/incremental_build.h"
#include "batch/name_pattern.h"
#include "batch/site_assets.h"
#include "engine/compiler.h"

namespace qf {

namespace {

constexpr std::string_view kOutOfMemory = "Error: Out of memory.";

struct JobReport {
  bool finished = false;
  bool ok = false;
  std::string failureLine;  // empty when nothing is to be said
  bool upToDate = false;
};

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

JobReport compileJob(Compiler& compiler, const IncrementalOptions& options,
                     const PlannedCompile& job, CompileObserver* observer) {
  CompileRequest request = compileRequestFor(options, job, observer);
  DescriptorSource standardInput(STDIN_FILENO);
  if (job.input == kStandardStream) request.input = &standardInput;
  bool ok;
  if (job.output == kStandardStream) {
    DescriptorSink standardOutput(STDOUT_FILENO);
    ok = compiler.compileToSink(request, kStandardStream, standardOutput);
    // A reader that went away (qfc x.src -o - | head -1) ends the run quietly.
    if (!ok && standardOutput.failure() == EPIPE) return {true, false, {}};
  } else {
    prepareOutputDirectory(options.batch, job);
    ok = compiler.compileFile(request);
  }
  if (ok) return {true, true, {}};
  return {true, false, formatFailure(compiler.result())};
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

IncrementalOptions incrementalOptionsOf(const QfcOptions& options,
                                        std::optional<std::time_t> compileTime) {
  IncrementalOptions incremental;
  incremental.batch = batchOptionsOf(options);
  incremental.directiveChar = options.directiveChar;
  incremental.concatChar = options.concatChar;
  incremental.definitions = options.definitions;
  incremental.compileTime = compileTime;
  incremental.statePath = statePathFor(options);
  incremental.programVersion = std::string(kProgramCaption);
  incremental.alwaysMake = options.alwaysMake;
  incremental.excludes = normalExcludePatterns(options);
  incremental.dependencyFiles = options.dependencyFiles;
  incremental.dependencyFile = options.dependencyFile;
  incremental.dependencyTarget = options.dependencyTarget;
  incremental.dependencyDirectory = options.dependencyDirectory;
  incremental.phonyTargets = options.phonyTargets;
  incremental.jobs = options.jobs;
  return incremental;
}

// Hands out jobs and reports finished ones in list order. Whichever thread
// finishes the job that is next in line reports it and every finished one
// behind it, so no thread ever waits for another.
class JobBoard {
 public:
  using Report = std::function<void(std::size_t index, const JobReport& report)>;

  JobBoard(std::size_t count, Report report) : outcomes_(count), report_(std::move(report)) {}

  /// The next job to compile, or false when none is left.
  bool take(std::size_t& index) {
    index = next_.fetch_add(1);
    return index < outcomes_.size();
  }
  void finish(std::size_t index, JobReport outcome) {
    std::lock_guard<std::mutex> guard(lock_);
    outcomes_[index] = std::move(outcome);
    while (reported_ < outcomes_.size() && outcomes_[reported_].finished) {
      report_(reported_, outcomes_[reported_]);
      outcomes_[reported_++].failureLine.clear();
    }
  }

 private:
  std::atomic<std::size_t> next_{0};
  std::mutex lock_;
  std::vector<JobReport> outcomes_;
  std::size_t reported_ = 0;
  Report report_;
};

int threadCount(const QfcOptions& options, std::size_t jobs) {
  std::size_t wanted = options.jobs > 0 ? static_cast<std::size_t>(options.jobs)
                                        : std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::max<std::size_t>(1, std::min({wanted, jobs, affordableThreads()})));
}

// Starts up to count helper threads running work. When the system refuses
// one (no memory for its stack, too many threads), the run goes on with those
// already started: the calling thread works too.
std::vector<std::thread> startHelpers(int count, const std::function<void()>& work) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(count));
    for (int t = 0; t < count; ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return helpers;
}

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
  std::erase_if(jobs, [&excludes](const PlannedCompile& job) {
    return std::any_of(excludes.begin(), excludes.end(), [&job](const std::string& pattern) {
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

RunOutcome buildJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
                     std::optional<std::time_t> compileTime, int errorFd, bool showProgress,
                     bool writeFailures) {
  RunOutcome outcome;
  IncrementalOptions incremental = incrementalOptionsOf(options, compileTime);
  incremental.notice = [errorFd](const std::string& line) {
    writeAll(errorFd, run_messages::warningLine(line));
  };
  IncrementalBuild build(std::move(incremental), jobs);
  build.begin();
  const std::size_t earlyWarnings = build.warnings().size();
  for (const std::string& warning : build.warnings()) {
    writeAll(errorFd, run_messages::warningLine(warning));
  }
  JobBoard board(jobs.size(), [&](std::size_t index, const JobReport& report) {
    if (showProgress) writeAll(errorFd, "\r\033[K");
    if (!report.failureLine.empty()) {
      if (writeFailures) writeAll(errorFd, report.failureLine);
      outcome.failureLines.push_back(report.failureLine);
      outcome.failedJobs.push_back(index);
    }
    if (showProgress) writeAll(errorFd, progressLine(index + 1, jobs.size(), jobs[index].input));
  });
  auto work = [&](Compiler& compiler) {
    if (compileTime) compiler.setClock([time = *compileTime] { return time; });
    std::size_t index;
    while (board.take(index)) {
      JobReport job{true, true, {}, true};
      if (!build.isUpToDate(index)) {
        try {
          build.compilePage(index, [&](const PlannedCompile& page, CompileObserver& observer) {
            job = compileJob(compiler, build.options(), page, &observer);
            return job.ok;
          });
        } catch (const std::bad_alloc&) {  // while recording what the page read
          job = {true, false, run_messages::failureLine(jobs[index].input, 0, kOutOfMemory)};
        }
      }
      board.finish(index, std::move(job));
    }
  };
  // This thread works too (with -j 1 there is no other), so its compiler is
  // made before the helpers take the memory. A helper that cannot make one
  // leaves the jobs to the others.
  Compiler compiler;
  std::vector<std::thread> helpers = startHelpers(threadCount(options, jobs.size()) - 1, [&work] {
    std::unique_ptr<Compiler> own;
    try {
      own = std::make_unique<Compiler>();
    } catch (const std::exception&) {  // no memory, or no randomness for its seed
      return;
    }
    work(*own);
  });
  work(compiler);
  for (std::thread& helper : helpers) helper.join();
  outcome.report = build.finish();
  const BuildReport& report = outcome.report;
  if (showProgress) writeAll(errorFd, "\r\033[K");
  if (writeFailures) {
    for (const std::string& line : report.failures) writeAll(errorFd, line);
  }
  outcome.failureLines.insert(outcome.failureLines.end(), report.failures.begin(),
                              report.failures.end());
  for (std::size_t i = earlyWarnings; i < report.warnings.size(); ++i) {
    writeAll(errorFd, run_messages::warningLine(report.warnings[i]));
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    outcome.dependencies.push_back(build.dependenciesOf(i));
  }
  return outcome;
}

int runJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress) {
  const RunOutcome outcome = buildJobs(options, jobs, compileTime, errorFd, showProgress);
  const BuildReport& report = outcome.report;
  if (showProgress) {
    writeAll(errorFd,
             run_messages::compiledSummary(report.compiled, report.upToDate, report.failed) + "\n");
  }
  return report.exitStatus();
}

}  // namespace qf
