// Reads GIF and JPEG sizes from arbitrary bytes; the GIF size must be the
// little-endian words at offsets 6 and 8 whenever ten bytes are there.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "engine/picture_size.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream gif(bytes);
  const std::optional<qf::PictureSize> gifSize = qf::readGifSize(gif);
  if (gifSize.has_value() != (size >= 10)) std::abort();
  if (gifSize && (gifSize->width != (data[6] | data[7] << 8u) ||
                  gifSize->height != (data[8] | data[9] << 8u))) {
    std::abort();
  }
  std::istringstream jpeg(bytes);
  const std::optional<qf::PictureSize> jpegSize = qf::readJpegSize(jpeg);
  if (jpegSize && (size < 2 || data[0] != 0xFF || data[1] != 0xD8)) std::abort();
  return 0;
}
