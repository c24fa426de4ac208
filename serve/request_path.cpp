#include "serve/request_path.h"

#include <sys/stat.h>

#include "base/file_system.h"
#include "base/site_path.h"
#include "base/text.h"

namespace qf {

namespace {

bool isPlainPathByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte != 0x7f && c != '\\';
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

namespace {

Resolution resolveAsNamed(const std::string& root, const std::string& relative);

// "about" stands for "about.html" when there is no "about" at all.
Resolution pageWithoutExtension(const std::string& root, const std::string& relative) {
  if (relative.empty() || relative.back() == '/') return {};
  Resolution page = resolveAsNamed(root, relative + ".html");
  if (page.kind != Resolution::Kind::kFile) return {};
  page.addedHtmlExtension = true;
  return page;
}

Resolution resolveAsNamed(const std::string& root, const std::string& relative) {
  if (!belongsToSite(relative)) return {};
  const ResolvedBelow real = resolveBelow(root + "/" + relative, root);
  if (real.kind == ResolvedBelow::Kind::kOutside) return {Resolution::Kind::kOutside, ""};
  if (real.kind == ResolvedBelow::Kind::kMissing) return {};
  struct stat status {};
  if (stat(real.path.c_str(), &status) != 0) return {};
  if (S_ISREG(status.st_mode)) return {Resolution::Kind::kFile, real.path};
  if (!S_ISDIR(status.st_mode)) return {};
  if (!relative.empty() && relative.back() != '/') {
    return {Resolution::Kind::kDirectoryWithoutSlash, ""};
  }
  const ResolvedBelow index = resolveBelow(real.path + "/index.html", root);
  if (index.kind == ResolvedBelow::Kind::kOutside) return {Resolution::Kind::kOutside, ""};
  if (index.kind == ResolvedBelow::Kind::kMissing) return {};
  if (stat(index.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  return {Resolution::Kind::kFile, index.path};
}

}  // namespace

Resolution resolveBelowRoot(const std::string& root, const std::string& relative) {
  const Resolution named = resolveAsNamed(root, relative);
  if (named.kind != Resolution::Kind::kNotFound) return named;
  return pageWithoutExtension(root, relative);
}

}  // namespace qf
