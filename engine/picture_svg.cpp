#include "engine/picture_svg.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#include <string>

namespace qf {
namespace {

constexpr char kNamespaceSeparator = ' ';  // cannot occur in a namespace name
constexpr std::string_view kSvgNamespace = "http://www.w3.org/2000/svg";
constexpr double kPixelsPerInch = 96;
constexpr double kLargest = INT_MAX;
constexpr std::size_t kLargestChunk = std::size_t{1} << 20;  // XML_Parse takes an int length

struct Unit {
  std::string_view name;
  double pixels;
};

constexpr Unit kAbsoluteUnits[] = {
    {"", 1},
    {"px", 1},
    {"in", kPixelsPerInch},
    {"cm", kPixelsPerInch / 2.54},
    {"mm", kPixelsPerInch / 25.4},
    {"pt", kPixelsPerInch / 72},
    {"pc", kPixelsPerInch / 6},
};

// What the root element's start tag says; the strings are kept because
// expat's attribute array lives only during the callback.
struct RootElement {
  XML_Parser parser = nullptr;
  bool seen = false;
  bool isSvg = false;
  std::string width, height, viewBox;
};

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameUnit(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != b[i]) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Takes a number from the front of text; from_chars ignores the locale.
std::optional<double> takeNumber(std::string_view& text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

// A length in pixels, when it is absolute and above 0.
std::optional<double> absoluteLength(std::string_view text) {
  text = trimmed(text);
  const std::optional<double> number = takeNumber(text);
  if (!number || *number <= 0) return std::nullopt;
  for (const Unit& unit : kAbsoluteUnits) {
    if (sameUnit(text, unit.name)) return *number * unit.pixels;
  }
  return std::nullopt;
}

struct Extent {
  double width = 0, height = 0;
};

// The width and height of a viewBox "min-x min-y width height", the numbers
// apart by spaces and at most one comma; empty unless both are above 0.
std::optional<Extent> viewBoxExtent(std::string_view text) {
  double numbers[4];
  text = trimmed(text);
  for (std::size_t i = 0; i < 4; ++i) {
    if (i > 0) {
      text = trimmed(text);
      if (!text.empty() && text.front() == ',') text = trimmed(text.substr(1));
    }
    const std::optional<double> number = takeNumber(text);
    if (!number) return std::nullopt;
    numbers[i] = *number;
  }
  if (!trimmed(text).empty() || numbers[2] <= 0 || numbers[3] <= 0) return std::nullopt;
  return Extent{numbers[2], numbers[3]};
}

std::optional<Extent> extentOf(const RootElement& root) {
  const std::optional<double> width = absoluteLength(root.width);
  const std::optional<double> height = absoluteLength(root.height);
  if (width && height) return Extent{*width, *height};
  const std::optional<Extent> box = viewBoxExtent(root.viewBox);
  if (!box) return std::nullopt;
  if (width) return Extent{*width, *width * box->height / box->width};
  if (height) return Extent{*height * box->width / box->height, *height};
  return box;
}

std::optional<unsigned> pixels(double length) {
  const double rounded = std::floor(length + 0.5);
  if (!(rounded >= 1 && rounded <= kLargest)) return std::nullopt;
  return static_cast<unsigned>(rounded);
}

bool isSvgName(std::string_view name) {
  if (name == "svg") return true;
  const std::size_t separator = name.rfind(kNamespaceSeparator);
  return separator != std::string_view::npos && name.substr(0, separator) == kSvgNamespace &&
         name.substr(separator + 1) == "svg";
}

void XMLCALL onStartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& root = *static_cast<RootElement*>(data);
  root.seen = true;
  root.isSvg = isSvgName(name);
  for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
    const std::string_view attribute = a[0];
    if (attribute == "width") root.width = a[1];
    if (attribute == "height") root.height = a[1];
    if (attribute == "viewBox") root.viewBox = a[1];
  }
  XML_StopParser(root.parser, XML_FALSE);  // nothing past the root's start tag is needed
}

// Parses up to the end of the root element's start tag; false when the bytes
// are not XML up to there.
bool parseRootElement(std::string_view bytes, RootElement& root) {
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreateNS(nullptr, kNamespaceSeparator), &XML_ParserFree);
  if (!parser) return false;
  root.parser = parser.get();
  XML_SetUserData(parser.get(), &root);
  XML_SetStartElementHandler(parser.get(), onStartElement);
  do {
    const std::string_view chunk = bytes.substr(0, kLargestChunk);
    bytes.remove_prefix(chunk.size());
    const XML_Bool last = bytes.empty() ? XML_TRUE : XML_FALSE;
    if (XML_Parse(parser.get(), chunk.data(), static_cast<int>(chunk.size()), last) !=
        XML_STATUS_OK) {
      break;
    }
  } while (!bytes.empty());
  return root.seen;
}

}  // namespace

std::optional<PictureSize> readSvgSize(std::string_view bytes) {
  RootElement root;
  if (!parseRootElement(bytes, root) || !root.isSvg) return std::nullopt;
  const std::optional<Extent> extent = extentOf(root);
  const std::optional<unsigned> width = extent ? pixels(extent->width) : std::nullopt;
  const std::optional<unsigned> height = extent ? pixels(extent->height) : std::nullopt;
  if (!width || !height) return std::nullopt;
  return PictureSize{*width, *height};
}

}  // namespace qf
