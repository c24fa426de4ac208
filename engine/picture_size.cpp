#include "engine/picture_size.h"

#include <cstdint>

namespace qf {
namespace {

constexpr unsigned kGifSizeOffset = 6;

std::optional<unsigned> readByte(std::istream& in) {
  const std::istream::int_type c = in.get();
  if (c == std::istream::traits_type::eof()) return std::nullopt;
  return static_cast<unsigned>(static_cast<unsigned char>(c));
}

std::optional<unsigned> readBigEndian16(std::istream& in) {
  const std::optional<unsigned> high = readByte(in);
  const std::optional<unsigned> low = high ? readByte(in) : std::nullopt;
  if (!low) return std::nullopt;
  return (*high << 8) | *low;
}

std::optional<unsigned> readLittleEndian16(std::istream& in) {
  const std::optional<unsigned> low = readByte(in);
  const std::optional<unsigned> high = low ? readByte(in) : std::nullopt;
  if (!high) return std::nullopt;
  return (*high << 8) | *low;
}

// Reads and discards rather than seeking: a seek past the end of a string
// stream fails silently, and discarding stops exactly at the end.
bool skip(std::istream& in, unsigned count) {
  in.ignore(count);
  return in.gcount() == static_cast<std::streamsize>(count);
}

// Any number of 0xFF fill bytes may precede the code, none included.
std::optional<unsigned> readMarkerCode(std::istream& in) {
  std::optional<unsigned> c = readByte(in);
  while (c && *c == 0xFF) c = readByte(in);
  return c;
}

// Only these start-of-frame headers carry a size this reader trusts; C4, C8
// and CC share the range but are other segments, and C9-CF are arithmetic.
bool isFrameHeader(unsigned code) { return code >= 0xC0 && code <= 0xC7 && code != 0xC4; }

std::optional<PictureSize> readFrameHeader(std::istream& in) {
  if (!readByte(in)) return std::nullopt;  // sample precision, unused
  const std::optional<unsigned> height = readBigEndian16(in);
  const std::optional<unsigned> width = height ? readBigEndian16(in) : std::nullopt;
  if (!width) return std::nullopt;
  return PictureSize{*width, *height};
}

}  // namespace

std::optional<PictureSize> readGifSize(std::istream& in) {
  if (!skip(in, kGifSizeOffset)) return std::nullopt;
  const std::optional<unsigned> width = readLittleEndian16(in);
  const std::optional<unsigned> height = width ? readLittleEndian16(in) : std::nullopt;
  if (!height) return std::nullopt;
  return PictureSize{*width, *height};
}

std::optional<PictureSize> readJpegSize(std::istream& in) {
  if (readByte(in) != 0xFFu || readByte(in) != 0xD8u) return std::nullopt;
  // Every pass consumes at least three bytes, so the scan ends on any input.
  for (;;) {
    const std::optional<unsigned> code = readMarkerCode(in);
    const std::optional<unsigned> length = code ? readBigEndian16(in) : std::nullopt;
    if (!length) return std::nullopt;
    if (isFrameHeader(*code)) return readFrameHeader(in);
    if (*length < 2 || !skip(in, *length - 2)) return std::nullopt;
  }
}

}  // namespace qf
