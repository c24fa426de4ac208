#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "base/worker_threads.h"
#include "batch/incremental_build.h"

namespace qf {

/// What became of one page of the plan, as the pool reports it.
struct PoolPage {
  bool compiled = false;  // false: it was up to date
  bool ok = true;
  /// A failed page's lines as formatFailure gives them; empty when nothing is
  /// to be said (a reader of standard output that went away).
  std::string failure;
};

/// Told of each page in plan order, one at a time, from whichever thread
/// finished the page that was next in line.
using PoolReport = std::function<void(std::size_t index, const PoolPage& page)>;

/// Compiles the pages of build (between its begin() and finish()) that are
/// not up to date, and reports every page in plan order as soon as it and all
/// before it are done, so that no thread waits for another. The calling
/// thread works too, beside up to options().jobs - 1 helpers (jobs 0: one
/// thread per core), no more than the pages to compile or the address space allow; when
/// the system refuses a thread, or a helper cannot make its compiler, the
/// others do its share. Each thread has a compiler of its own, on the
/// options' clock; the compilers share one look at each included file (a
/// file that changes during the run is compiled again by the next one, as
/// the recorded dependencies show). A page "-" reads standard input or writes standard output;
/// a page that runs out of memory fails with "Error: Out of memory.".
void compileInParallel(IncrementalBuild& build, const PoolReport& report,
                       const ThreadStarter& start = startThread);

}  // namespace qf
