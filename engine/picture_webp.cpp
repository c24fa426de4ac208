#include "engine/picture_webp.h"

#include <cstdint>

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::size_t kRiffSizeAt = 4, kChunkTypeAt = 12, kChunkSizeAt = 16, kChunkDataAt = 20;
constexpr std::uint32_t k14Bits = 0x3FFF;

// The chunk's data must hold the need bytes read from it, and the chunk must
// lie inside the RIFF form (whose size counts from byte 8).
bool chunkHolds(std::string_view bytes, std::size_t need) {
  if (bytes.size() < kChunkDataAt + need) return false;
  const std::uint64_t riffSize = littleEndian(bytes, kRiffSizeAt, 4);
  const std::uint64_t chunkSize = littleEndian(bytes, kChunkSizeAt, 4);
  return chunkSize >= need && kChunkDataAt - 8 + chunkSize <= riffSize;
}

std::optional<PictureSize> lossySize(std::string_view bytes) {
  constexpr std::size_t kHeader = 10;  // frame tag, start code, width, height
  if (!chunkHolds(bytes, kHeader) || !hasAt(bytes, 23, "\x9D\x01\x2A")) return std::nullopt;
  const PictureSize size{littleEndian(bytes, 26, 2) & k14Bits,
                         littleEndian(bytes, 28, 2) & k14Bits};
  if (size.width == 0 || size.height == 0) return std::nullopt;
  return size;
}

std::optional<PictureSize> losslessSize(std::string_view bytes) {
  constexpr std::size_t kHeader = 5;  // signature, then 14 + 14 bits of size
  if (!chunkHolds(bytes, kHeader) || byteAt(bytes, kChunkDataAt) != 0x2F) return std::nullopt;
  const std::uint32_t packed = littleEndian(bytes, 21, 4);
  return PictureSize{(packed & k14Bits) + 1, ((packed >> 14) & k14Bits) + 1};
}

std::optional<PictureSize> extendedSize(std::string_view bytes) {
  constexpr std::size_t kHeader = 10;  // flags, reserved, canvas width and height
  if (!chunkHolds(bytes, kHeader)) return std::nullopt;
  return PictureSize{littleEndian(bytes, 24, 3) + 1, littleEndian(bytes, 27, 3) + 1};
}

}  // namespace

std::optional<PictureSize> readWebpSize(std::string_view bytes) {
  if (!hasAt(bytes, 0, "RIFF") || !hasAt(bytes, 8, "WEBP")) return std::nullopt;
  if (hasAt(bytes, kChunkTypeAt, "VP8 ")) return lossySize(bytes);
  if (hasAt(bytes, kChunkTypeAt, "VP8L")) return losslessSize(bytes);
  if (hasAt(bytes, kChunkTypeAt, "VP8X")) return extendedSize(bytes);
  return std::nullopt;
}

}  // namespace qf
