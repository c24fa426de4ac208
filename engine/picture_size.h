#pragma once

#include <istream>
#include <optional>

namespace qf {

/// A picture's dimensions in pixels.
struct PictureSize {
  unsigned width = 0;
  unsigned height = 0;

  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

/// The logical screen size of a GIF whose first byte is the stream's next
/// byte: bytes 6-7 and 8-9, little-endian. The signature is not checked.
/// Empty when the stream holds fewer than 10 bytes.
std::optional<PictureSize> readGifSize(std::istream& in);

/// The size in the first frame header (markers C0-C3, C5-C7) of a JPEG whose
/// first byte is the stream's next byte. Empty when the stream does not start
/// with FF D8, a segment length is below 2, or the stream ends first. Safe on
/// arbitrary bytes: allocates nothing and ends on any finite input.
std::optional<PictureSize> readJpegSize(std::istream& in);

}  // namespace qf
