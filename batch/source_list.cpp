#include "batch/source_list.h"

#include <algorithm>

#include "base/path.h"
#include "batch/name_pattern.h"

namespace qf {

int SourceList::scan(const char* pattern, bool recurse, const char* prefix) {
  clear();
  return scanDirectory(pattern, recurse, prefix);
}

int SourceList::scanDirectory(const char* pattern, bool recurse, const char* prefix) {
  if (!pattern) return 0;
  const std::string_view text(pattern);
  const std::string directory = parentDirectoryOf(text);
  std::vector<FileIdentity> walk;
  if (auto identity = identityOf(directory.empty() ? "." : directory)) walk.push_back(*identity);
  return scanLevel(directory, text.substr(directory.size()), recurse, prefix ? prefix : "", walk);
}

int SourceList::scanLevel(const std::string& directory, std::string_view namePattern, bool recurse,
                          const std::string& prefix, std::vector<FileIdentity>& walk) {
  const auto entries = listDirectory(directory);
  if (!entries) {
    const std::string shown = directory.empty() ? "." : directory;
    unreadable_.push_back(
        shown.size() > 1 && shown.back() == '/' ? shown.substr(0, shown.size() - 1) : shown);
    return 0;
  }
  int total = recurse ? descend(directory, *entries, namePattern, prefix, walk) : 0;
  for (const DirectoryEntry& entry : *entries) {
    if (!matchesNamePattern(namePattern, entry.name)) continue;
    paths_.push_back(prefix + entry.name);
    ++total;
  }
  return total;
}

int SourceList::descend(const std::string& directory, const std::vector<DirectoryEntry>& entries,
                        std::string_view namePattern, const std::string& prefix,
                        std::vector<FileIdentity>& walk) {
  int total = 0;
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

int SourceList::clear() {
  paths_.clear();
  unreadable_.clear();
  return 1;
}

const char* SourceList::itemAt(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return paths_[static_cast<std::size_t>(index)].c_str();
}

}  // namespace qf
