#include "engine/picture_gif.h"

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

TEST(GifSize, ReadsLittleEndianScreenSize) {
  const SizeCase cases[] = {
      {"logo", Bytes("GIF89a\x58\x02\x90\x01", 10), PictureSize{600, 400}},
      {"trailing data ignored", Bytes("GIF87a\x01\x00\x02\x00\x80\x00\x00", 13), PictureSize{1, 2}},
      {"largest", Bytes("GIF89a\xFF\xFF\xFF\xFF", 10), PictureSize{65535, 65535}},
      {"signature not checked", Bytes("xxxxxx\x0A\x00\x14\x00", 10), PictureSize{10, 20}},
      {"nine bytes", Bytes("GIF89a\x58\x02\x90", 9), std::nullopt},
      {"header only", "GIF89a", std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readGifSize);
  expectOnlyCompleteHeaders(cases[0].bytes, 10, readGifSize, "logo");
}

}  // namespace
}  // namespace qf
