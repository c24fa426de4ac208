#pragma once

#include <string>
#include <string_view>

#include "base/text.h"
#include "base/version.h"
#include "batch/batch_front_end.h"
#include "batch/global_options.h"
#include "batch/source_list.h"
#include "engine/compiler.h"

namespace qf {

/// The caption of the program's own message boxes and main window.
inline constexpr std::string_view kProgramCaption = kProgramNameAndVersion;

/// The two compile commands of the main window: every source file of the
/// source directory, or one picked file. Runs synchronously and reports
/// through the front end.
class BatchRun {
 public:
  BatchRun(GlobalOptions& options, BatchFrontEnd& frontEnd);

  /// Compiles every source file found in the source directory, with progress,
  /// Abort/Retry/Ignore on failures and a closing summary.
  void compileAll();
  /// Lets the user pick one source file and compiles it beside itself.
  void compileSingle();

  /// The files found by the last compileAll.
  const SourceList& sources() const { return sources_; }
  Compiler& compiler() { return compiler_; }

 private:
  bool directoriesAreSet();
  /// Compiles every listed file; returns how many succeeded.
  int compileListed();
  bool compileItem(const std::string& item);
  /// Shows the last compile's failure: its message, captioned "file line n".
  MessageAnswer reportFailure(MessageButtons buttons);
  void tell(std::string_view text);

  GlobalOptions& options_;
  BatchFrontEnd& frontEnd_;
  SourceList sources_;
  Compiler compiler_;
};

/// Sets the status line (unless text is null) and the bar to
/// position * 100 / total, a total of 1 or less counting as 1.
void showProgress(BatchFrontEnd& frontEnd, const char* text, int position, int total);

/// Puts a '.' in front when missing; a result shorter than 2 becomes ".html".
void normalizeOutputExtension(Text& outputExtension);

/// The output path of a listed source file: the output directory (when
/// useOutputDir is set) or the source directory, plus item without its
/// extension, plus the output extension.
std::string outputPathFor(const GlobalOptions& options, std::string_view item);

}  // namespace qf
