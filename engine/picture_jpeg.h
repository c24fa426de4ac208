#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

/// The size in the first frame header (markers C0-C3, C5-C7) of a JPEG held
/// whole in bytes. Empty when it does not start with FF D8, a segment length
/// is below 2, or the bytes end first. Allocates nothing.
std::optional<PictureSize> readJpegSize(std::string_view bytes);

/// Where a walk over a JPEG's segments stands after one window of its bytes.
struct JpegScan {
  std::optional<PictureSize> size;  ///< the frame header was in the window
  bool broken = false;              ///< not a JPEG, or a segment length below 2
  std::uint64_t resumeAt = 0;       ///< otherwise the file offset to go on from
};

/// Walks the segments in window, which holds the file's bytes from offset on;
/// offset is 0 or the resumeAt of the scan of the window before. Going on at
/// resumeAt gives what readJpegSize gives for the whole file.
JpegScan scanJpeg(std::string_view window, std::uint64_t offset);

}  // namespace qf
