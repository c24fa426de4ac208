#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size of a BMP: "BM", then an information header whose length is the
/// 32-bit number at byte 14. The old 12-byte header holds 16-bit width and
/// height at bytes 18 and 20; the later ones (16 to 124 bytes) signed 32-bit
/// numbers at bytes 18 and 22, where a negative height means the rows run top
/// down and its absolute value counts. Empty for another header length, a
/// header cut short, or a width or height that is not positive.
std::optional<PictureSize> readBmpSize(std::string_view bytes);

}  // namespace qf
