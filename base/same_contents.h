#pragma once

#include <string>
#include <string_view>

namespace qf {

/// True when the bytes readable through fd (from its start) are exactly those
/// of the regular file at path (links followed). False when they differ, when
/// path names no regular file, or when either cannot be read.
bool hasSameContents(int fd, const std::string& path);
/// The same for the file called name in the directory open as directoryFd.
bool hasSameContents(int fd, int directoryFd, const std::string& name);
/// True when bytes are exactly those of the regular file called name in the
/// directory open as directoryFd; false as above.
bool hasSameContents(std::string_view bytes, int directoryFd, const std::string& name);

}  // namespace qf
