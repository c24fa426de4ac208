#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "base/pending_changes.h"
#include "base/watch_filter.h"
#include "base/watcher.h"

struct inotify_event;

namespace qf {

/// A watcher fed by Linux's inotify: one watch per directory.
class InotifyWatcher final : public Watcher {
 public:
  /// Starts watching.
  explicit InotifyWatcher(const WatchOptions& options);
  ~InotifyWatcher() override;
  InotifyWatcher(const InotifyWatcher&) = delete;
  InotifyWatcher& operator=(const InotifyWatcher&) = delete;

  /// False when the system gave no inotify instance (see error()).
  bool started() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  /// True once a directory could not be watched for lack of watches; from
  /// then on changes may be missed and polling must take over.
  bool outOfWatches() const { return outOfWatches_; }

  std::optional<WatchBatch> next(std::chrono::milliseconds timeout) override;
  void watchDirectory(const std::string& directory) override;
  void watchTree(const std::string& directory) override;
  void setNeededPaths(std::set<std::string> paths) override;

 private:
  struct Watched {
    std::string path;
    bool tree = false;  // sub-directories are watched too
  };

  /// Watches directory; returns its descriptor, or nullopt when it cannot.
  std::optional<int> addWatch(const std::string& directory, bool tree);
  /// Watches directory and every directory below it. When report is set,
  /// everything found counts as changed (it may have been written before its
  /// directory was watched).
  void addTree(const std::string& directory, bool report);
  /// Reads every queued event; false when reading failed for good.
  bool readEvents();
  void handle(const inotify_event& event);
  void handleNamed(const Watched& watched, const inotify_event& event);
  /// Stops watching directory and everything below it.
  void forgetTree(const std::string& directory);
  void recoverFromOverflow();

  int fd_ = -1;
  std::string error_;
  bool outOfWatches_ = false;
  WatchOptions options_;
  WatchFilter filter_;
  PendingChanges pending_;
  std::unordered_map<int, Watched> watches_;
  // Directories made (or moved in) where only their parent is watched, not
  // yet watched themselves: once they are, what they hold counts as changed,
  // since it may have been written before the watch.
  std::set<std::string> appeared_;
};

}  // namespace qf
