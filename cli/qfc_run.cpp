#include "cli/qfc_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
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

void writeAll(int fd, const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

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
    if (!ok && standardOutput.failed()) return {true, false, {}};
  } else {
    if (!options.outDirectory.empty()) makeDirectories(directoryOf(job.output));
    ok = compiler.compileFile(request);
  }
  if (ok) return {true, true, {}};
  return {true, false,
          compiler.errorFileName().str() + ":" + std::to_string(compiler.errorLine()) + ": " +
              compiler.resultText().str() + "\n"};
}

// Shared by the workers and the thread that reports.
class JobBoard {
 public:
  explicit JobBoard(std::size_t count) : outcomes_(count) {}

  /// The next job to compile, or false when none is left.
  bool take(std::size_t& index) {
    index = next_.fetch_add(1);
    return index < outcomes_.size();
  }
  void finish(std::size_t index, Outcome outcome) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      outcomes_[index] = std::move(outcome);
    }
    changed_.notify_one();
  }
  /// Waits until job index is finished and returns its outcome.
  Outcome awaitJob(std::size_t index) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return outcomes_[index].finished; });
    return std::move(outcomes_[index]);
  }

 private:
  std::atomic<std::size_t> next_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Outcome> outcomes_;
};

int threadCount(const QfcOptions& options, std::size_t jobs) {
  std::size_t wanted = options.jobs > 0 ? static_cast<std::size_t>(options.jobs)
                                        : std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

// Files are reported in list order: "[3/40] site/c.src" once the first three are done.
std::string progressLine(std::size_t done, std::size_t total, const std::string& current) {
  return "\r\033[K[" + std::to_string(done) + "/" + std::to_string(total) + "] " + current;
}

}  // namespace

std::vector<CompileJob> listJobs(const QfcOptions& options, std::string& error) {
  std::vector<CompileJob> jobs;
  if (options.allDirectory.empty()) {
    for (const std::string& file : options.files) {
      jobs.push_back({file, options.output ? *options.output
                                           : withoutExtension(file).str() + options.outputExtension});
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
  if (sources.scan(pattern.c_str(), options.recursive, nullptr) == 0) {
    error = options.allDirectoryAsGiven + ": Can't find any " + layout.sourceExtension.str() +
            " files in directory!";
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
  JobBoard board(jobs.size());
  std::vector<std::thread> workers;
  const int threads = threadCount(options, jobs.size());
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      Compiler compiler;
      if (compileTime) compiler.setClock([time = *compileTime] { return time; });
      std::size_t index;
      while (board.take(index)) board.finish(index, compileJob(compiler, options, jobs[index]));
    });
  }
  std::size_t failed = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const Outcome outcome = board.awaitJob(i);
    if (!outcome.ok) ++failed;
    if (showProgress) writeAll(errorFd, "\r\033[K");
    if (!outcome.failureLine.empty()) writeAll(errorFd, outcome.failureLine);
    if (showProgress) writeAll(errorFd, progressLine(i + 1, jobs.size(), jobs[i].input));
  }
  for (std::thread& worker : workers) worker.join();
  if (showProgress) {
    writeAll(errorFd, "\r\033[KSuccessfully Compiled " + std::to_string(jobs.size() - failed) +
                          " Files" + (failed ? ", " + std::to_string(failed) + " failed" : "") + "\n");
  }
  return failed ? 1 : 0;
}

}  // namespace qf
