#include "base/worker_threads.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "base/thread_budget.h"

namespace qf {

std::size_t threadCount(int jobs, std::size_t tasks) {
  const std::size_t wanted =
      jobs > 0 ? static_cast<std::size_t>(jobs) : std::max(1u, std::thread::hardware_concurrency());
  return std::max<std::size_t>(1, std::min({wanted, tasks, affordableThreads()}));
}

std::thread startThread(std::function<void()> body) { return std::thread(std::move(body)); }

std::vector<std::thread> startHelpers(std::size_t count, const std::function<void()>& body,
                                      const ThreadStarter& start) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(count);
    for (std::size_t t = 0; t < count; ++t) helpers.push_back(start(body));
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return helpers;
}

void joinHelpers(std::vector<std::thread>& helpers) {
  for (std::thread& helper : helpers) helper.join();
  helpers.clear();
}

}  // namespace qf
