#pragma once

#include <string>
#include <string_view>

#include "base/file_system.h"

namespace qf {

/// True when the bytes readable through fd (from its start) are exactly those
/// of the regular file at path (links followed). False when they differ, when
/// path names no regular file, or when either cannot be read.
bool hasSameContents(int fd, const std::string& path);
/// The same for the file called name in the directory open as directoryFd;
/// when they are the same and status is not null, it receives that file's
/// status as the comparison saw it.
bool hasSameContents(int fd, int directoryFd, const std::string& name,
                     FileStatus* status = nullptr);
/// True when bytes are exactly those of the regular file called name in the
/// directory open as directoryFd; false and status as above.
bool hasSameContents(std::string_view bytes, int directoryFd, const std::string& name,
                     FileStatus* status = nullptr);

}  // namespace qf
