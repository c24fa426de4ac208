#include "engine/file_info.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "base/file_stream.h"
#include "base/path.h"
#include "engine/picture_size.h"

namespace qf {
namespace {

constexpr std::uint64_t kBytesPerKilobyte = 1024;
constexpr std::uint64_t kBytesPerMegabyte = 1024 * 1024;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct Extensions {
  PictureFormat format;
  std::initializer_list<std::string_view> names;
};

const Extensions kPictureExtensions[] = {
    {PictureFormat::kGif, {"gif"}},
    {PictureFormat::kJpeg, {"jpg", "jpeg", "jfif"}},
    {PictureFormat::kPng, {"png", "apng"}},
    {PictureFormat::kWebp, {"webp"}},
    {PictureFormat::kHeif, {"avif", "heic", "heif"}},
    {PictureFormat::kSvg, {"svg"}},
    {PictureFormat::kBmp, {"bmp"}},
    {PictureFormat::kIco, {"ico", "cur"}},
};

std::optional<PictureFormat> pictureFormatOf(std::string_view path) {
  const std::string extension = extensionOf(path);
  for (const Extensions& entry : kPictureExtensions) {
    for (std::string_view name : entry.names) {
      if (equalsIgnoreCase(extension, name)) return entry.format;
    }
  }
  return std::nullopt;
}

struct FileFacts {
  std::string name, title, width, height, bytes, kilobytes, megabytes;
};

void describeSize(const FileStatus& status, FileFacts& facts) {
  const auto count = static_cast<std::uint64_t>(status.size);
  facts.bytes = std::to_string(count);
  facts.kilobytes = std::to_string(count / kBytesPerKilobyte);
  facts.megabytes = formatMegabytes(count);
}

void describePicture(ByteSource& source, std::string_view path, FileFacts& facts) {
  const std::optional<PictureFormat> format = pictureFormatOf(path);
  const std::optional<PictureSize> size = format ? measurePicture(source, *format) : std::nullopt;
  if (!size) return;
  facts.width = std::to_string(size->width);
  facts.height = std::to_string(size->height);
}

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

std::string formatMegabytes(std::uint64_t bytes) {
  // Integer arithmetic: the value is an exact binary fraction, so a printf
  // rounding would send ties to even and follow the locale's decimal mark.
  std::uint64_t whole = bytes / kBytesPerMegabyte;
  const std::uint64_t rest = bytes % kBytesPerMegabyte;
  std::uint64_t hundredths = (rest * 100 + kBytesPerMegabyte / 2) / kBytesPerMegabyte;
  whole += hundredths / 100;
  hundredths %= 100;
  return std::to_string(whole) + (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths);
}

void defineFileInfo(DefinitionTable& table, std::string_view foundPath,
                    std::string_view nameAsWritten) {
  FileFacts facts;
  FileSource source(foundPath);
  if (source.isOpen()) {
    facts.name = nameAsWritten;
    facts.title = fileNameOf(withForwardSlashes(nameAsWritten));
    describeSize(source.status(), facts);
    describePicture(source, foundPath, facts);
  }
  table.addDefinition("_FILENAME_", facts.name);
  table.addDefinition("_FILETITLE_", facts.title);
  table.addDefinition("_FILEW_", facts.width);
  table.addDefinition("_FILEH_", facts.height);
  table.addDefinition("_FILEB_", facts.bytes);
  table.addDefinition("_FILEK_", facts.kilobytes);
  table.addDefinition("_FILEM_", facts.megabytes);
}

}  // namespace qf
