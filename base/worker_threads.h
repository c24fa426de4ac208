#pragma once

#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace qf {

/// Starts a thread running body; throws (std::system_error, std::bad_alloc)
/// when the system refuses one.
using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

/// Starts threads as std::thread does.
std::thread startThread(std::function<void()> body);

/// How many threads to use for tasks, jobs asking for that many (0: one per
/// core): no more than the tasks or the address space allow, at least 1.
std::size_t threadCount(int jobs, std::size_t tasks);

/// Starts up to count helpers running body; stops at the first the system
/// refuses and goes on with those already started.
std::vector<std::thread> startHelpers(std::size_t count, const std::function<void()>& body,
                                      const ThreadStarter& start = startThread);

/// Waits for every helper to return.
void joinHelpers(std::vector<std::thread>& helpers);

}  // namespace qf
