#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/dependencies.h"

namespace qf {

/// A page's list of files as the build state stores it: one compact run of
/// bytes per page, each path named by a number the state keeps for it.
/// Each file takes its kind and path number, and for kRead and kIncluded its
/// status, as variable-length integers.

/// The number of a path, or nullopt when it cannot be had.
using PathNumberOf = std::function<std::optional<long long>(const std::string& path)>;
/// The path of a number, or null for a number never given.
using PathOfNumber = std::function<const SharedPath*(long long number)>;

/// The files as bytes; nullopt when a path got no number.
std::optional<std::string> encodeFileList(const std::vector<Dependency>& files,
                                          const PathNumberOf& numberOf);
/// The files the bytes hold, appended to files; false when they are not what
/// encodeFileList makes (files then holds what was read before the fault).
bool decodeFileList(std::string_view bytes, const PathOfNumber& pathOf,
                    std::vector<Dependency>& files);

}  // namespace qf
