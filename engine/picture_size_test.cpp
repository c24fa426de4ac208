#include "engine/picture_size.h"

#include <algorithm>
#include <string>

#include "engine/picture_ico.h"
#include "engine/picture_jpeg.h"
#include "engine/picture_svg.h"
#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

constexpr std::uint64_t kEndless = ~std::uint64_t{0};

// Gives head, then pattern again and again up to length bytes in all,
// counting what it gives; fails instead of giving byte failAt.
class PatternSource : public ByteSource {
 public:
  PatternSource(Bytes head, Bytes pattern, std::uint64_t length, std::uint64_t failAt = kEndless)
      : head_(std::move(head)), pattern_(std::move(pattern)), length_(length), failAt_(failAt) {}

  long read(char* buffer, std::size_t size) override {
    if (given_ == failAt_) return -1;
    const std::uint64_t end = std::min({length_, failAt_, given_ + size});
    std::size_t n = 0;
    for (; given_ < end; ++given_, ++n) {
      buffer[n] = given_ < head_.size() ? head_[given_]
                                        : pattern_[(given_ - head_.size()) % pattern_.size()];
    }
    return static_cast<long>(n);
  }
  std::uint64_t given() const { return given_; }

 private:
  Bytes head_, pattern_;
  std::uint64_t length_, failAt_, given_ = 0;
};

std::optional<PictureSize> measureBytes(const Bytes& bytes, PictureFormat format) {
  PatternSource source(bytes, "-", bytes.size());
  return measurePicture(source, format);
}

const Bytes kPng =
    Bytes("\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR\x00\x00\x02\x80\x00\x00\x01\xE0", 24) +
    Bytes("\x08\x06\x00\x00\x00", 5);
const Bytes kSoi("\xFF\xD8", 2);
// A baseline frame header: 400 lines of 600 samples.
const Bytes kFrame("\xFF\xC0\x00\x0B\x08\x01\x90\x02\x58\x01\x01\x11\x00", 13);

// A comment segment of the given total size (4 to 65537 bytes).
Bytes comment(std::size_t size) {
  return Bytes("\xFF\xFE", 2) + bigEndianBytes(size - 2, 2) + Bytes(size - 4, 'c');
}

TEST(MeasurePicture, ReadsNoMoreThanTheBound) {
  struct Case {
    const char* what;
    PictureFormat format;
    Bytes head, pattern;
    std::optional<PictureSize> expected;
    std::uint64_t bound;
  };
  const Case cases[] = {
      {"header, then endless bytes", PictureFormat::kPng, kPng, "x", PictureSize{640, 480},
       kPictureHeaderBound},
      {"endless directory", PictureFormat::kIco, Bytes("\x00\x00\x01\x00\xFF\xFF", 6),
       Bytes(16, '\x10'), std::nullopt, kPictureHeaderBound},
      {"endless boxes", PictureFormat::kHeif, Bytes("\x00\x00\x00\x08", 4) + "ftyp",
       Bytes("\x00\x00\x00\x08", 4) + "free", std::nullopt, kPictureHeaderBound},
      {"root element without end", PictureFormat::kSvg, "<svg width=\"1\" height=\"1\"", " ",
       std::nullopt, kSvgBound},
      {"endless fill bytes", PictureFormat::kJpeg, kSoi, "\xFF", std::nullopt, kJpegBound},
      {"endless segments", PictureFormat::kJpeg, kSoi, comment(65537), std::nullopt, kJpegBound},
  };
  for (const Case& c : cases) {
    PatternSource source(c.head, c.pattern, kEndless);
    EXPECT_EQ(measurePicture(source, c.format), c.expected) << c.what;
    EXPECT_LE(source.given(), c.bound) << c.what;
  }
}

TEST(MeasurePicture, HeaderPastTheBoundGivesNothing) {
  Bytes icons = Bytes("\x00\x00\x01\x00\x00\x10", 6) + Bytes(16 * 4096, '\x20');
  ASSERT_TRUE(readIcoSize(icons));
  EXPECT_EQ(measureBytes(icons, PictureFormat::kIco), std::nullopt);
  const Bytes drawing = "<svg width=\"3\" height=\"4\"/>";
  const Bytes nearEnd = "<!--" + Bytes(kSvgBound - 7 - drawing.size(), 'c') + "-->" + drawing;
  EXPECT_EQ(measureBytes(nearEnd, PictureFormat::kSvg), (PictureSize{3, 4}));
  const Bytes pastEnd = "<!-" + nearEnd.substr(2);
  ASSERT_EQ(readSvgSize(pastEnd), (PictureSize{3, 4}));
  EXPECT_EQ(measureBytes(pastEnd, PictureFormat::kSvg), std::nullopt);
}

// Camera pictures can carry several 64 KiB segments of metadata before the
// frame header; those are skipped, not kept.
TEST(MeasurePicture, JpegFrameHeaderFarIntoTheFile) {
  Bytes metadata;
  for (int i = 0; i < 40; ++i) metadata += comment(65537);
  EXPECT_EQ(measureBytes(kSoi + metadata + kFrame, PictureFormat::kJpeg), (PictureSize{600, 400}));
  EXPECT_EQ(measureBytes(kSoi + metadata + "\xFF\xFF\xFF" + kFrame, PictureFormat::kJpeg),
            (PictureSize{600, 400}));
  EXPECT_EQ(measureBytes(kSoi + metadata + kFrame.substr(0, 7), PictureFormat::kJpeg),
            std::nullopt);
  EXPECT_EQ(measureBytes(kSoi + metadata.substr(0, metadata.size() - 1), PictureFormat::kJpeg),
            std::nullopt);
}

TEST(MeasurePicture, JpegGivesTheSameWhereverTheWindowEnds) {
  for (std::size_t end = kPictureHeaderBound - 16; end < kPictureHeaderBound + 16; ++end) {
    // The frame header, or the run of fill bytes before it, crosses the end
    // of the first window at each of its bytes.
    const Bytes segments = kSoi + comment(60000) + comment(end - 60002);
    EXPECT_EQ(measureBytes(segments + kFrame, PictureFormat::kJpeg), (PictureSize{600, 400}))
        << end;
    EXPECT_EQ(measureBytes(segments + Bytes(9, '\xFF') + kFrame, PictureFormat::kJpeg),
              (PictureSize{600, 400}))
        << end;
  }
}

TEST(MeasurePicture, ReadErrorGivesNothing) {
  for (PictureFormat format : {PictureFormat::kPng, PictureFormat::kJpeg}) {
    const Bytes bytes = format == PictureFormat::kPng ? kPng : kSoi + kFrame;
    // Even after a complete header: a failing file is not trusted.
    PatternSource failing(bytes, "x", kEndless, bytes.size() + 10);
    EXPECT_EQ(measurePicture(failing, format), std::nullopt);
    PatternSource whole(bytes, "x", bytes.size());
    EXPECT_NE(measurePicture(whole, format), std::nullopt);
  }
}

}  // namespace
}  // namespace qf
