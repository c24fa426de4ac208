#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace qf {

/// One file to compile and where its output goes ("-": standard output).
struct CompileJob {
  std::string input;
  std::string output;
};

/// The files that options ask for, in compile order. With --all and no source
/// found, returns nothing and sets error to the message to show.
std::vector<CompileJob> listJobs(const QfcOptions& options, std::string& error);

/// Compiles the jobs on options.jobs threads, each with its own compile state,
/// writing one "file:line: message" line per failure (in list order) to
/// errorFd, and a progress line when showProgress. Returns the exit status.
int runJobs(const QfcOptions& options, const std::vector<CompileJob>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress);

}  // namespace qf
