#include "base/watcher.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/inotify_watcher.h"
#include "base/polling_watcher.h"

namespace qf {

namespace {

void warn(const WatchOptions& options, std::string_view message) {
  if (options.warn) options.warn(message);
}

// Notifications while the system has watches to give; polling after that,
// with a batch asking for a rescan at the switch (changes made meanwhile may
// have gone unseen).
class FallbackWatcher final : public Watcher {
 public:
  FallbackWatcher(const WatchOptions& options, std::unique_ptr<InotifyWatcher> notified)
      : options_(options), notified_(std::move(notified)) {}

  std::optional<WatchBatch> next(std::chrono::milliseconds timeout) override {
    if (notified_ && notified_->outOfWatches()) return switchToPolling();
    std::optional<WatchBatch> batch = active().next(timeout);
    if (notified_ && notified_->outOfWatches()) return switchToPolling();
    return batch;
  }

  void watchDirectory(const std::string& directory) override {
    // Callers name the same directories after every rebuild.
    if (!known_.insert(directory).second) return;
    options_.directories.push_back(directory);
    active().watchDirectory(directory);
  }

  void watchTree(const std::string& directory) override {
    if (std::find(options_.trees.begin(), options_.trees.end(), directory) ==
        options_.trees.end()) {
      options_.trees.push_back(directory);
    }
    active().watchTree(directory);
  }

  void setNeededPaths(std::set<std::string> paths) override {
    options_.neededPaths = paths;
    active().setNeededPaths(std::move(paths));
  }

 private:
  Watcher& active() {
    if (notified_) return *notified_;
    return *polling_;
  }

  WatchBatch switchToPolling() {
    warn(options_, kOutOfWatchesWarning);
    notified_.reset();
    polling_ = std::make_unique<PollingWatcher>(options_);
    WatchBatch batch;
    batch.rescan = true;
    return batch;
  }

  WatchOptions options_;
  std::unique_ptr<InotifyWatcher> notified_;
  std::unique_ptr<PollingWatcher> polling_;
  std::set<std::string> known_;
};

}  // namespace

std::unique_ptr<Watcher> makeWatcher(const WatchOptions& options) {
  auto notified = std::make_unique<InotifyWatcher>(options);
  if (!notified->started()) {
    warn(options,
         "cannot watch by notification (" + notified->error() + "); watching by polling instead");
    return std::make_unique<PollingWatcher>(options);
  }
  if (notified->outOfWatches()) {
    warn(options, kOutOfWatchesWarning);
    return std::make_unique<PollingWatcher>(options);
  }
  return std::make_unique<FallbackWatcher>(options, std::move(notified));
}

}  // namespace qf
