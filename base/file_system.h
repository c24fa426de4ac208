#pragma once

#include <sys/types.h>

#include <compare>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

struct stat;

namespace qf {

/// A file's identity: the same for every path that names the same file.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

/// What a look at a file tells (links followed).
struct FileStatus {
  FileIdentity identity;
  bool regular = false;
  long long size = 0;
  long long modifiedNs = 0;
  long long changedNs = 0;
  friend bool operator==(const FileStatus&, const FileStatus&) = default;
};

/// What an attempt to open a file for reading found.
enum class OpenResult {
  kOpened,
  kMissing,  // no such file, not a regular file, or no permission
  kFailed,   // the system lacked resources or had an I/O error
};

/// True when errno from a failed open or look means the file is missing for
/// this program; false when resources ran out (EMFILE, ENFILE, ENOMEM) or the
/// device failed (EIO), which says nothing about the file.
bool meansMissing(int error);

/// The status of the file that path names, if it exists; on nullopt errno
/// says why.
std::optional<FileStatus> statusOf(std::string_view path);
std::optional<FileStatus> statusOfDescriptor(int fd);
/// What a stat call's result tells.
FileStatus statusFrom(const struct stat& s);

/// The identity of the file that path names (links followed), if it exists.
std::optional<FileIdentity> identityOf(std::string_view path);

/// Sets the modification time of the file at path (links followed); its
/// access time too. False when that fails.
bool setModifiedTime(std::string_view path, long long modifiedNs);

/// Sets the modification and access times of the file at path (links
/// followed) to now. False when that fails.
bool markModifiedNow(std::string_view path);

/// Removes the file or link at path (never a directory). False when it fails.
bool removeFile(std::string_view path);

/// The absolute path of path with every link and "." or ".." resolved;
/// nullopt when it does not exist.
std::optional<std::string> resolvedPathOf(std::string_view path);

/// path when it is absolute, else the current directory joined with it;
/// "" when path is empty or the current directory cannot be told. Nothing
/// is resolved.
std::string absolutePath(std::string_view path);

/// Where a path leads, told against a root.
struct ResolvedBelow {
  enum class Kind {
    kInside,   // path: where it leads, the root itself or below it
    kOutside,  // links lead out of the root
    kMissing,  // nothing there (a dangling link, a missing name)
  };
  Kind kind = Kind::kMissing;
  std::string path;
};

/// The rule for links in a tree that is published or served: path counts
/// only when, with every link resolved, it still lies inside realRoot (an
/// absolute path without links, as resolvedPathOf gives it).
ResolvedBelow resolveBelow(std::string_view path, std::string_view realRoot);

/// True when path names a directory (links followed).
bool isDirectory(std::string_view path);

/// directory when it exists, else the nearest directory above it that does;
/// "." when a relative path has none, "/" when an absolute one has none.
/// Trailing slashes are dropped; the rest is kept as spelled.
std::string nearestExistingDirectory(std::string_view directory);

/// The moment, in nanoseconds, that file times written from now on are at
/// least: the clock the kernel stamps files with, read coarsely.
long long fileClockNs();

}  // namespace qf
