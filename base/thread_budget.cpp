#include "base/thread_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <limits>

namespace qf {

namespace {

// New threads get stacks of RLIMIT_STACK, or 2 MiB when it is unlimited.
std::size_t threadStackBytes() {
  rlimit stack{};
  if (getrlimit(RLIMIT_STACK, &stack) != 0 || stack.rlim_cur == RLIM_INFINITY) {
    return std::size_t{2} << 20;
  }
  return std::max<std::size_t>(stack.rlim_cur, 1);
}

// Besides its stack, a thread that allocates gets a heap of its own from the
// C library, which reserves 64 MiB of address space on 64-bit systems.
constexpr std::size_t kThreadHeapBytes = std::size_t{64} << 20;

}  // namespace

std::size_t affordableThreads() {
  rlimit space{};
  if (getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY) {
    return std::numeric_limits<std::size_t>::max();
  }
  return std::max<std::size_t>(1, space.rlim_cur / 4 / (threadStackBytes() + kThreadHeapBytes));
}

}  // namespace qf
