#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/site_path.h"

namespace qf {

/// What changed in the watched directories since the previous batch.
struct WatchBatch {
  /// Paths of the files and directories that were written, created, removed
  /// or renamed (both names), spelled as the watched directory was given,
  /// then '/' and the names below it; sorted, each once.
  std::vector<std::string> paths;
  /// True when changes may have been lost (the system's event queue ran
  /// over, or the watcher changed its way of watching): treat every watched
  /// file as changed.
  bool rescan = false;
};

/// What to watch and how.
struct WatchOptions {
  /// Directories watched with every sub-directory, also those made later.
  std::vector<std::string> trees;
  /// Directories watched without their sub-directories.
  std::vector<std::string> directories;
  /// A directory left out with everything below it (the output directory
  /// when it lies inside a watched tree); "" for none.
  std::string ignoredDirectory;
  /// Full paths (spelled as in a batch) that count even when their names look
  /// like editors' scratch files, because something depends on them.
  std::set<std::string> neededPaths;
  /// A batch is handed out once this long has passed without a new event.
  std::chrono::milliseconds settle{50};
  /// The wait instead of settle when the latest event ended a write (a file
  /// closed after writing, or renamed into place): a save is then most
  /// likely whole. Only where the system tells such events apart.
  std::chrono::milliseconds settleAfterWrite{5};
  /// The longest a batch waits for writes to settle after its first event.
  std::chrono::milliseconds maxDelay{1000};
  /// How often the polling watcher looks at the files.
  std::chrono::milliseconds pollInterval{500};
  /// At most this many directories are watched through notifications (0:
  /// as many as the system gives); past it, as when the system runs out.
  std::size_t watchLimit = 0;
  /// When this descriptor becomes readable, a waiting next() returns at
  /// once (-1: none). The watcher never reads from it.
  int stopDescriptor = -1;
  /// Receives warnings (each at most once), e.g. when the system ran out of
  /// watches. May be empty.
  std::function<void(std::string_view)> warn;
};

/// Watches directories for changes to the files in them.
class Watcher {
 public:
  virtual ~Watcher() = default;

  /// Waits for changes and returns them once writes have settled; nullopt
  /// when timeout passed without a change or the stop descriptor became
  /// readable. Changes made while the caller was busy (e.g. rebuilding) are
  /// kept and come together in the next batch.
  virtual std::optional<WatchBatch> next(std::chrono::milliseconds timeout) = 0;

  /// Watches one more directory, without its sub-directories (nothing
  /// happens when it is watched already or is missing).
  virtual void watchDirectory(const std::string& directory) = 0;

  /// Watches directory with every sub-directory again, when it is one of the
  /// trees that vanished and is back (removed and made anew, or renamed away
  /// and back); then everything in it counts as changed. Does nothing while
  /// the tree is watched or missing.
  virtual void watchTree(const std::string& directory) = 0;

  /// Replaces the set of paths that count although they look like scratch
  /// files.
  virtual void setNeededPaths(std::set<std::string> paths) = 0;
};

/// The watcher that suits this system: the kernel's notifications where
/// there are enough of them; else (with one warning) polling.
std::unique_ptr<Watcher> makeWatcher(const WatchOptions& options);

/// The warning given once when the system has no more watches to give.
inline constexpr std::string_view kOutOfWatchesWarning =
    "out of inotify watches (the limit is fs.inotify.max_user_watches); "
    "watching by polling instead";

}  // namespace qf
