#pragma once

#include <cstddef>

namespace qf {

/// How many threads the process can start while leaving three quarters of a
/// limited address space (RLIMIT_AS) to the work itself, counting each thread
/// by its stack and the heap the C library reserves for it. At least 1;
/// unbounded without a limit.
std::size_t affordableThreads();

}  // namespace qf
