#include "engine/file_info.h"

#include <fstream>
#include <optional>
#include <string>

#include "base/path.h"
#include "engine/picture_size.h"

namespace qf {
namespace {

constexpr std::uint64_t kBytesPerKilobyte = 1024;
constexpr std::uint64_t kBytesPerMegabyte = 1024 * 1024;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

enum class PictureType { kNone, kGif, kJpeg };

PictureType pictureTypeOf(std::string_view path) {
  const Text extension = extensionOf(path);
  if (equalsIgnoreCase(extension, "gif")) return PictureType::kGif;
  for (std::string_view jpeg : {"jpg", "jpeg", "jfif"}) {
    if (equalsIgnoreCase(extension, jpeg)) return PictureType::kJpeg;
  }
  return PictureType::kNone;
}

struct FileFacts {
  Text name, title, width, height, bytes, kilobytes, megabytes;
};

void describeSize(std::istream& in, FileFacts& facts) {
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return;  // not seekable: no size to tell
  const auto count = static_cast<std::uint64_t>(size);
  facts.bytes = std::to_string(count);
  facts.kilobytes = std::to_string(count / kBytesPerKilobyte);
  facts.megabytes = formatMegabytes(count);
}

void describePicture(std::istream& in, PictureType type, FileFacts& facts) {
  if (type == PictureType::kNone) return;
  in.clear();
  in.seekg(0);
  const std::optional<PictureSize> size =
      type == PictureType::kGif ? readGifSize(in) : readJpegSize(in);
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

Text formatMegabytes(std::uint64_t bytes) {
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
  // A NUL would cut the path the system sees, opening some other file.
  std::ifstream in;
  if (foundPath.find('\0') == std::string_view::npos) {
    in.open(std::string(foundPath), std::ios::binary);
  }
  if (in.is_open()) {
    facts.name = nameAsWritten;
    facts.title = fileNameOf(withForwardSlashes(nameAsWritten));
    describeSize(in, facts);
    describePicture(in, pictureTypeOf(foundPath), facts);
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
