#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// A file's identity: the same for every path that names the same file.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
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

/// The identity of the file that path names (links followed), if it exists.
std::optional<FileIdentity> identityOf(std::string_view path);

/// Local time of the given moment, in the process's time zone; nullopt when
/// its year does not fit.
std::optional<std::tm> localTime(std::time_t moment);

}  // namespace qf
