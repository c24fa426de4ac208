#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size in a PNG's (or APNG's) IHDR chunk: the 8-byte signature, then a
/// chunk of length 13 and type IHDR whose data holds width and height as
/// big-endian 32-bit numbers at bytes 16 and 20. Empty unless the signature,
/// the length and the type are right, the chunk's data is complete, and both
/// numbers lie in 1..2^31-1 as PNG requires.
std::optional<PictureSize> readPngSize(std::string_view bytes);

}  // namespace qf
