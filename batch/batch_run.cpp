#include "batch/batch_run.h"

#include "base/directory.h"
#include "base/path.h"

namespace qf {

namespace {

constexpr std::string_view kNoSourceDirectory =
    "You haven't specified a directory to search for files!";
constexpr std::string_view kNoOutputDirectory =
    "You must specify an output directory, or turn off that option.";

Text summary(int compiled) { return "Successfully Compiled " + fromInt(compiled) + " Files"; }

}  // namespace

BatchRun::BatchRun(GlobalOptions& options, BatchFrontEnd& frontEnd)
    : options_(options), frontEnd_(frontEnd) {}

void BatchRun::compileAll() {
  if (!directoriesAreSet()) return;
  compiler_.forgetIncludedFiles();  // each run reads what is on disk now
  const std::string pattern = options_.sourceDirectory + "*" + options_.sourceExtension.str();
  if (sources_.scan(pattern.c_str(), options_.recurseFolders != 0, nullptr) == 0) {
    tell("Can't find any " + options_.sourceExtension + " files in directory!");
    return;
  }
  showProgress(frontEnd_, "Compiling files...", 0, 0);
  const int compiled = compileListed();
  showProgress(frontEnd_, summary(compiled).chars(), 1, 1);
}

void BatchRun::compileSingle() {
  compiler_.forgetIncludedFiles();
  std::string path = options_.sourceFile;
  std::string name = options_.sourceFileName;
  if (!frontEnd_.chooseSourceFile(path, name)) return;
  options_.sourceFile = path;
  options_.sourceFileName = name;

  const std::string status = "Compiling " + name;
  showProgress(frontEnd_, status.c_str(), 0, 0);
  const CompileRequest request{path, withoutNameExtension(path) + options_.outputExtension.str(),
                               options_.includeDirectory};
  if (!compiler_.compileFile(request)) {
    reportFailure(MessageButtons::kOk);
    return;
  }
  showProgress(frontEnd_, ("Successfully Compiled " + name).c_str(), 1, 1);
}

bool BatchRun::directoriesAreSet() {
  if (options_.sourceDirectory.size() < 2) {
    tell(kNoSourceDirectory);
    return false;
  }
  if (options_.useOutputDir && options_.outputDirectory.size() < 2) {
    tell(kNoOutputDirectory);
    return false;
  }
  return true;
}

int BatchRun::compileListed() {
  const int count = sources_.count();
  int compiled = 0;
  for (int index = 0; index < count; ++index) {
    const std::string item = sources_.itemAt(index);
    showProgress(frontEnd_, ("Compiling " + item).c_str(), compiled, count);
    if (compileItem(item)) {
      ++compiled;
      showProgress(frontEnd_, nullptr, compiled, count);
      continue;
    }
    const MessageAnswer answer = reportFailure(MessageButtons::kAbortRetryIgnore);
    if (answer == MessageAnswer::kAbort) break;
    if (answer != MessageAnswer::kIgnore) --index;  // Retry, or a box closed otherwise
  }
  return compiled;
}

bool BatchRun::compileItem(const std::string& item) {
  const CompileRequest request{options_.sourceDirectory + item, outputPathFor(options_, item),
                               options_.includeDirectory};
  // Sources in sub-directories need the same sub-directories under the
  // output directory. If one cannot be made, the compiler reports that it
  // cannot open the output file.
  if (options_.useOutputDir) {
    makeDirectories(parentDirectoryOf(request.outputPath));
  }
  return compiler_.compileFile(request);
}

MessageAnswer BatchRun::reportFailure(MessageButtons buttons) {
  const Text caption = compiler_.errorFileName() + " line " + fromInt(compiler_.errorLine());
  return frontEnd_.showMessage(compiler_.resultText(), caption, buttons);
}

void BatchRun::tell(std::string_view text) {
  frontEnd_.showMessage(text, kProgramCaption, MessageButtons::kOk);
}

void showProgress(BatchFrontEnd& frontEnd, const char* text, int position, int total) {
  if (text) frontEnd.setStatus(text);
  if (total < 1) total = 1;
  // Wide arithmetic: position * 100 must not overflow for huge lists.
  frontEnd.setProgress(static_cast<int>(static_cast<long long>(position) * 100 / total));
}

void normalizeOutputExtension(Text& outputExtension) {
  if (outputExtension.empty() || outputExtension.chars()[0] != '.') {
    outputExtension = "." + outputExtension;
  }
  if (outputExtension.length() < 2) outputExtension = ".html";
}

std::string outputPathFor(const GlobalOptions& options, std::string_view item) {
  const std::string& directory =
      options.useOutputDir ? options.outputDirectory : options.sourceDirectory;
  return withoutNameExtension(directory + std::string(item)) + options.outputExtension.str();
}

}  // namespace qf
