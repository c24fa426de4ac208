#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size of a WebP: "RIFF", size, "WEBP", then the first chunk. A lossy
/// "VP8 " chunk gives the 14-bit width and height at bytes 26 and 28 (after
/// its start code 9D 01 2A); a lossless "VP8L" chunk the 14-bit values minus
/// one packed from byte 21 (after its signature byte 2F); an extended "VP8X"
/// chunk the 24-bit canvas width and height minus one at bytes 24 and 27, so
/// an animation gives its canvas. Empty when a signature is wrong, the chunk
/// is shorter than what is read from it or does not fit in the RIFF size, or
/// the bytes end before the values.
std::optional<PictureSize> readWebpSize(std::string_view bytes);

}  // namespace qf
