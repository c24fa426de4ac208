// Reads picture sizes from arbitrary bytes with every reader. Besides not
// crashing or reading outside the bytes (each reader sees an exactly sized
// heap copy), a size may come only from a complete header: whatever a prefix
// of the bytes gives, the whole bytes give too; the GIF size is the
// little-endian words at offsets 6 and 8 whenever ten bytes are there; a
// JPEG read in windows gives what it gives read whole. Measuring a file that
// goes on without end reads no more than the format's bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/picture_bmp.h"
#include "engine/picture_gif.h"
#include "engine/picture_heif.h"
#include "engine/picture_ico.h"
#include "engine/picture_jpeg.h"
#include "engine/picture_png.h"
#include "engine/picture_size.h"
#include "engine/picture_svg.h"
#include "engine/picture_webp.h"

namespace {

using Size = std::optional<qf::PictureSize>;
using Reader = Size (*)(std::string_view);

struct Reading {
  qf::PictureFormat format;
  Reader read;
  std::uint64_t bound;  // of what measurePicture reads
};

constexpr Reading kReadings[] = {
    {qf::PictureFormat::kGif, qf::readGifSize, qf::kPictureHeaderBound},
    {qf::PictureFormat::kJpeg, qf::readJpegSize, qf::kJpegBound},
    {qf::PictureFormat::kPng, qf::readPngSize, qf::kPictureHeaderBound},
    {qf::PictureFormat::kWebp, qf::readWebpSize, qf::kPictureHeaderBound},
    {qf::PictureFormat::kHeif, qf::readHeifSize, qf::kPictureHeaderBound},
    {qf::PictureFormat::kSvg, qf::readSvgSize, qf::kSvgBound},
    {qf::PictureFormat::kBmp, qf::readBmpSize, qf::kPictureHeaderBound},
    {qf::PictureFormat::kIco, qf::readIcoSize, qf::kPictureHeaderBound},
};

// Reads a copy that ends where the allocation ends, so a read past the end is
// caught even for a prefix.
Size readExact(Reader read, const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<char[]> copy(new char[size]);
  std::copy(data, data + size, copy.get());
  return read(std::string_view(copy.get(), size));
}

unsigned littleEndian16(const std::uint8_t* at) { return at[0] | unsigned{at[1]} << 8; }

void checkGif(const std::uint8_t* data, std::size_t size) {
  const Size gif = readExact(qf::readGifSize, data, size);
  if (gif.has_value() != (size >= 10)) std::abort();
  if (gif && (gif->width != littleEndian16(data + 6) || gif->height != littleEndian16(data + 8))) {
    std::abort();
  }
}

// The scan a file reader makes, with windows as small as eight bytes.
Size jpegInWindows(std::string_view bytes, std::size_t window) {
  std::uint64_t offset = 0;
  for (;;) {
    const std::string_view part = bytes.substr(offset, window);
    const qf::JpegScan scan = qf::scanJpeg(part, offset);
    if (scan.size || scan.broken || offset + part.size() == bytes.size()) return scan.size;
    if (scan.resumeAt <= offset) std::abort();  // no progress
    offset = scan.resumeAt;
    if (offset > bytes.size()) return std::nullopt;
  }
}

// The bytes, then zeros without end (or not, when endless is false).
class PaddedSource : public qf::ByteSource {
 public:
  PaddedSource(std::string_view bytes, bool endless) : bytes_(bytes), endless_(endless) {}
  long read(char* buffer, std::size_t size) override {
    const std::size_t fromBytes = given_ < bytes_.size() ? bytes_.copy(buffer, size, given_) : 0;
    const std::size_t n = endless_ ? size : fromBytes;
    std::fill(buffer + fromBytes, buffer + n, '\0');
    given_ += n;
    return static_cast<long>(n);
  }
  std::uint64_t given() const { return given_; }

 private:
  std::string_view bytes_;
  bool endless_;
  std::uint64_t given_ = 0;
};

// One format per input keeps the runs fast: each reads up to its bound.
void checkBound(std::string_view bytes, std::size_t pick) {
  const Reading& reading = kReadings[pick % std::size(kReadings)];
  PaddedSource endless(bytes, true);
  const Size measured = qf::measurePicture(endless, reading.format);
  if (endless.given() > reading.bound) std::abort();
  // What is measured is what the reader gives for the bytes it was given.
  if (reading.format == qf::PictureFormat::kJpeg) {
    PaddedSource exact(bytes, false);
    if (qf::measurePicture(exact, reading.format) != qf::readJpegSize(bytes)) std::abort();
    return;
  }
  std::string padded(bytes);
  padded.resize(static_cast<std::size_t>(endless.given()), '\0');
  if (measured != reading.read(padded)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The last byte picks where to cut, so every prefix length gets its turn.
  const std::size_t cut = size == 0 ? 0 : (data[size - 1] * 251u + size) % (size + 1);
  for (const Reading& reading : kReadings) {
    const Size whole = readExact(reading.read, data, size);
    const Size prefix = readExact(reading.read, data, cut);
    if (prefix && prefix != whole) std::abort();
  }
  checkGif(data, size);
  const Size jpeg = qf::readJpegSize(bytes);
  if (jpeg && (size < 2 || data[0] != 0xFF || data[1] != 0xD8)) std::abort();
  if (jpegInWindows(bytes, 8 + cut % 64) != jpeg) std::abort();
  checkBound(bytes, cut);
  return 0;
}
