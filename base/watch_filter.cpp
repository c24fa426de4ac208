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

std::string withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string joinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace qf
