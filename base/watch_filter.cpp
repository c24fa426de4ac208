#include "base/watch_filter.h"

#include <utility>

#include "base/watcher.h"

namespace qf {

WatchFilter::WatchFilter(std::string ignoredDirectory, std::set<std::string> neededPaths)
    : ignoredDirectory_(withoutTrailingSlashes(ignoredDirectory)),
      neededPaths_(std::move(neededPaths)) {}

bool WatchFilter::isIgnoredDirectory(const std::string& path) {
  if (ignoredDirectory_.empty()) return false;
  if (withoutTrailingSlashes(path) == ignoredDirectory_) return true;
  // The same directory may be spelled differently (relative, through a
  // link), and it may appear only after watching began.
  if (!ignoredIdentity_) ignoredIdentity_ = identityOf(ignoredDirectory_);
  return ignoredIdentity_ && identityOf(path) == ignoredIdentity_;
}

bool WatchFilter::counts(const std::string& path, std::string_view name) const {
  return !isEditorScratchName(name) || neededPaths_.count(path) > 0;
}

bool WatchFilter::admits(const std::string& path, const DirectoryEntry& entry) {
  return entry.isDirectory ? !isIgnoredDirectory(path) : counts(path, entry.name);
}

}  // namespace qf
