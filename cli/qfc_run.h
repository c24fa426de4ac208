#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "batch/build_plan.h"
#include "batch/incremental_build.h"
#include "cli/arguments.h"

namespace qf {

/// The compiles that options ask for, in compile order. With --all and no
/// source found, returns nothing and sets error to the message to show.
std::vector<PlannedCompile> listJobs(const QfcOptions& options, std::string& error);

/// What a run over jobs did.
struct RunOutcome {
  BuildReport report;
  std::vector<std::string> failureLines;       // every failure, as written
  std::vector<PageDependencies> dependencies;  // per job, what it depended on
};

/// runJobs without the closing summary line: compiles, writes failures and
/// warnings to errorFd and the progress line when showProgress.
RunOutcome buildJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
                     std::optional<std::time_t> compileTime, int errorFd, bool showProgress);

/// Compiles the jobs on options.jobs threads, each with its own compile state,
/// writing one "file:line: message" line per failure (in list order) to
/// errorFd, and a progress line when showProgress. Returns the exit status.
int runJobs(const QfcOptions& options, const std::vector<PlannedCompile>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress);

}  // namespace qf
