#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The logical screen size of a GIF: bytes 6-7 and 8-9, little-endian. The
/// signature is not checked. Empty when bytes holds fewer than 10 bytes.
std::optional<PictureSize> readGifSize(std::string_view bytes);

}  // namespace qf
