#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size of the largest picture (by area, the first of equals) in the
/// directory of an icon or cursor file: reserved 0, type 1 (icon) or 2
/// (cursor), a 16-bit count, then 16-byte entries whose first two bytes are
/// width and height, 0 meaning 256. Empty for another type, no entries, or a
/// directory cut short.
std::optional<PictureSize> readIcoSize(std::string_view bytes);

}  // namespace qf
