#pragma once

#include <string_view>
#include <vector>

#include "batch/batch_front_end.h"
#include "batch/build_plan.h"
#include "batch/incremental_build.h"
#include "engine/compiler.h"

namespace qf {

/// The two compile commands of the main window: every source file of the
/// source directory, or one picked file. Runs synchronously and reports
/// through the front end, which must outlive the run.
class BatchRun {
 public:
  explicit BatchRun(BatchFrontEnd& frontEnd);

  /// Compiles every source file found in the source directory, with progress,
  /// Abort/Retry/Ignore on failures and a closing summary.
  void compileAll(const BatchOptions& options);
  /// Lets the user pick one source file and compiles it beside itself.
  void compileSingle(const BatchOptions& options);

  /// The compiles of the last compileAll.
  const std::vector<PlannedCompile>& plan() const { return plan_; }
  Compiler& compiler() { return compiler_; }

 private:
  bool directoriesAreSet(const BatchOptions& options);
  /// Compiles every planned file; returns how many succeeded.
  std::size_t compilePlanned(const BatchOptions& options);
  bool compile(const IncrementalOptions& options, const PlannedCompile& planned);
  /// Shows the last compile's failure.
  MessageAnswer reportFailure(MessageButtons buttons);
  void tell(std::string_view text);

  BatchFrontEnd& frontEnd_;
  std::vector<PlannedCompile> plan_;
  Compiler compiler_;
};

/// Sets the status line (unless text is empty) and the bar to
/// position * 100 / total, a total of 1 or less counting as 1.
void showProgress(BatchFrontEnd& frontEnd, std::string_view text, std::size_t position,
                  std::size_t total);

}  // namespace qf
