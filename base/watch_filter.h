#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

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
  void setNeededPaths(std::set<std::string> paths) { neededPaths_ = std::move(paths); }

 private:
  std::string ignoredDirectory_;
  std::optional<FileIdentity> ignoredIdentity_;
  std::set<std::string> neededPaths_;
};

}  // namespace qf
