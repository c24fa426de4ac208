#include "batch/compile_pool.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/file_stream.h"
#include "base/output_file.h"
#include "batch/run_messages.h"
#include "engine/compiler.h"

namespace qf {

namespace {

constexpr std::string_view kOutOfMemory = "Error: Out of memory.";

struct Slot {
  bool finished = false;
  PoolPage page;
};

// Hands out pages and reports finished ones in plan order. Whichever thread
// finishes the page that is next in line reports it and every finished one
// behind it.
class OrderedBoard {
 public:
  OrderedBoard(std::size_t count, const PoolReport& report) : slots_(count), report_(report) {}

  /// The next page to compile, or false when none is left.
  bool take(std::size_t& index) {
    index = next_.fetch_add(1);
    return index < slots_.size();
  }
  void finish(std::size_t index, PoolPage page) {
    std::lock_guard<std::mutex> guard(lock_);
    slots_[index] = {true, std::move(page)};
    while (reported_ < slots_.size() && slots_[reported_].finished) {
      report_(reported_, slots_[reported_].page);
      slots_[reported_++].page.failure.clear();
    }
  }

 private:
  std::atomic<std::size_t> next_{0};
  std::mutex lock_;
  std::vector<Slot> slots_;
  std::size_t reported_ = 0;
  const PoolReport& report_;
};

// What one compiling thread keeps from page to page.
struct ThreadKeep {
  std::string lastMadeDirectory;
  OutputDirectoryCache outputDirectories;
};

// Fills page from one compile of planned.
bool compileOne(Compiler& compiler, const IncrementalOptions& options,
                const PlannedCompile& planned, CompileObserver& observer, IncludeCache& includes,
                ThreadKeep& keep, PoolPage& page) {
  CompileRequest request = compileRequestFor(options, planned, &observer);
  request.includes = &includes;
  request.outputDirectories = &keep.outputDirectories;
  DescriptorSource standardInput(STDIN_FILENO);
  if (planned.input == kStandardStream) request.input = &standardInput;
  if (planned.output == kStandardStream) {
    DescriptorSink standardOutput(STDOUT_FILENO);
    page.ok = compiler.compileToSink(request, kStandardStream, standardOutput);
    // A reader that went away (qfc x.src -o - | head -1) ends the run quietly.
    if (!page.ok && standardOutput.failure() == EPIPE) return false;
  } else {
    prepareOutputDirectory(options.batch, planned, &keep.lastMadeDirectory);
    page.ok = compiler.compileFile(request);
  }
  if (!page.ok) page.failure = formatFailure(compiler.result());
  return page.ok;
}

}  // namespace

void compileInParallel(IncrementalBuild& build, const PoolReport& report,
                       const ThreadStarter& start) {
  const IncrementalOptions& options = build.options();
  const std::vector<PlannedCompile>& plan = build.plan();
  OrderedBoard board(plan.size(), report);
  // Every compile of the run shares one look at each included file.
  IncludeCache includes(true);
  auto work = [&](Compiler& compiler) {
    if (options.compileTime) compiler.setClock([time = *options.compileTime] { return time; });
    ThreadKeep keep;
    std::size_t index;
    while (board.take(index)) {
      PoolPage page;
      if (!build.isUpToDate(index)) {
        page.compiled = true;
        try {
          build.compilePage(index, [&](const PlannedCompile& planned, CompileObserver& observer) {
            return compileOne(compiler, options, planned, observer, includes, keep, page);
          });
        } catch (const std::bad_alloc&) {  // while recording what the page read
          page.ok = false;
          page.failure = run_messages::failureLine(plan[index].input, 0, kOutOfMemory);
        }
      }
      board.finish(index, std::move(page));
    }
  };
  // This thread works too (with one job there is no other), so its compiler
  // is made before the helpers take the memory.
  Compiler compiler;
  // No more threads than pages to compile: a run with nothing to do starts none.
  std::size_t toCompile = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) toCompile += build.isUpToDate(i) ? 0 : 1;
  std::vector<std::thread> helpers = startHelpers(
      threadCount(options.jobs, toCompile) - 1,
      [&work] {
        std::unique_ptr<Compiler> own;
        try {
          own = std::make_unique<Compiler>();
        } catch (const std::exception&) {  // no memory, or no randomness for its seed
          return;
        }
        work(*own);
      },
      start);
  build.openDeferredState();
  if (!helpers.empty()) build.listAssetsAhead();
  work(compiler);
  joinHelpers(helpers);
}

}  // namespace qf
