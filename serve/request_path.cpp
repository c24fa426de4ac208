#include "serve/request_path.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "base/text.h"

namespace qf {

namespace {

bool isPlainPathByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte != 0x7f && c != '\\';
}

bool isInside(const std::string& path, const std::string& root) {
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          (root.back() == '/' || path[root.size()] == '/'));
}

}  // namespace

std::optional<std::string> requestPathBelowRoot(std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  if (target.empty() || target.front() != '/') return std::nullopt;
  const std::optional<std::string> decoded = percentDecoded(target);
  if (!decoded) return std::nullopt;
  std::string relative;
  std::size_t start = 0;
  // Names are split after decoding, so an escaped '/' separates names too.
  while (start <= decoded->size()) {
    std::size_t end = decoded->find('/', start);
    if (end == std::string::npos) end = decoded->size();
    const std::string_view name = std::string_view(*decoded).substr(start, end - start);
    if (name == "..") return std::nullopt;
    for (char c : name) {
      if (!isPlainPathByte(c)) return std::nullopt;
    }
    if (!name.empty() && name != ".") {
      if (!relative.empty()) relative += '/';
      relative += name;
    }
    start = end + 1;
  }
  if (!relative.empty() && decoded->back() == '/') relative += '/';
  return relative;
}

std::optional<std::string> realPathOf(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

Resolution resolveBelowRoot(const std::string& root, const std::string& relative) {
  const std::optional<std::string> real = realPathOf(root + "/" + relative);
  if (!real) return {};
  if (!isInside(*real, root)) return {Resolution::Kind::kOutside, ""};
  struct stat status {};
  if (stat(real->c_str(), &status) != 0) return {};
  if (S_ISREG(status.st_mode)) return {Resolution::Kind::kFile, *real};
  if (!S_ISDIR(status.st_mode)) return {};
  if (!relative.empty() && relative.back() != '/') {
    return {Resolution::Kind::kDirectoryWithoutSlash, ""};
  }
  const std::optional<std::string> index = realPathOf(*real + "/index.html");
  if (!index) return {};
  if (!isInside(*index, root)) return {Resolution::Kind::kOutside, ""};
  if (stat(index->c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  return {Resolution::Kind::kFile, *index};
}

}  // namespace qf
