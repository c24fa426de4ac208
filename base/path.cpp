#include "base/path.h"

#include <algorithm>
#include <vector>

namespace qf {

namespace {

// Position of the last separator in path, or npos.
std::size_t lastSeparator(std::string_view path) { return path.rfind('/'); }

// Position of the last dot after the last separator, or npos.
std::size_t extensionDot(std::string_view path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (path[i] == '.') return i;
    if (path[i] == '/') break;
  }
  return std::string_view::npos;
}

}  // namespace

std::string extensionOf(std::string_view path) {
  const std::size_t dot = extensionDot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1));
}

std::string withoutExtension(std::string_view path) {
  const std::size_t dot = extensionDot(path);
  return dot == std::string_view::npos ? std::string(path) : std::string(path.substr(0, dot));
}

std::string fileNameOf(std::string_view path) {
  const std::size_t sep = lastSeparator(path);
  return sep == std::string_view::npos ? std::string(path) : std::string(path.substr(sep + 1));
}

void cutToDirectory(std::string& path) {
  const std::size_t sep = lastSeparator(path);
  path.resize(sep == std::string::npos ? 0 : sep + 1);
}

std::string directoryOf(std::string_view path) {
  std::string directory(path);
  cutToDirectory(directory);
  return directory;
}

std::string withForwardSlashes(std::string_view nameInSource) {
  std::string path(nameInSource);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string lexicallyNormal(std::string_view path) {
  if (path.empty()) return "";
  const bool absolute = path.front() == '/';
  bool endsInDirectory = path.back() == '/';
  std::vector<std::string_view> names;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view name = path.substr(at, end - at);
    const bool last = path.find_first_not_of('/', end) == std::string_view::npos;
    at = end + 1;
    if (name.empty()) continue;
    if (name == "." || (name == ".." && !names.empty() && names.back() != "..")) {
      if (name == "..") names.pop_back();
      if (last) endsInDirectory = true;
    } else if (name == ".." && absolute && names.empty()) {
      if (last) endsInDirectory = true;
    } else {
      names.push_back(name);
    }
  }
  if (!names.empty() && names.back() == "..") endsInDirectory = false;
  std::string normal = absolute ? "/" : "";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) normal += '/';
    normal += names[i];
  }
  if (endsInDirectory && !names.empty()) normal += '/';
  return normal.empty() ? "." : normal;
}

std::string parentOf(std::string_view path) {
  const std::string parent = withoutTrailingSlashes(directoryOf(lexicallyNormal(path)));
  return parent.empty() ? "." : parent;
}

bool holdsNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

std::string withTrailingSlash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

std::string withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string joinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && !name.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

bool isInsideDirectory(std::string_view path, std::string_view directory) {
  if (directory.empty()) return false;
  const std::string root = withoutTrailingSlashes(directory);
  if (!path.starts_with(root)) return false;
  return path.size() == root.size() || root == "/" || path[root.size()] == '/';
}

std::string normalPath(std::string_view path) {
  return withoutTrailingSlashes(lexicallyNormal(path));
}

}  // namespace qf
