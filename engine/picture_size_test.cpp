#include "engine/picture_size.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace qf {
namespace {

using Bytes = std::string;

std::optional<PictureSize> gifSizeOf(const Bytes& bytes) {
  std::istringstream in(bytes);
  return readGifSize(in);
}

std::optional<PictureSize> jpegSizeOf(const Bytes& bytes) {
  std::istringstream in(bytes);
  return readJpegSize(in);
}

const Bytes kSoi = "\xFF\xD8";
// APP0 "JFIF" segment, length 16.
const Bytes kApp0 = Bytes("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);

// A frame header segment with the given marker code: 8 bits, 400 lines,
// 600 samples per line, one component.
Bytes frame(char code) {
  return Bytes("\xFF", 1) + code + Bytes("\x00\x0B\x08\x01\x90\x02\x58\x01\x01\x11\x00", 11);
}

struct SizeCase {
  const char* what;
  Bytes bytes;
  std::optional<PictureSize> expected;
};

void expectSizes(const SizeCase* cases, std::size_t count,
                 std::optional<PictureSize> (*read)(const Bytes&)) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::optional<PictureSize> got = read(cases[i].bytes);
    EXPECT_EQ(got.has_value(), cases[i].expected.has_value()) << cases[i].what;
    if (got && cases[i].expected) {
      EXPECT_EQ(got->width, cases[i].expected->width) << cases[i].what;
      EXPECT_EQ(got->height, cases[i].expected->height) << cases[i].what;
    }
  }
}

TEST(GifSize, ReadsLittleEndianScreenSize) {
  const SizeCase cases[] = {
      {"logo", Bytes("GIF89a\x58\x02\x90\x01", 10), PictureSize{600, 400}},
      {"trailing data ignored", Bytes("GIF87a\x01\x00\x02\x00\x80\x00\x00", 13),
       PictureSize{1, 2}},
      {"largest", Bytes("GIF89a\xFF\xFF\xFF\xFF", 10), PictureSize{65535, 65535}},
      {"signature not checked", Bytes("xxxxxx\x0A\x00\x14\x00", 10), PictureSize{10, 20}},
      {"nine bytes", Bytes("GIF89a\x58\x02\x90", 9), std::nullopt},
      {"header only", "GIF89a", std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, std::size(cases), gifSizeOf);
}

TEST(JpegSize, MeasuresTheFirstFrameHeader) {
  const SizeCase cases[] = {
      {"baseline after APP0", kSoi + kApp0 + frame('\xC0'), PictureSize{600, 400}},
      {"progressive", kSoi + kApp0 + frame('\xC2'), PictureSize{600, 400}},
      {"lossless C3", kSoi + frame('\xC3'), PictureSize{600, 400}},
      {"C7", kSoi + frame('\xC7'), PictureSize{600, 400}},
      {"fill bytes between segments", kSoi + "\xFF\xFF\xFF" + kApp0 + "\xFF\xFF" + frame('\xC0'),
       PictureSize{600, 400}},
      {"marker code without FF", kSoi + kApp0.substr(1) + frame('\xC1').substr(1),
       PictureSize{600, 400}},
      {"first frame wins", kSoi + frame('\xC0') + Bytes("\xFF\xC0\x00\x0B\x08\x00\x01\x00\x01", 9),
       PictureSize{600, 400}},
      {"scan and end markers are skipped by length",
       kSoi + Bytes("\xFF\xDA\x00\x02\xFF\xD9\x00\x02", 8) + frame('\xC0'),
       PictureSize{600, 400}},
  };
  expectSizes(cases, std::size(cases), jpegSizeOf);
}

TEST(JpegSize, SkipsSegmentsThatAreNotFrameHeaders) {
  for (char code : {'\xC4', '\xC8', '\xC9', '\xCA', '\xCB', '\xCC', '\xCD', '\xCE', '\xCF'}) {
    const Bytes other = frame(code);
    // Its own size is 1 x 1, so measuring it would show.
    const Bytes tiny = other.substr(0, 5) + Bytes("\x00\x01\x00\x01", 4) + other.substr(9);
    EXPECT_FALSE(jpegSizeOf(kSoi + tiny)) << int(static_cast<unsigned char>(code));
    const std::optional<PictureSize> later = jpegSizeOf(kSoi + tiny + frame('\xC0'));
    ASSERT_TRUE(later) << int(static_cast<unsigned char>(code));
    EXPECT_EQ(*later, (PictureSize{600, 400}));
  }
}

TEST(JpegSize, GivesNothingForBrokenStreams) {
  const Bytes full = kSoi + kApp0 + frame('\xC0');
  const SizeCase cases[] = {
      {"empty", "", std::nullopt},
      {"not FF D8", Bytes("\xFF\xD9", 2) + kApp0 + frame('\xC0'), std::nullopt},
      {"D8 without FF", Bytes("\x00\xD8", 2) + frame('\xC0'), std::nullopt},
      {"only SOI", kSoi, std::nullopt},
      {"only fill bytes", kSoi + "\xFF\xFF\xFF", std::nullopt},
      {"length 1", kSoi + Bytes("\xFF\xE0\x00\x01", 4) + frame('\xC0'), std::nullopt},
      {"length 0", kSoi + Bytes("\xFF\xE0\x00\x00", 4) + frame('\xC0'), std::nullopt},
      {"length cut", kSoi + Bytes("\xFF\xE0\x00", 3), std::nullopt},
      {"skip past the end", kSoi + Bytes("\xFF\xE0\xFF\xFF\x00\x00", 6), std::nullopt},
      {"cut after precision", full.substr(0, full.size() - 9), std::nullopt},
      {"cut inside height", full.substr(0, full.size() - 8), std::nullopt},
      {"cut before width", full.substr(0, full.size() - 6), std::nullopt},
      {"cut inside width", full.substr(0, full.size() - 5), std::nullopt},
      {"width complete", full.substr(0, full.size() - 4), PictureSize{600, 400}},
  };
  expectSizes(cases, std::size(cases), jpegSizeOf);
}

TEST(JpegSize, FrameLengthIsNotCheckedBeforeReadingTheSize) {
  // The length is read after every marker, frame headers included, but only
  // other segments are judged by it.
  EXPECT_EQ(jpegSizeOf(kSoi + Bytes("\xFF\xC0\x00\x00\x08\x00\x07\x00\x05", 9)),
            (PictureSize{5, 7}));
}

}  // namespace
}  // namespace qf
