#include "batch/state_path.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "base/path.h"

namespace qf {

namespace {

std::uint64_t pathHash(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

}  // namespace

std::string defaultStatePath(const std::string& sourceDirectory, const std::string& cacheHome,
                             const std::string& home) {
  std::string base;
  if (!cacheHome.empty() && cacheHome[0] == '/') {
    base = withTrailingSlash(cacheHome);
  } else if (!home.empty()) {
    base = withTrailingSlash(home) + ".cache/";
  } else {
    return {};
  }
  std::string directory = sourceDirectory;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  std::string name = fileNameOf(directory);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(pathHash(directory)));
  return base + "quillforge/" + (name.empty() ? "root" : name) + "-" + hash + ".sqlite";
}

}  // namespace qf
