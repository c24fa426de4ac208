#include "batch/name_pattern.h"

#include <algorithm>
#include <vector>

#include "base/directory.h"

namespace qf {

bool matchesNamePattern(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  // Where to resume after the last '*': the pattern just past it, and the
  // name position it is currently taken to reach. Only the last star ever
  // needs to grow, which keeps the match free of exponential backtracking.
  std::size_t starPattern = std::string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = ++p;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

namespace {

std::vector<std::string_view> partsOf(std::string_view pattern) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= pattern.size();) {
    const std::size_t slash = std::min(pattern.find('/', start), pattern.size());
    const std::string_view part = pattern.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  return parts;
}

bool anyBelowMatches(const std::string& directory, const std::vector<std::string_view>& parts,
                     std::size_t depth) {
  const auto entries = listDirectory(directory);
  if (!entries) return false;
  for (const DirectoryEntry& entry : *entries) {
    if (!matchesNamePattern(parts[depth], entry.name)) continue;
    if (depth + 1 == parts.size()) return true;
    if (entry.isDirectory && anyBelowMatches(directory + entry.name + "/", parts, depth + 1)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string normalExcludePattern(std::string_view pattern) {
  std::string normal;
  for (const std::string_view part : partsOf(pattern)) {
    if (!normal.empty()) normal += '/';
    normal += part;
  }
  return normal;
}

bool excludePatternMatchesAny(const std::string& directory, std::string_view pattern) {
  const std::vector<std::string_view> parts = partsOf(pattern);
  return !parts.empty() && anyBelowMatches(directory, parts, 0);
}

}  // namespace qf
