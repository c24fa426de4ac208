#pragma once

#include <string>
#include <string_view>

namespace qf {

/// True when name matches pattern: '*' stands for any run of characters (a
/// leading dot included), '?' for any one character, everything else for
/// itself, compared byte for byte.
bool matchesNamePattern(std::string_view pattern, std::string_view name);

/// An --exclude pattern as it is matched: its '/'-separated parts without
/// empty and "." ones, so "drafts/", "./drafts" and "/drafts" all become
/// "drafts" (a pattern is matched from the top of the tree either way).
/// Empty when no part is left.
std::string normalExcludePattern(std::string_view pattern);

/// True when a path below directory ("" or ending in '/') matches pattern (a
/// normal one, see normalExcludePattern) as matchesExcludePattern takes it.
/// Looks only into directories whose names match the pattern's parts, and
/// sees hidden names too.
bool excludePatternMatchesAny(const std::string& directory, std::string_view pattern);

}  // namespace qf
