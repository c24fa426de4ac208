#include "engine/picture_size.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/picture_bmp.h"
#include "engine/picture_gif.h"
#include "engine/picture_heif.h"
#include "engine/picture_ico.h"
#include "engine/picture_jpeg.h"
#include "engine/picture_png.h"
#include "engine/picture_svg.h"
#include "engine/picture_webp.h"

namespace qf {
namespace {

// Appends up to count bytes from source to bytes, fewer only at the end of
// the source; false on a read error.
bool readUpTo(ByteSource& source, std::size_t count, std::string& bytes) {
  const std::size_t start = bytes.size();
  bytes.resize(start + count);
  std::size_t got = 0;
  long n = 0;
  while (got < count && (n = source.read(bytes.data() + start + got, count - got)) > 0) {
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(start + got);
  return n >= 0;
}

// Reads and drops count bytes; false when the source ends first or fails.
bool skip(ByteSource& source, std::uint64_t count) {
  char buffer[1 << 14];
  while (count > 0) {
    const long n = source.read(
        buffer, static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof buffer)));
    if (n <= 0) return false;
    count -= static_cast<std::uint64_t>(n);
  }
  return true;
}

// A JPEG's segments before its frame header can be many and long (metadata,
// embedded previews), so they are walked one window at a time: only the
// window is kept, and the walk gives up at kJpegBound.
std::optional<PictureSize> measureJpeg(ByteSource& source) {
  constexpr std::size_t kWindow = kPictureHeaderBound;
  std::string window;
  std::uint64_t offset = 0;  // of the window's first byte
  for (;;) {
    const std::uint64_t end = offset + window.size();
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(kWindow - window.size(), kJpegBound - end));
    if (!readUpTo(source, want, window)) return std::nullopt;
    const JpegScan scan = scanJpeg(window, offset);
    if (scan.size || scan.broken) return scan.size;
    const bool exhausted = window.size() < kWindow;  // the file or the bound ended
    if (exhausted || scan.resumeAt >= kJpegBound) return std::nullopt;
    if (scan.resumeAt < offset + window.size()) {
      window.erase(0, static_cast<std::size_t>(scan.resumeAt - offset));
    } else {
      if (!skip(source, scan.resumeAt - offset - window.size())) return std::nullopt;
      window.clear();
    }
    offset = scan.resumeAt;
  }
}

using Reader = std::optional<PictureSize> (*)(std::string_view);

Reader headerReaderFor(PictureFormat format) {
  switch (format) {
    case PictureFormat::kGif:
      return readGifSize;
    case PictureFormat::kPng:
      return readPngSize;
    case PictureFormat::kWebp:
      return readWebpSize;
    case PictureFormat::kHeif:
      return readHeifSize;
    case PictureFormat::kBmp:
      return readBmpSize;
    case PictureFormat::kIco:
      return readIcoSize;
    case PictureFormat::kSvg:
      return readSvgSize;
    case PictureFormat::kJpeg:
      break;
  }
  return nullptr;
}

}  // namespace

std::optional<PictureSize> measurePicture(ByteSource& source, PictureFormat format) {
  if (format == PictureFormat::kJpeg) return measureJpeg(source);
  std::string bytes;
  const std::size_t bound = format == PictureFormat::kSvg ? kSvgBound : kPictureHeaderBound;
  if (!readUpTo(source, bound, bytes)) return std::nullopt;
  return headerReaderFor(format)(bytes);
}

}  // namespace qf
