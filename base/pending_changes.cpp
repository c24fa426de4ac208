#include "base/pending_changes.h"

#include <poll.h>

#include <algorithm>
#include <utility>

namespace qf {

void PendingChanges::add(std::string path, bool complete) {
  touch();
  lastComplete_ = complete;
  paths_.insert(std::move(path));
}

void PendingChanges::markRescan() {
  touch();
  lastComplete_ = false;
  rescan_ = true;
}

void PendingChanges::touch() {
  const Clock::time_point now = Clock::now();
  if (empty()) first_ = now;
  last_ = now;
}

std::chrono::milliseconds PendingChanges::remaining(Clock::time_point now) const {
  const bool afterQuiet = first_ - lastTaken_ >= settle_;
  const auto settle = lastComplete_ && afterQuiet ? std::min(quickSettle_, settle_) : settle_;
  const Clock::time_point due = std::min(last_ + settle, first_ + maxDelay_);
  if (due <= now) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(due - now);
}

WatchBatch PendingChanges::take() {
  WatchBatch batch;
  batch.paths.assign(paths_.begin(), paths_.end());
  batch.rescan = rescan_;
  paths_.clear();
  rescan_ = false;
  lastTaken_ = Clock::now();
  return batch;
}

int millisecondsUntil(PendingChanges::Clock::time_point deadline) {
  const auto left = deadline - PendingChanges::Clock::now();
  if (left <= PendingChanges::Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

WaitEnd waitForInput(int fd, int stopFd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return WaitEnd::kTimeout;
  if (fds[1].revents != 0) return WaitEnd::kStop;
  return fds[0].revents != 0 ? WaitEnd::kInput : WaitEnd::kTimeout;
}

}  // namespace qf
