#include "engine/picture_png.h"

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1A\n", 8);
constexpr std::uint32_t kIhdrLength = 13;
constexpr std::size_t kLengthAt = 8, kTypeAt = 12, kWidthAt = 16, kHeightAt = 20;
constexpr std::size_t kIhdrEnd = kWidthAt + kIhdrLength;
constexpr std::uint32_t kLargest = 0x7FFFFFFF;

bool isPngDimension(std::uint32_t value) { return value >= 1 && value <= kLargest; }

}  // namespace

std::optional<PictureSize> readPngSize(std::string_view bytes) {
  if (bytes.size() < kIhdrEnd || !hasAt(bytes, 0, kSignature)) return std::nullopt;
  if (bigEndian(bytes, kLengthAt, 4) != kIhdrLength || !hasAt(bytes, kTypeAt, "IHDR")) {
    return std::nullopt;
  }
  const std::uint32_t width = bigEndian(bytes, kWidthAt, 4);
  const std::uint32_t height = bigEndian(bytes, kHeightAt, 4);
  if (!isPngDimension(width) || !isPngDimension(height)) return std::nullopt;
  return PictureSize{width, height};
}

}  // namespace qf
