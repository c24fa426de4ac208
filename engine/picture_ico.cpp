#include "engine/picture_ico.h"

#include <cstdint>

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::size_t kTypeAt = 2, kCountAt = 4, kEntriesAt = 6, kEntrySize = 16;
constexpr unsigned kIcon = 1, kCursor = 2;

unsigned side(std::uint32_t byte) { return byte == 0 ? 256 : byte; }

}  // namespace

std::optional<PictureSize> readIcoSize(std::string_view bytes) {
  if (bytes.size() < kEntriesAt || littleEndian(bytes, 0, 2) != 0) return std::nullopt;
  const std::uint32_t type = littleEndian(bytes, kTypeAt, 2);
  const std::size_t count = littleEndian(bytes, kCountAt, 2);
  if ((type != kIcon && type != kCursor) || count == 0) return std::nullopt;
  if (bytes.size() < kEntriesAt + count * kEntrySize) return std::nullopt;
  PictureSize largest;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kEntriesAt + i * kEntrySize;
    const PictureSize size{side(byteAt(bytes, entry)), side(byteAt(bytes, entry + 1))};
    if (size.width * size.height > largest.width * largest.height) largest = size;
  }
  return largest;
}

}  // namespace qf
