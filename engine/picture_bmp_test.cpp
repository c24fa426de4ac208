#include "engine/picture_bmp.h"

#include <string>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

// "BM", file size, reserved, pixel offset, then an information header of
// headerLength bytes starting with its length.
Bytes bmp(std::uint64_t headerLength, const Bytes& sizeFields) {
  Bytes info = littleEndianBytes(headerLength, 4) + sizeFields;
  if (headerLength > info.size() && headerLength < 200) info.resize(headerLength, '\x01');
  return "BM" + littleEndianBytes(1000, 4) + Bytes(4, '\0') + littleEndianBytes(54, 4) + info;
}

Bytes windows(std::int64_t width, std::int64_t height, std::uint64_t length = 40) {
  return bmp(length, littleEndianBytes(static_cast<std::uint64_t>(width), 4) +
                         littleEndianBytes(static_cast<std::uint64_t>(height), 4));
}

Bytes core(std::uint64_t width, std::uint64_t height) {
  return bmp(12, littleEndianBytes(width, 2) + littleEndianBytes(height, 2));
}

TEST(BmpSize, ReadsEachHeaderKind) {
  const SizeCase cases[] = {
      {"Windows 3", windows(640, 480), PictureSize{640, 480}},
      {"top-down", windows(640, -480), PictureSize{640, 480}},
      {"largest top-down", windows(1, -0x7FFFFFFF), PictureSize{1, 0x7FFFFFFF}},
      {"version 4", windows(640, 480, 108), PictureSize{640, 480}},
      {"version 5", windows(640, 480, 124), PictureSize{640, 480}},
      {"OS/2 2.x short", windows(640, 480, 16), PictureSize{640, 480}},
      {"OS/2 2.x", windows(640, 480, 64), PictureSize{640, 480}},
      {"old 12-byte header", core(640, 480), PictureSize{640, 480}},
      {"old header largest", core(65535, 65535), PictureSize{65535, 65535}},
  };
  expectSizes(cases, readBmpSize);
  expectOnlyCompleteHeaders(windows(640, 480), 14 + 40, readBmpSize, "Windows 3");
  expectOnlyCompleteHeaders(windows(640, 480, 124), 14 + 124, readBmpSize, "version 5");
  expectOnlyCompleteHeaders(core(640, 480), 14 + 12, readBmpSize, "old header");
}

TEST(BmpSize, GivesNothingForHostileHeaders) {
  const SizeCase cases[] = {
      {"width 0", windows(0, 480), std::nullopt},
      {"height 0", windows(640, 0), std::nullopt},
      {"negative width", windows(-640, 480), std::nullopt},
      {"most negative height", windows(640, INT32_MIN), std::nullopt},
      {"old header width 0", core(0, 480), std::nullopt},
      {"header length 0", windows(640, 480, 0), std::nullopt},
      {"header length 0xFFFFFFFF", windows(640, 480, 0xFFFFFFFF), std::nullopt},
      {"header length 13", windows(640, 480, 13), std::nullopt},
      {"header length 41", windows(640, 480, 41), std::nullopt},
      {"header past the end", windows(640, 480, 124).substr(0, 14 + 123), std::nullopt},
      {"not BM", "MB" + windows(640, 480).substr(2), std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readBmpSize);
}

}  // namespace
}  // namespace qf
