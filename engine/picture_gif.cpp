#include "engine/picture_gif.h"

#include "engine/picture_bytes.h"

namespace qf {

std::optional<PictureSize> readGifSize(std::string_view bytes) {
  constexpr std::size_t kWidthAt = 6, kHeightAt = 8, kHeaderSize = 10;
  if (bytes.size() < kHeaderSize) return std::nullopt;
  return PictureSize{littleEndian(bytes, kWidthAt, 2), littleEndian(bytes, kHeightAt, 2)};
}

}  // namespace qf
