#pragma once

#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size of an SVG from the width and height attributes of its root svg
/// element (in the SVG namespace or none), parsed as XML up to the end of
/// that element's start tag only. Lengths without a unit or in px count as
/// they are; in, cm, mm, pt and pc are converted at 96 pixels per inch. A
/// length that is missing, relative (%, em, ex) or not above 0 is taken from
/// the viewBox: its width and height, or, with the other length given, in
/// the viewBox's ratio. Each result is rounded to the nearest integer.
/// Empty when the bytes are not XML up to there, the root is not svg, a
/// length is missing with no usable viewBox, or a result is not in 1..2^31-1.
std::optional<PictureSize> readSvgSize(std::string_view bytes);

}  // namespace qf
