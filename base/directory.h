#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// One entry of a directory listing.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;  // after following symbolic links
  bool isLink = false;       // a symbolic link (isDirectory tells where it leads)
};

/// The entries of directory ("" for the current one), without "." and "..",
/// in byte order of their names. A link counts as a directory when it leads
/// to one. Nullopt when the directory cannot be read.
std::optional<std::vector<DirectoryEntry>> listDirectory(std::string_view directory);

/// Makes directory and every missing directory above it. True when it
/// exists as a directory afterwards.
bool makeDirectories(std::string_view directory);

}  // namespace qf
