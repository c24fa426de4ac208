// qfc: the command-line compiler.

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "base/file_stream.h"
#include "base/output_file.h"
#include "base/stop_signals.h"
#include "base/version.h"
#include "cli/arguments.h"
#include "cli/init_command.h"
#include "cli/qfc_run.h"
#include "cli/watch_command.h"

namespace {

constexpr int kUsageError = 2;

int usageError(const std::string& what) {
  qf::writeAll(STDERR_FILENO, "qfc: " + what + "\nTry 'qfc --help' for more information.\n");
  return kUsageError;
}

// A stop signal ends a plain run at once: one thread waits for it, removes
// the temporary output files and ends the process with the signal.
void endRunOnStopSignals() {
  // Kept to the end of the process, unless no thread is left to wait on it.
  static const auto* signals = new qf::StopSignals;
  try {
    std::thread([] {
      const int signal = signals->wait();
      if (signal == 0) {  // the wait failed: the signals end the process by default again
        delete signals;
        return;
      }
      qf::removeTemporaryOutputs();
      qf::endWithSignal(signal);
    }).detach();
  } catch (const std::system_error&) {
    // Without the thread the signals end the process as they would anyway.
    delete signals;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard descriptor's number would go
  // to the first file, and messages meant for it would land there.
  qf::reserveStandardDescriptors();
  std::string error;
  const auto options = qf::parseArguments(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) return usageError(error);
  if (options->help) {
    std::fputs(qf::usageText(), stdout);
    return 0;
  }
  if (options->version) {
    const std::string text = "qfc (Quillforge) " + std::string(qf::kVersion) + "\n" +
                             qf::kCopyright + " " + qf::kLicence + "\n";
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (!options->initDirectory.empty()) return qf::writeStarterSite(options->initDirectory);
  std::optional<std::time_t> compileTime;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    compileTime = qf::parseSourceDateEpoch(epoch);
    if (!compileTime) {
      return usageError(std::string("SOURCE_DATE_EPOCH is not a decimal count of seconds: '") +
                        epoch + "'");
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  // The preview loop takes the stop signals itself, to finish a rebuild first.
  if (options->watch) return qf::watchAndRebuild(*options, compileTime);
  endRunOnStopSignals();

  const std::vector<qf::PlannedCompile> jobs = qf::listJobs(*options, error);
  qf::writeAll(STDERR_FILENO, error);
  if (!jobs.empty()) qf::writeAll(STDERR_FILENO, qf::excludeWarnings(*options));
  if (jobs.empty()) return 1;
  const bool showProgress = !options->quiet && isatty(STDERR_FILENO);
  const int status = qf::runJobs(*options, jobs, compileTime, STDERR_FILENO, showProgress);
  // Ends without freeing the plan page by page: the process's end returns it.
  std::exit(error.empty() ? status : std::max(status, 1));
}
