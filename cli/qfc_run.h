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

/// The files that options ask for, in compile order. error gets one line for
/// each directory that could not be read, and when no source was found the
/// line saying so (and nothing is returned); empty when all went well.
std::vector<CompileJob> listJobs(const QfcOptions& options, std::string& error);

/// Compiles the jobs on options.jobs threads, each with its own compile state,
/// writing one "file:line: message" line per failure (in list order) to
/// errorFd, and a progress line when showProgress. Returns the exit status.
int runJobs(const QfcOptions& options, const std::vector<CompileJob>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress);

}  // namespace qf
