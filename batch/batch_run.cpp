#include "batch/batch_run.h"

#include "batch/run_messages.h"

namespace qf {

namespace {

// The window's pages are shaped by its directories alone: the default
// directive and join characters, no definitions.
IncrementalOptions pageOptions(const BatchOptions& batch) {
  IncrementalOptions options;
  options.batch = batch;
  return options;
}

}  // namespace

BatchRun::BatchRun(BatchFrontEnd& frontEnd) : frontEnd_(frontEnd) {}

void BatchRun::compileAll(const BatchOptions& options) {
  plan_.clear();
  if (!directoriesAreSet(options)) return;
  compiler_.forgetIncludedFiles();  // each run reads what is on disk now
  plan_ = planDirectoryRun(options);
  if (plan_.empty()) {
    tell(run_messages::noSourcesFound(options.sourceExtension));
    return;
  }
  showProgress(frontEnd_, run_messages::kCompilingFiles, 0, 0);
  const std::size_t compiled = compilePlanned(options);
  showProgress(frontEnd_, run_messages::compiledCount(compiled), 1, 1);
}

void BatchRun::compileSingle(const BatchOptions& options) {
  compiler_.forgetIncludedFiles();
  const std::optional<PickedFile> picked = frontEnd_.chooseSourceFile();
  if (!picked) return;
  showProgress(frontEnd_, run_messages::compiling(picked->name), 0, 0);
  const PlannedCompile planned = planLoneFile(picked->path, options.outputExtension);
  if (!compiler_.compileFile(compileRequestFor(pageOptions(options), planned, nullptr))) {
    reportFailure(MessageButtons::kOk);
    return;
  }
  showProgress(frontEnd_, run_messages::compiledFile(picked->name), 1, 1);
}

bool BatchRun::directoriesAreSet(const BatchOptions& options) {
  if (options.sourceDirectory.size() < 2) {
    tell(run_messages::kNoSourceDirectory);
    return false;
  }
  if (options.useOutputDirectory && options.outputDirectory.size() < 2) {
    tell(run_messages::kNoOutputDirectory);
    return false;
  }
  return true;
}

std::size_t BatchRun::compilePlanned(const BatchOptions& batch) {
  const IncrementalOptions options = pageOptions(batch);
  const std::size_t count = plan_.size();
  std::size_t compiled = 0;
  for (std::size_t index = 0; index < count; ++index) {
    showProgress(frontEnd_, run_messages::compiling(plan_[index].item), compiled, count);
    if (compile(options, plan_[index])) {
      ++compiled;
      showProgress(frontEnd_, {}, compiled, count);
      continue;
    }
    const MessageAnswer answer = reportFailure(MessageButtons::kAbortRetryIgnore);
    if (answer == MessageAnswer::kAbort) break;
    if (answer != MessageAnswer::kIgnore) --index;  // Retry, or a box closed otherwise
  }
  return compiled;
}

bool BatchRun::compile(const IncrementalOptions& options, const PlannedCompile& planned) {
  prepareOutputDirectory(options.batch, planned);
  return compiler_.compileFile(compileRequestFor(options, planned, nullptr));
}

MessageAnswer BatchRun::reportFailure(MessageButtons buttons) {
  return frontEnd_.showFailure(compiler_.result(), buttons);
}

void BatchRun::tell(std::string_view text) { frontEnd_.showNote(text); }

void showProgress(BatchFrontEnd& frontEnd, std::string_view text, std::size_t position,
                  std::size_t total) {
  if (!text.empty()) frontEnd.setStatus(text);
  if (total < 1) total = 1;
  // Wide arithmetic: position * 100 must not overflow for huge lists.
  frontEnd.setProgress(static_cast<int>(static_cast<unsigned long long>(position) * 100 / total));
}

}  // namespace qf
