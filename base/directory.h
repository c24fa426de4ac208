#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// One entry of a directory listing.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;  // after following symbolic links
};

/// What makes a file the same file under any name: its device and inode.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// The entries of directory ("" for the current one), without "." and "..",
/// in byte order of their names. A link counts as a directory when it leads
/// to one. Nullopt when the directory cannot be read.
std::optional<std::vector<DirectoryEntry>> listDirectory(std::string_view directory);

/// The identity of what path names, following links; nullopt when it cannot
/// be looked up.
std::optional<FileIdentity> fileIdentity(std::string_view path);

/// Makes directory and every missing directory above it. True when it
/// exists as a directory afterwards.
bool makeDirectories(std::string_view directory);

}  // namespace qf
