#include "engine/picture_webp.h"

#include <string>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

struct Sizes {
  std::uint64_t riff = 0, chunk = 0;  // 0: the right ones
};

Bytes webp(const Bytes& type, const Bytes& data, Sizes sizes = {}) {
  const std::uint64_t chunk = sizes.chunk ? sizes.chunk : data.size();
  const std::uint64_t riff = sizes.riff ? sizes.riff : 4 + 8 + data.size();
  return "RIFF" + littleEndianBytes(riff, 4) + "WEBP" + type + littleEndianBytes(chunk, 4) + data;
}

// Frame tag, start code, then the 16-bit width and height (scale in the top
// two bits) of a lossy key frame.
Bytes lossy(std::uint64_t width, std::uint64_t height, Sizes sizes = {}) {
  return webp("VP8 ",
              Bytes("\x30\x01\x00\x9D\x01\x2A", 6) + littleEndianBytes(width, 2) +
                  littleEndianBytes(height, 2) + "data",
              sizes);
}

Bytes lossless(std::uint64_t width, std::uint64_t height, Sizes sizes = {}) {
  const std::uint64_t packed = (width - 1) | (height - 1) << 14 | std::uint64_t{1} << 28;
  return webp("VP8L", "\x2F" + littleEndianBytes(packed, 4) + "data", sizes);
}

Bytes extended(std::uint64_t width, std::uint64_t height, Sizes sizes = {}) {
  return webp("VP8X",
              Bytes("\x12\x00\x00\x00", 4) + littleEndianBytes(width - 1, 3) +
                  littleEndianBytes(height - 1, 3) + "ANIM",
              sizes);
}

TEST(WebpSize, ReadsEachKindOfFirstChunk) {
  const SizeCase cases[] = {
      {"lossy", lossy(400, 300), PictureSize{400, 300}},
      {"lossy, scale bits dropped", lossy(0xC000 | 400, 0x4000 | 300), PictureSize{400, 300}},
      {"lossy largest", lossy(0x3FFF, 0x3FFF), PictureSize{16383, 16383}},
      {"lossless", lossless(400, 300), PictureSize{400, 300}},
      {"lossless smallest", lossless(1, 1), PictureSize{1, 1}},
      {"lossless largest", lossless(16384, 16384), PictureSize{16384, 16384}},
      {"lossless wide", lossless(16384, 1), PictureSize{16384, 1}},
      {"extended", extended(400, 300), PictureSize{400, 300}},
      {"extended largest", extended(1 << 24, 1 << 24), PictureSize{1 << 24, 1 << 24}},
      {"RIFF size 0xFFFFFFFF holds the chunk", lossy(400, 300, {0xFFFFFFFF, 0}),
       PictureSize{400, 300}},
  };
  expectSizes(cases, readWebpSize);
  expectOnlyCompleteHeaders(lossy(400, 300), 30, readWebpSize, "lossy");
  expectOnlyCompleteHeaders(lossless(400, 300), 25, readWebpSize, "lossless");
  expectOnlyCompleteHeaders(extended(400, 300), 30, readWebpSize, "extended");
}

TEST(WebpSize, GivesNothingForHostileHeaders) {
  Bytes badStartCode = lossy(400, 300);
  badStartCode[23] = '\x9E';
  Bytes badSignature = lossless(400, 300);
  badSignature[20] = '\x2E';
  const SizeCase cases[] = {
      {"lossy start code", badStartCode, std::nullopt},
      {"lossy width 0", lossy(0, 300), std::nullopt},
      {"lossy height 0 after scale bits", lossy(400, 0xC000), std::nullopt},
      {"lossless signature", badSignature, std::nullopt},
      {"chunk size 0", lossy(400, 300).replace(16, 4, 4, '\0'), std::nullopt},
      {"chunk size 0xFFFFFFFF", lossless(400, 300, {0, 0xFFFFFFFF}), std::nullopt},
      {"chunk shorter than its header", extended(400, 300, {0, 9}), std::nullopt},
      {"RIFF size 0", extended(400, 300).replace(4, 4, 4, '\0'), std::nullopt},
      {"chunk past the RIFF size", lossy(400, 300, {20, 0}), std::nullopt},
      {"unknown chunk", webp("VP8Y", Bytes(10, '\x01')), std::nullopt},
      {"chunk type in other case", webp("vp8x", Bytes(10, '\x01')), std::nullopt},
      {"not WEBP", "RIFF\x20\x00\x00\x00WAVEfmt " + Bytes(20, '\x01'), std::nullopt},
      {"not RIFF", "RIFX" + extended(400, 300).substr(4), std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readWebpSize);
}

}  // namespace
}  // namespace qf
