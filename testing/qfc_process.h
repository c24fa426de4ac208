#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {

/// The qfc program built with these tests.
const std::string& qfcProgram();

/// Runs of qfc for one test. Every run keeps its build state in a cache
/// folder private to this object (XDG_CACHE_HOME), so no run depends on the
/// environment the test process was started with or on what another test
/// left in a cache; runs also get TZ=UTC and end after a generous timeout.
class QfcProcess {
 public:
  /// The settings every run gets, then extra (later entries win).
  std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;

  /// A run of qfc with arguments in directory, ready for runProgram; callers
  /// may add limits, closed descriptors or a redirection.
  ProgramStart start(const std::vector<std::string>& arguments, const std::string& directory,
                     const std::vector<std::string>& extra = {}) const;

  /// Runs qfc and waits for it.
  ProgramResult run(const std::vector<std::string>& arguments, const std::string& directory,
                    const std::vector<std::string>& extra = {}) const;

  /// Starts qfc without waiting (output discarded); the caller waits for
  /// the returned process.
  pid_t spawn(const std::vector<std::string>& arguments, const std::string& directory,
              const std::vector<std::string>& extra = {}) const;

  /// What qfc with arguments (one shell text) shows on a terminal, run in
  /// directory under script(1): standard output and error as one, with
  /// "\r\n" line ends.
  std::string terminalOutput(const std::string& arguments, const std::string& directory) const;

  /// The closing summary line ("Compiled ...") that qfc with arguments (one
  /// shell text) shows on a terminal, run in directory under script(1); the
  /// whole output when it shows none.
  std::string terminalSummary(const std::string& arguments, const std::string& directory) const;

  /// The private cache folder, with a trailing '/'.
  const std::string& cacheHome() const { return cache_.path(); }

 private:
  TempDir cache_;
};

}  // namespace qf
