#include "base/directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/file_system.h"
#include "base/path.h"

namespace qf {

namespace {

// readdir's type saves a look per entry; links and unknown types need one.
DirectoryEntry entryOf(std::string_view directory, const dirent& entry) {
  DirectoryEntry result;
  result.name = entry.d_name;
#ifdef _DIRENT_HAVE_D_TYPE
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) {
    result.isDirectory = entry.d_type == DT_DIR;
    return result;
  }
  result.isLink = entry.d_type == DT_LNK;
#endif
  const std::string path = joinPath(directory, entry.d_name);
  struct stat status;
  if (!result.isLink && lstat(path.c_str(), &status) == 0) result.isLink = S_ISLNK(status.st_mode);
  result.isDirectory = isDirectory(path);
  return result;
}

bool isDotEntry(std::string_view name) { return name == "." || name == ".."; }

}  // namespace

std::optional<std::vector<DirectoryEntry>> listDirectory(std::string_view directory) {
  if (holdsNul(directory)) return std::nullopt;
  const std::string path = directory.empty() ? std::string(".") : std::string(directory);
  DIR* dir = opendir(path.c_str());
  if (!dir) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  while (const dirent* entry = readdir(dir)) {
    if (isDotEntry(entry->d_name)) continue;
    entries.push_back(entryOf(directory, *entry));
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return entries;
}

bool makeDirectories(std::string_view directory) {
  if (holdsNul(directory)) return false;
  const std::string path(directory);
  // Most calls find the directory there already: one look settles them.
  if (isDirectory(path.empty() ? std::string(".") : path)) return true;
  // Make each level in turn; an existing level is fine as long as it is a
  // directory, which the final check settles.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0777);
  }
  if (!path.empty() && path.back() != '/') mkdir(path.c_str(), 0777);
  return isDirectory(path.empty() ? std::string(".") : path);
}

}  // namespace qf
