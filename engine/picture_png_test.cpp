#include "engine/picture_png.h"

#include <string>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

const Bytes kSignature("\x89PNG\r\n\x1A\n", 8);

// Signature, then an IHDR chunk with the given length field, size and type.
Bytes png(std::uint64_t width, std::uint64_t height, std::uint64_t length = 13,
          const Bytes& type = "IHDR") {
  return kSignature + bigEndianBytes(length, 4) + type + bigEndianBytes(width, 4) +
         bigEndianBytes(height, 4) + Bytes("\x08\x06\x00\x00\x00", 5) + "CRC!";
}

TEST(PngSize, ReadsTheHeaderChunk) {
  const SizeCase cases[] = {
      {"picture", png(640, 480), PictureSize{640, 480}},
      {"smallest", png(1, 1), PictureSize{1, 1}},
      {"largest", png(0x7FFFFFFF, 0x7FFFFFFF), PictureSize{0x7FFFFFFF, 0x7FFFFFFF}},
      {"bytes reversed would be huge", png(0x0100, 0x0200), PictureSize{256, 512}},
      {"more chunks after", png(3, 4) + Bytes("\x00\x00\x00\x00IEND", 8), PictureSize{3, 4}},
  };
  expectSizes(cases, readPngSize);
  // The chunk's 13 data bytes must be there; its CRC is not needed.
  expectOnlyCompleteHeaders(png(640, 480), 8 + 8 + 13, readPngSize, "picture");
}

TEST(PngSize, GivesNothingForHostileHeaders) {
  const SizeCase cases[] = {
      {"width 0", png(0, 480), std::nullopt},
      {"height 0", png(640, 0), std::nullopt},
      {"width above 2^31-1", png(0x80000000, 480), std::nullopt},
      {"height 0xFFFFFFFF", png(640, 0xFFFFFFFF), std::nullopt},
      {"chunk length 0", png(640, 480, 0), std::nullopt},
      {"chunk length 0xFFFFFFFF", png(640, 480, 0xFFFFFFFF), std::nullopt},
      {"chunk length 12", png(640, 480, 12), std::nullopt},
      {"chunk length 14", png(640, 480, 14), std::nullopt},
      {"other first chunk", png(640, 480, 13, "IDAT"), std::nullopt},
      {"type in other case", png(640, 480, 13, "ihdr"), std::nullopt},
      {"signature with LF for CR LF", "\x89PNG\n\n\x1A\n" + png(640, 480).substr(8), std::nullopt},
      {"no signature", png(640, 480).substr(8), std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readPngSize);
}

}  // namespace
}  // namespace qf
