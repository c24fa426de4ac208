#include "engine/picture_jpeg.h"

#include <string>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

const Bytes kSoi = "\xFF\xD8";
// APP0 "JFIF" segment, length 16.
const Bytes kApp0 = Bytes("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);

// A frame header segment with the given marker code: 8 bits, 400 lines,
// 600 samples per line, one component.
Bytes frame(char code) {
  return Bytes("\xFF", 1) + code + Bytes("\x00\x0B\x08\x01\x90\x02\x58\x01\x01\x11\x00", 11);
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
       kSoi + Bytes("\xFF\xDA\x00\x02\xFF\xD9\x00\x02", 8) + frame('\xC0'), PictureSize{600, 400}},
  };
  expectSizes(cases, readJpegSize);
}

TEST(JpegSize, SkipsSegmentsThatAreNotFrameHeaders) {
  for (char code : {'\xC4', '\xC8', '\xC9', '\xCA', '\xCB', '\xCC', '\xCD', '\xCE', '\xCF'}) {
    const Bytes other = frame(code);
    // Its own size is 1 x 1, so measuring it would show.
    const Bytes tiny = other.substr(0, 5) + Bytes("\x00\x01\x00\x01", 4) + other.substr(9);
    EXPECT_FALSE(readJpegSize(kSoi + tiny)) << int(static_cast<unsigned char>(code));
    const std::optional<PictureSize> later = readJpegSize(kSoi + tiny + frame('\xC0'));
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
  expectSizes(cases, readJpegSize);
  expectOnlyCompleteHeaders(full, full.size() - 4, readJpegSize, "baseline after APP0");
}

TEST(JpegSize, FrameLengthIsNotCheckedBeforeReadingTheSize) {
  // The length is read after every marker, frame headers included, but only
  // other segments are judged by it.
  EXPECT_EQ(readJpegSize(kSoi + Bytes("\xFF\xC0\x00\x00\x08\x00\x07\x00\x05", 9)),
            (PictureSize{5, 7}));
}

// A JPEG read window by window must give what it gives read whole, wherever
// the windows' edges fall: inside fill bytes, a marker, a length or the
// frame header, or exactly between segments.
TEST(JpegScan, WindowsGiveWhatTheWholeFileGives) {
  const Bytes comment = Bytes("\xFF\xFE\x00\x0A", 4) + "12345678";
  const Bytes files[] = {
      kSoi + kApp0 + frame('\xC0'),
      kSoi + comment + "\xFF\xFF\xFF\xFF\xFF" + comment + frame('\xC2'),
      kSoi + comment + comment.substr(1) + frame('\xC1'),
      kSoi + Bytes("\xFF\xE0\x00\x01", 4) + frame('\xC0'),  // broken length
      kSoi + comment + frame('\xC0').substr(0, 6),          // cut frame header
  };
  for (const Bytes& file : files) {
    // Eight bytes, a frame header from its marker code on, always move on.
    for (std::size_t window = 8; window < file.size(); ++window) {
      std::uint64_t offset = 0;
      JpegScan scan;
      // Each window starts where the scan before asked to go on.
      for (;;) {
        const std::string_view part = std::string_view(file).substr(offset, window);
        scan = scanJpeg(part, offset);
        if (scan.size || scan.broken || offset + part.size() == file.size()) break;
        ASSERT_GT(scan.resumeAt, offset);
        offset = scan.resumeAt;
        if (offset > file.size()) break;
      }
      EXPECT_EQ(scan.size, readJpegSize(file)) << "window " << window;
    }
  }
}

TEST(JpegScan, SaysWhereTheNextSegmentStarts) {
  const Bytes big = kSoi + Bytes("\xFF\xE1\xFF\xFF", 4);  // 65533 bytes of data follow
  const JpegScan scan = scanJpeg(big, 0);
  EXPECT_EQ(scan.size, std::nullopt);
  EXPECT_FALSE(scan.broken);
  EXPECT_EQ(scan.resumeAt, 2u + 2 + 0xFFFF);
  // From there on, a window starts with the next marker.
  const JpegScan next = scanJpeg(frame('\xC0'), scan.resumeAt);
  EXPECT_EQ(next.size, (PictureSize{600, 400}));
  EXPECT_TRUE(scanJpeg(Bytes("\xFF\xD9", 2) + kApp0, 0).broken);
}

}  // namespace
}  // namespace qf
