#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size of an AVIF or HEIF picture: the boxes start with "ftyp", and the
/// top-level "meta" box names the primary item ("pitm"), whose properties
/// ("ipma" indices into "ipco") give its extent ("ispe"); a rotation
/// ("irot") of 90 or 270 degrees swaps width and height. Empty when a box
/// on the way is cut short, smaller than its header or past its container's
/// end, an association points at no property, or the primary item has no
/// extent of at least 1 by 1.
std::optional<PictureSize> readHeifSize(std::string_view bytes);

}  // namespace qf
