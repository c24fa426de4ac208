#pragma once

#include <string>

namespace qf {

/// True when the bytes readable through fd (from its start) are exactly those
/// of the regular file at path (links followed). False when they differ, when
/// path names no regular file, or when either cannot be read.
bool hasSameContents(int fd, const std::string& path);

}  // namespace qf
