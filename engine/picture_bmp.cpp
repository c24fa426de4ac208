#include "engine/picture_bmp.h"

#include <cstdint>

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::size_t kInfoAt = 14, kWidthAt = 18;
constexpr std::uint32_t kCoreHeader = 12;
// The lengths the later headers have had: OS/2 2.x short and full, Windows 3
// and its extensions up to version 5.
constexpr std::uint32_t kLongHeaders[] = {16, 40, 52, 56, 64, 108, 124};

bool isLongHeader(std::uint32_t length) {
  for (std::uint32_t known : kLongHeaders) {
    if (length == known) return true;
  }
  return false;
}

std::optional<PictureSize> coreSize(std::string_view bytes) {
  const PictureSize size{littleEndian(bytes, kWidthAt, 2), littleEndian(bytes, kWidthAt + 2, 2)};
  if (size.width == 0 || size.height == 0) return std::nullopt;
  return size;
}

std::optional<PictureSize> longSize(std::string_view bytes) {
  const auto width = static_cast<std::int32_t>(littleEndian(bytes, kWidthAt, 4));
  const auto height = static_cast<std::int32_t>(littleEndian(bytes, kWidthAt + 4, 4));
  // The most negative height has no positive counterpart.
  if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
  return PictureSize{static_cast<unsigned>(width),
                     static_cast<unsigned>(height < 0 ? -height : height)};
}

}  // namespace

std::optional<PictureSize> readBmpSize(std::string_view bytes) {
  if (bytes.size() < kInfoAt + 4 || !hasAt(bytes, 0, "BM")) return std::nullopt;
  const std::uint32_t length = littleEndian(bytes, kInfoAt, 4);
  if (length != kCoreHeader && !isLongHeader(length)) return std::nullopt;
  if (bytes.size() < kInfoAt + length) return std::nullopt;
  return length == kCoreHeader ? coreSize(bytes) : longSize(bytes);
}

}  // namespace qf
