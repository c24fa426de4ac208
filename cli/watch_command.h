#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "base/watcher.h"
#include "batch/dependencies.h"
#include "cli/arguments.h"
#include "cli/preview_loop.h"

namespace qf {

/// The files a rebuild wrote or removed (its outputs, their dependency
/// files) as they were when it ended, and the build state's files: changes
/// to them alone call for no rebuild.
class OwnWrites {
 public:
  explicit OwnWrites(std::string statePath) : statePath_(std::move(statePath)) {}

  /// Remembers how each of paths is now (present or not).
  void remember(const std::vector<std::string>& paths);
  /// True when every path of changes is one of ours, as we left it, or a
  /// temporary output file that is gone again; false for a rescan.
  bool coversAll(const WatchBatch& changes) const;

 private:
  bool isOwn(const std::string& path) const;

  std::string statePath_;
  std::map<std::string, std::optional<FileStatus>> written_;  // by normal path
};

/// The directories to watch for what pages depend on: each dependency's
/// directory, or for a missing one the nearest directory that exists.
std::set<std::string> directoriesOfDependencies(const std::vector<PageDependencies>& pages);

/// The dependencies whose names look like editors' scratch files.
std::set<std::string> scratchNamedDependencies(const std::vector<PageDependencies>& pages);

/// qfc --all DIR --watch (or --serve): builds, then rebuilds after every
/// settled change until SIGINT or SIGTERM, and ends the process with that
/// signal once the state is committed. Returns (an exit status) only when it
/// cannot start, e.g. when the address cannot be bound.
int watchAndRebuild(const QfcOptions& options, std::optional<std::time_t> compileTime);

}  // namespace qf
