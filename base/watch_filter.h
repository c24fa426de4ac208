#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/directory.h"
#include "base/file_system.h"
#include "base/path.h"

namespace qf {

/// Decides which paths a watcher reports and which directories it enters.
class WatchFilter {
 public:
  WatchFilter(std::string ignoredDirectory, std::set<std::string> neededPaths);

  /// True for the ignored directory, by name or by identity.
  bool isIgnoredDirectory(const std::string& path);
  /// True when a change to path (whose last name is name) is worth telling:
  /// not an editor's scratch file, unless it is a needed path.
  bool counts(const std::string& path, std::string_view name) const;
  /// True for an entry met on a walk (at path) that is watched: a directory
  /// that is not the ignored one, or a file that counts.
  bool admits(const std::string& path, const DirectoryEntry& entry);
  void setNeededPaths(std::set<std::string> paths) { neededPaths_ = std::move(paths); }

 private:
  std::string ignoredDirectory_;
  std::optional<FileIdentity> ignoredIdentity_;
  std::set<std::string> neededPaths_;
};

}  // namespace qf
