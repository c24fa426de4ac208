#include "base/directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/path.h"

namespace qf {

namespace {

std::string joined(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

bool isDirectoryPath(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// readdir's type saves a stat per entry; links and unknown types need one.
bool isDirectoryEntry(std::string_view directory, const dirent& entry) {
#ifdef _DIRENT_HAVE_D_TYPE
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return entry.d_type == DT_DIR;
#endif
  return isDirectoryPath(joined(directory, entry.d_name));
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
    entries.push_back({entry->d_name, isDirectoryEntry(directory, *entry)});
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
  if (isDirectoryPath(path.empty() ? std::string(".") : path)) return true;
  // Make each level in turn; an existing level is fine as long as it is a
  // directory, which the final check settles.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0777);
  }
  if (!path.empty() && path.back() != '/') mkdir(path.c_str(), 0777);
  return isDirectoryPath(path.empty() ? std::string(".") : path);
}

}  // namespace qf
