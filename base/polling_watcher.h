#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "base/file_system.h"
#include "base/pending_changes.h"
#include "base/watch_filter.h"
#include "base/watcher.h"

namespace qf {

/// A watcher that looks at every watched file's status at each poll interval
/// and compares it with the last look; for systems without notifications or
/// without enough of them.
class PollingWatcher final : public Watcher {
 public:
  explicit PollingWatcher(const WatchOptions& options);

  std::optional<WatchBatch> next(std::chrono::milliseconds timeout) override;
  void watchDirectory(const std::string& directory) override;
  /// Trees are looked at afresh at every poll: only an unknown one is added.
  void watchTree(const std::string& directory) override;
  void setNeededPaths(std::set<std::string> paths) override;

 private:
  /// What tells one version of a file from another.
  struct Stamp {
    long long modifiedNs = 0;
    long long changedNs = 0;
    long long size = 0;
    unsigned long long inode = 0;
    /// Taken while the file's times are too recent to tell a second write
    /// in the same clock tick from the first.
    std::optional<unsigned long long> contentHash;
  };
  using Snapshot = std::map<std::string, Stamp>;

  Snapshot look();
  /// Adds what lies in directory (and, with tree, below it) to snapshot;
  /// directories in seen (by identity) are passed over and those looked at
  /// are added to it.
  void lookInto(const std::string& directory, bool tree, Snapshot& snapshot,
                std::set<FileIdentity>& seen);
  /// Looks again and records what differs from the last look.
  void compare();
  static bool differs(const Stamp& before, const Stamp& after, const std::string& path);

  WatchOptions options_;
  WatchFilter filter_;
  PendingChanges pending_;
  Snapshot last_;
};

}  // namespace qf
