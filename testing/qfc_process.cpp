#include "testing/qfc_process.h"

namespace qf {

namespace {

// Long enough for the slowest run a test makes; a run still going then hangs.
constexpr int kHangSeconds = 300;

}  // namespace

const std::string& qfcProgram() {
  static const std::string path = QFC_PATH;
  return path;
}

std::vector<std::string> QfcProcess::environment(const std::vector<std::string>& extra) const {
  std::vector<std::string> settings = {"XDG_CACHE_HOME=" + cache_.path(), "TZ=UTC"};
  settings.insert(settings.end(), extra.begin(), extra.end());
  return settings;
}

ProgramStart QfcProcess::start(const std::vector<std::string>& arguments,
                               const std::string& directory,
                               const std::vector<std::string>& extra) const {
  ProgramStart run;
  run.program = qfcProgram();
  run.arguments = arguments;
  run.directory = directory;
  run.environment = environment(extra);
  run.timeoutSeconds = kHangSeconds;
  return run;
}

ProgramResult QfcProcess::run(const std::vector<std::string>& arguments,
                              const std::string& directory,
                              const std::vector<std::string>& extra) const {
  return runProgram(start(arguments, directory, extra));
}

pid_t QfcProcess::spawn(const std::vector<std::string>& arguments, const std::string& directory,
                        const std::vector<std::string>& extra) const {
  return startProgram(start(arguments, directory, extra));
}

std::string QfcProcess::terminalOutput(const std::string& arguments,
                                       const std::string& directory) const {
  return runProgram("/usr/bin/script", {"-qec", qfcProgram() + " " + arguments, "/dev/null"},
                    directory, environment())
      .out;
}

std::string QfcProcess::terminalSummary(const std::string& arguments,
                                        const std::string& directory) const {
  const std::string out = terminalOutput(arguments, directory);
  const std::size_t start = out.rfind("Compiled ");
  return start == std::string::npos ? out : out.substr(start, out.find('\r', start) - start);
}

}  // namespace qf
