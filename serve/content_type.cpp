#include "serve/content_type.h"

#include <cctype>
#include <string>

namespace qf {

namespace {

struct TypeOfExtension {
  std::string_view extension;
  std::string_view type;
};

// Pages carry no charset here: they may declare their own in a meta element.
constexpr TypeOfExtension kTypes[] = {
    {"html", "text/html"},
    {"htm", "text/html"},
    {"css", "text/css"},
    {"js", "text/javascript"},
    {"mjs", "text/javascript"},
    {"json", "application/json"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"avif", "image/avif"},
    {"ico", "image/vnd.microsoft.icon"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"txt", "text/plain; charset=utf-8"},
    {"xml", "application/xml"},
    {"pdf", "application/pdf"},
};

}  // namespace

std::string_view contentTypeFor(std::string_view fileName) {
  const std::size_t slash = fileName.rfind('/');
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  std::string extension(fileName.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const TypeOfExtension& known : kTypes) {
    if (known.extension == extension) return known.type;
  }
  return "application/octet-stream";
}

bool isHtmlType(std::string_view contentType) { return contentType == "text/html"; }

}  // namespace qf
