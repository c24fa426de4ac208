#pragma once

#include <string_view>

namespace qf {

/// True when name matches pattern: '*' stands for any run of characters (a
/// leading dot included), '?' for any one character, everything else for
/// itself, compared byte for byte.
bool matchesNamePattern(std::string_view pattern, std::string_view name);

}  // namespace qf
