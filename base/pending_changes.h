#pragma once

#include <chrono>
#include <set>
#include <string>

#include "base/watcher.h"

namespace qf {

/// Changes seen by a watcher and not yet handed out, with the rule for when
/// they have settled.
class PendingChanges {
 public:
  using Clock = std::chrono::steady_clock;

  /// quickSettle applies instead of settle while the latest change was a
  /// completed write (see add), unless the changes began within settle of
  /// the last batch handed out (a burst of saves).
  PendingChanges(std::chrono::milliseconds settle, std::chrono::milliseconds maxDelay,
                 std::chrono::milliseconds quickSettle = std::chrono::milliseconds(0))
      : settle_(settle), maxDelay_(maxDelay), quickSettle_(quickSettle) {}

  /// Records a change now; complete when it ends a write (the file was
  /// closed after writing, or renamed into place).
  void add(std::string path, bool complete = false);
  /// Records that changes may have been lost.
  void markRescan();
  bool empty() const { return !rescan_ && paths_.empty(); }

  /// How long to wait before the changes are due: settle (or quickSettle,
  /// see above) after the last change, but no later than maxDelay after the
  /// first. Zero when due.
  std::chrono::milliseconds remaining(Clock::time_point now) const;

  /// Hands out the changes and starts afresh.
  WatchBatch take();

 private:
  void touch();

  std::chrono::milliseconds settle_;
  std::chrono::milliseconds maxDelay_;
  std::chrono::milliseconds quickSettle_;
  bool lastComplete_ = false;
  Clock::time_point lastTaken_;
  std::set<std::string> paths_;
  bool rescan_ = false;
  Clock::time_point first_;
  Clock::time_point last_;
};

/// What a wait for input ended with.
enum class WaitEnd { kInput, kStop, kTimeout };

/// Waits up to timeoutMs until fd (when not -1) has input or stopFd (when not
/// -1) becomes readable; a stop wins over input.
WaitEnd waitForInput(int fd, int stopFd, int timeoutMs);

/// Milliseconds until deadline, rounded up, at least 0 (for poll()).
int millisecondsUntil(PendingChanges::Clock::time_point deadline);

}  // namespace qf
