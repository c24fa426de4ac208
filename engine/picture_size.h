#pragma once

#include <cstddef>
#include <optional>

#include "base/byte_stream.h"

namespace qf {

/// A picture's dimensions in pixels.
struct PictureSize {
  unsigned width = 0;
  unsigned height = 0;

  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

/// The picture formats whose size can be measured.
enum class PictureFormat { kGif, kJpeg, kPng, kWebp, kHeif, kSvg, kBmp, kIco };

/// The most bytes measurePicture reads: every format but SVG and JPEG has its
/// header within the first kPictureHeaderBound bytes; an SVG's root element
/// must end within kSvgBound; a JPEG's frame header must end within
/// kJpegBound, the segments before it being skipped window by window, never
/// held whole.
inline constexpr std::size_t kPictureHeaderBound = std::size_t{64} << 10;
inline constexpr std::size_t kSvgBound = std::size_t{256} << 10;
inline constexpr std::size_t kJpegBound = std::size_t{16} << 20;

/// The size of a picture of the given format whose first byte is source's
/// next byte. Empty when the header is broken, incomplete within the bound,
/// or a read fails. Reads nothing past the format's bound.
std::optional<PictureSize> measurePicture(ByteSource& source, PictureFormat format);

}  // namespace qf
