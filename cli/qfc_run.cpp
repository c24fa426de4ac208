#include "cli/qfc_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/directory.h"
#include "base/file_stream.h"
#include "base/path.h"
#include "batch/batch_run.h"
#include "batch/source_list.h"
#include "engine/compiler.h"

namespace qf {

namespace {

constexpr char kStandardOutput[] = "-";

struct Outcome {
  bool finished = false;
  bool ok = false;
  std::string failureLine;  // empty when nothing is to be said
};

CompileRequest requestFor(const QfcOptions& options, const CompileJob& job) {
  CompileRequest request;
  request.inputPath = job.input;
  request.outputPath = job.output;
  request.includeDirectory = options.includeDirectory;
  request.directiveChar = options.directiveChar;
  request.concatChar = options.concatChar;
  request.definitions = options.definitions;
  return request;
}

Outcome compileJob(Compiler& compiler, const QfcOptions& options, const CompileJob& job) {
  const CompileRequest request = requestFor(options, job);
  bool ok;
  if (job.output == kStandardOutput) {
    DescriptorSink standardOutput(STDOUT_FILENO);
    ok = compiler.compileToSink(request, kStandardOutput, standardOutput);
    // A reader that went away (qfc x.src -o - | head -1) ends the run quietly.
    if (!ok && standardOutput.failure() == EPIPE) return {true, false, {}};
  } else {
    if (!options.outDirectory.empty()) makeDirectories(parentDirectoryOf(job.output));
    ok = compiler.compileFile(request);
  }
  if (ok) return {true, true, {}};
  return {true, false,
          compiler.errorFileName().str() + ":" + std::to_string(compiler.errorLine()) + ": " +
              compiler.resultText().str() + "\n"};
}

// Hands out jobs and reports finished ones in list order. Whichever thread
// finishes the job that is next in line reports it and every finished one
// behind it, so no thread ever waits for another.
class JobBoard {
 public:
  using Report = std::function<void(std::size_t index, const Outcome& outcome)>;

  JobBoard(std::size_t count, Report report) : outcomes_(count), report_(std::move(report)) {}

  /// The next job to compile, or false when none is left.
  bool take(std::size_t& index) {
    index = next_.fetch_add(1);
    return index < outcomes_.size();
  }
  void finish(std::size_t index, Outcome outcome) {
    std::lock_guard<std::mutex> guard(lock_);
    outcomes_[index] = std::move(outcome);
    while (reported_ < outcomes_.size() && outcomes_[reported_].finished) {
      report_(reported_, outcomes_[reported_]);
      outcomes_[reported_++].failureLine.clear();
    }
  }

 private:
  std::atomic<std::size_t> next_{0};
  std::mutex lock_;
  std::vector<Outcome> outcomes_;
  std::size_t reported_ = 0;
  Report report_;
};

int threadCount(const QfcOptions& options, std::size_t jobs) {
  std::size_t wanted = options.jobs > 0 ? static_cast<std::size_t>(options.jobs)
                                        : std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

// Starts up to count helper threads running work. When the system refuses
// one (no memory for its stack, too many threads), the run goes on with those
// already started: the calling thread works too.
std::vector<std::thread> startHelpers(int count, const std::function<void()>& work) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(count));
    for (int t = 0; t < count; ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return helpers;
}

// A name as the progress line shows it: control characters (which could move
// the cursor, clear the screen or set the window title) appear as "\x1b".
std::string escapedForTerminal(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      shown += c;
    } else {
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return shown;
}

// Files are reported in list order: "[3/40] site/c.src" once the first three are done.
std::string progressLine(std::size_t done, std::size_t total, const std::string& current) {
  return "\r\033[K[" + std::to_string(done) + "/" + std::to_string(total) + "] " +
         escapedForTerminal(current);
}

}  // namespace

std::vector<CompileJob> listJobs(const QfcOptions& options, std::string& error) {
  std::vector<CompileJob> jobs;
  if (options.allDirectory.empty()) {
    for (const std::string& file : options.files) {
      jobs.push_back({file, options.output ? *options.output
                                           : withoutNameExtension(file) + options.outputExtension});
    }
    return jobs;
  }
  GlobalOptions layout;
  layout.outputExtension = options.outputExtension;
  layout.sourceDirectory = options.allDirectory;
  layout.outputDirectory = options.outDirectory;
  layout.useOutputDir = options.outDirectory.empty() ? 0 : 1;
  const std::string pattern = options.allDirectory + "*" + layout.sourceExtension.str();
  SourceList sources;
  const int found = sources.scan(pattern.c_str(), options.recursive, nullptr);
  // The directory named on the command line has the message below instead.
  for (const std::string& directory : sources.unreadableDirectories()) {
    if (withTrailingSlash(directory) == options.allDirectory) continue;
    error += directory + ":0: Error: Could not read directory \"" + directory + "\".\n";
  }
  if (found == 0) {
    error += options.allDirectoryAsGiven + ": Can't find any " + layout.sourceExtension.str() +
             " files in directory!\n";
    return jobs;
  }
  jobs.reserve(static_cast<std::size_t>(sources.count()));
  for (int i = 0; i < sources.count(); ++i) {
    const std::string item = sources.itemAt(i);
    jobs.push_back({options.allDirectory + item, outputPathFor(layout, item)});
  }
  return jobs;
}

int runJobs(const QfcOptions& options, const std::vector<CompileJob>& jobs,
            std::optional<std::time_t> compileTime, int errorFd, bool showProgress) {
  std::size_t failed = 0;
  JobBoard board(jobs.size(), [&](std::size_t index, const Outcome& outcome) {
    if (!outcome.ok) ++failed;
    if (showProgress) writeAll(errorFd, "\r\033[K");
    if (!outcome.failureLine.empty()) writeAll(errorFd, outcome.failureLine);
    if (showProgress) writeAll(errorFd, progressLine(index + 1, jobs.size(), jobs[index].input));
  });
  auto work = [&] {
    Compiler compiler;
    if (compileTime) compiler.setClock([time = *compileTime] { return time; });
    std::size_t index;
    while (board.take(index)) board.finish(index, compileJob(compiler, options, jobs[index]));
  };
  // This thread works too: with -j 1 there is no other.
  std::vector<std::thread> helpers = startHelpers(threadCount(options, jobs.size()) - 1, work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (showProgress) {
    writeAll(errorFd, "\r\033[KSuccessfully Compiled " + std::to_string(jobs.size() - failed) +
                          " Files" + (failed ? ", " + std::to_string(failed) + " failed" : "") +
                          "\n");
  }
  return failed ? 1 : 0;
}

}  // namespace qf
