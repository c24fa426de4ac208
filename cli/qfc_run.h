#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "batch/build_plan.h"
#include "batch/incremental_build.h"
#include "cli/arguments.h"

namespace qf {

/// The compiles that options ask for, in compile order, without the pages
/// that an --exclude pattern matches. error gets one line for
/// each directory that could not be read, and when no source was found the
/// line saying so (and nothing is returned); empty when all went well.
std::vector<PlannedCompile> listJobs(const QfcOptions& options, std::string& error);

/// One warning line for each --exclude pattern that matches no path of the
/// tree; empty when each matches something.
std::string excludeWarnings(const QfcOptions& options);

/// Writes the warnings of runs to a descriptor, each as a warning line: at
/// once, or while held, on release(). Give write() the lines from one thread
/// at a time.
class WarningWriter {
 public:
  explicit WarningWriter(int fd) : fd_(fd) {}
  void write(const std::string& line);
  void hold() { holding_ = true; }
  /// Writes what was held, in order, and writes at once again.
  void release();

 private:
  int fd_;
  bool holding_ = false;
  std::vector<std::string> held_;
};

/// The options of an incremental run that options ask for, with the date
/// symbols at compileTime (nullopt: the time of each run); its warnings go to
/// warnings, which must outlive the runs.
IncrementalOptions incrementalOptionsOf(const QfcOptions& options,
                                        std::optional<std::time_t> compileTime,
                                        WarningWriter& warnings);

/// What a run over jobs did.
struct RunOutcome {
  BuildReport report;
  std::vector<std::string> failureLines;  // every failure, as written
  std::vector<std::size_t> failedJobs;    // the job of each page's failure, in order
};

/// The closing line of a run: "Compiled 3 files, 1 up to date, 0 failed.",
/// with the count of broken links before the '.' when they were checked.
std::string summaryLine(const QfcOptions& options, const BuildReport& report);
/// True when --check-links=error found a broken link.
bool brokenLinksFail(const QfcOptions& options, const BuildReport& report);

/// Compiles the pages of build (begun, its warnings going to warnings) that
/// are not up to date and finishes it, writing failures (unless writeFailures
/// is false), then the warnings given meanwhile, then broken links to errorFd,
/// and the progress line when showProgress.
RunOutcome compileBegunBuild(IncrementalBuild& build, WarningWriter& warnings, int errorFd,
                             bool showProgress, bool writeFailures = true);

/// Compiles the jobs on options.jobs threads, each with its own compile state,
/// writing one "file:line: message" line per failure (in list order) to
/// errorFd, and a progress line when showProgress. Returns the exit status.
/// Once per process: the build is kept, unfreed, to the process's end.
int runJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress);

}  // namespace qf
