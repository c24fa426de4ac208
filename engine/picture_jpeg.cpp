#include "engine/picture_jpeg.h"

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::uint32_t kFill = 0xFF;
// Marker code, segment length, sample precision, height and width.
constexpr std::size_t kFrameHeaderSize = 8;
constexpr std::size_t kMarkerHeaderSize = 3;

// Only these start-of-frame headers carry a size this reader trusts; C4, C8
// and CC share the range but are other segments, and C9-CF are arithmetic.
bool isFrameHeader(std::uint32_t code) { return code >= 0xC0 && code <= 0xC7 && code != 0xC4; }

JpegScan resumeAt(std::uint64_t offset) { return JpegScan{std::nullopt, false, offset}; }

JpegScan broken() { return JpegScan{std::nullopt, true, 0}; }

}  // namespace

JpegScan scanJpeg(std::string_view window, std::uint64_t offset) {
  std::size_t pos = 0;
  if (offset == 0) {
    if (window.size() < 2) return resumeAt(0);
    if (byteAt(window, 0) != 0xFF || byteAt(window, 1) != 0xD8) return broken();
    pos = 2;
  }
  // Any number of fill bytes may precede a marker's code, none included.
  // Every segment moves on by at least three bytes, so the walk ends.
  for (;;) {
    while (pos < window.size() && byteAt(window, pos) == kFill) ++pos;
    const std::size_t code = pos;
    const std::size_t left = window.size() - code;
    if (left < kMarkerHeaderSize) return resumeAt(offset + code);
    const std::uint32_t length = bigEndian(window, code + 1, 2);
    if (isFrameHeader(byteAt(window, code))) {
      if (left < kFrameHeaderSize) return resumeAt(offset + code);
      return JpegScan{PictureSize{bigEndian(window, code + 6, 2), bigEndian(window, code + 4, 2)},
                      false, 0};
    }
    if (length < 2) return broken();
    const std::uint64_t next = std::uint64_t{code} + 1 + length;
    if (next > window.size()) return resumeAt(offset + next);
    pos = static_cast<std::size_t>(next);
  }
}

std::optional<PictureSize> readJpegSize(std::string_view bytes) { return scanJpeg(bytes, 0).size; }

}  // namespace qf
