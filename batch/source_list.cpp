#include "batch/source_list.h"

#include <algorithm>

#include "base/path.h"
#include "batch/name_pattern.h"

namespace qf {

std::size_t SourceList::scan(std::string_view pattern, bool recurse, std::string_view prefix) {
  clear();
  return scanDirectory(pattern, recurse, prefix);
}

std::size_t SourceList::scanDirectory(std::string_view pattern, bool recurse,
                                      std::string_view prefix) {
  const std::string directory = directoryOf(pattern);
  std::vector<FileIdentity> walk;
  if (auto identity = identityOf(directory.empty() ? "." : directory)) walk.push_back(*identity);
  return scanLevel(directory, pattern.substr(directory.size()), recurse, std::string(prefix),
                   walk);
}

std::size_t SourceList::scanLevel(const std::string& directory, std::string_view namePattern,
                                  bool recurse, const std::string& prefix,
                                  std::vector<FileIdentity>& walk) {
  const auto entries = listDirectory(directory);
  if (!entries) {
    const std::string shown = directory.empty() ? "." : directory;
    unreadable_.push_back(
        shown.size() > 1 && shown.back() == '/' ? shown.substr(0, shown.size() - 1) : shown);
    return 0;
  }
  std::size_t total = recurse ? descend(directory, *entries, namePattern, prefix, walk) : 0;
  for (const DirectoryEntry& entry : *entries) {
    if (!matchesNamePattern(namePattern, entry.name)) continue;
    paths_.push_back(prefix + entry.name);
    ++total;
  }
  return total;
}

std::size_t SourceList::descend(const std::string& directory,
                                const std::vector<DirectoryEntry>& entries,
                                std::string_view namePattern, const std::string& prefix,
                                std::vector<FileIdentity>& walk) {
  std::size_t total = 0;
  for (const DirectoryEntry& entry : entries) {
    if (!entry.isDirectory) continue;
    const std::string path = directory + entry.name + "/";
    const auto identity = identityOf(path);
    // A link back to a directory being walked would make the walk endless.
    if (!identity || std::find(walk.begin(), walk.end(), *identity) != walk.end()) continue;
    walk.push_back(*identity);
    total += scanLevel(path, namePattern, true, prefix + entry.name + "/", walk);
    walk.pop_back();
  }
  return total;
}

void SourceList::clear() {
  paths_.clear();
  unreadable_.clear();
}

}  // namespace qf
