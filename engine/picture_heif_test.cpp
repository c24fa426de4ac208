#include "engine/picture_heif.h"

#include <string>
#include <vector>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

Bytes box(const Bytes& type, const Bytes& body) {
  return bigEndianBytes(8 + body.size(), 4) + type + body;
}

Bytes fullBox(const Bytes& type, unsigned version, unsigned flags, const Bytes& body) {
  return box(type, static_cast<char>(version) + bigEndianBytes(flags, 3) + body);
}

Bytes ispe(std::uint64_t width, std::uint64_t height) {
  return fullBox("ispe", 0, 0, bigEndianBytes(width, 4) + bigEndianBytes(height, 4));
}

Bytes irot(unsigned angle) { return box("irot", Bytes(1, static_cast<char>(angle))); }

Bytes pitm(std::uint32_t item, unsigned version = 0) {
  return fullBox("pitm", version, 0, bigEndianBytes(item, version == 0 ? 2 : 4));
}

struct Association {
  std::uint32_t item;
  std::vector<unsigned> indices;  // as stored, with the "essential" bit
};

Bytes ipma(const std::vector<Association>& entries, unsigned version = 0, unsigned flags = 0) {
  Bytes body = bigEndianBytes(entries.size(), 4);
  for (const Association& entry : entries) {
    body += bigEndianBytes(entry.item, version == 0 ? 2 : 4);
    body += static_cast<char>(entry.indices.size());
    for (unsigned index : entry.indices) body += bigEndianBytes(index, (flags & 1) ? 2 : 1);
  }
  return fullBox("ipma", version, flags, body);
}

Bytes iprp(const Bytes& properties, const Bytes& associations) {
  return box("iprp", box("ipco", properties) + associations);
}

const Bytes kFtyp = box("ftyp", "avif" + bigEndianBytes(0, 4) + "mif1avifmiaf");
const Bytes kHdlr = fullBox("hdlr", 0, 0, Bytes(4, '\0') + "pict" + Bytes(13, '\0'));

Bytes heif(const Bytes& metaBoxes) {
  return kFtyp + fullBox("meta", 0, 0, kHdlr + metaBoxes) + box("mdat", "pixels");
}

// One item with one extent: the smallest picture there is.
Bytes simple(const Bytes& properties = ispe(640, 480)) {
  return heif(pitm(1) + iprp(properties, ipma({{1, {1}}})));
}

TEST(HeifSize, MeasuresThePrimaryItem) {
  Bytes manyProperties;
  for (int i = 0; i < 299; ++i) manyProperties += box("pasp", bigEndianBytes(1, 8));
  const SizeCase cases[] = {
      {"one item", simple(), PictureSize{640, 480}},
      {"thumbnail's extent first",
       heif(pitm(1) + iprp(ispe(160, 120) + ispe(640, 480), ipma({{2, {1}}, {1, {2}}}))),
       PictureSize{640, 480}},
      {"primary is item 2",
       heif(pitm(2) + iprp(ispe(160, 120) + ispe(640, 480), ipma({{1, {1}}, {2, {2}}}))),
       PictureSize{640, 480}},
      {"pitm after iprp", heif(iprp(ispe(640, 480), ipma({{1, {1}}})) + pitm(1)),
       PictureSize{640, 480}},
      {"associations in a second ipma",
       heif(pitm(1) + iprp(ispe(160, 120) + ispe(640, 480), ipma({{2, {1}}}) + ipma({{1, {2}}}))),
       PictureSize{640, 480}},
      {"essential bit, index 0 skipped",
       heif(pitm(1) + iprp(ispe(640, 480), ipma({{1, {0, 0x81}}}))), PictureSize{640, 480}},
      {"32-bit item numbers",
       heif(pitm(0x10001, 1) + iprp(ispe(640, 480), ipma({{0x10001, {1}}}, 1))),
       PictureSize{640, 480}},
      {"16-bit property indices",
       heif(pitm(1) + iprp(manyProperties + ispe(640, 480), ipma({{1, {0x8000 | 300}}}, 0, 1))),
       PictureSize{640, 480}},
      {"first extent counts",
       heif(pitm(1) + iprp(ispe(640, 480) + ispe(1, 1), ipma({{1, {1, 2}}}))),
       PictureSize{640, 480}},
      {"largest extent", simple(ispe(0xFFFFFFFF, 0xFFFFFFFF)), PictureSize{0xFFFFFFFF, 0xFFFFFFFF}},
      {"other top-level boxes first",
       kFtyp + box("free", "") +
           heif(pitm(1) + iprp(ispe(640, 480), ipma({{1, {1}}}))).substr(kFtyp.size()),
       PictureSize{640, 480}},
      {"64-bit meta size",
       kFtyp + bigEndianBytes(1, 4) + "meta" +
           bigEndianBytes(16 + 4 + kHdlr.size() + pitm(1).size() +
                              iprp(ispe(640, 480), ipma({{1, {1}}})).size(),
                          8) +
           Bytes(4, '\0') + kHdlr + pitm(1) + iprp(ispe(640, 480), ipma({{1, {1}}})),
       PictureSize{640, 480}},
  };
  expectSizes(cases, readHeifSize);
  const Bytes file = simple();
  const std::size_t metaEnd = file.size() - box("mdat", "pixels").size();
  expectOnlyCompleteHeaders(file, metaEnd, readHeifSize, "one item");
}

TEST(HeifSize, RotationOfAQuarterTurnSwapsTheSides) {
  struct Case {
    unsigned angle;
    PictureSize expected;
  };
  const Case cases[] = {
      {0, {640, 480}}, {1, {480, 640}},    {2, {640, 480}},
      {3, {480, 640}}, {0xFD, {480, 640}},  // the six high bits are reserved
  };
  for (const Case& c : cases) {
    const Bytes before = heif(pitm(1) + iprp(irot(c.angle) + ispe(640, 480), ipma({{1, {1, 2}}})));
    EXPECT_EQ(readHeifSize(before), c.expected) << c.angle;
    const Bytes after = heif(pitm(1) + iprp(ispe(640, 480) + irot(c.angle), ipma({{1, {1, 2}}})));
    EXPECT_EQ(readHeifSize(after), c.expected) << c.angle;
  }
  // Another item's rotation does not count.
  EXPECT_EQ(
      readHeifSize(heif(pitm(1) + iprp(ispe(640, 480) + irot(1), ipma({{1, {1}}, {2, {1, 2}}})))),
      (PictureSize{640, 480}));
}

TEST(HeifSize, GivesNothingForHostileBoxes) {
  const Bytes meta =
      fullBox("meta", 0, 0, kHdlr + pitm(1) + iprp(ispe(640, 480), ipma({{1, {1}}})));
  const Bytes metaBody = meta.substr(8);
  const SizeCase cases[] = {
      {"no ftyp first", meta + kFtyp, std::nullopt},
      {"no meta", kFtyp + box("mdat", "pixels"), std::nullopt},
      {"no pitm", heif(iprp(ispe(640, 480), ipma({{1, {1}}}))), std::nullopt},
      {"pitm cut short",
       heif(fullBox("pitm", 0, 0, "\x01") + iprp(ispe(640, 480), ipma({{1, {1}}}))), std::nullopt},
      {"no ipco", heif(pitm(1) + box("iprp", ipma({{1, {1}}}))), std::nullopt},
      {"primary without extent", heif(pitm(1) + iprp(ispe(640, 480), ipma({{2, {1}}}))),
       std::nullopt},
      {"index past the properties", heif(pitm(1) + iprp(ispe(640, 480), ipma({{1, {2}}}))),
       std::nullopt},
      {"extent cut short", simple(fullBox("ispe", 0, 0, bigEndianBytes(640, 4))), std::nullopt},
      {"extent 0 wide", simple(ispe(0, 480)), std::nullopt},
      {"rotation without angle",
       heif(pitm(1) + iprp(ispe(640, 480) + box("irot", ""), ipma({{1, {1, 2}}}))), std::nullopt},
      {"ipma count 0xFFFFFFFF",
       heif(pitm(1) + iprp(ispe(640, 480), ipma({{1, {1}}}).replace(12, 4, 4, '\xFF'))),
       std::nullopt},
      {"ipma associations past its end",
       heif(pitm(1) + iprp(ispe(640, 480), box("ipma", Bytes(4, '\0') + bigEndianBytes(1, 4) +
                                                           bigEndianBytes(1, 2) + "\x05\x01"))),
       std::nullopt},
      {"ipco child past ipco's end",
       heif(pitm(1) + box("iprp", box("ipco", ispe(640, 480).substr(0, 16)) + ipma({{1, {1}}}))),
       std::nullopt},
      {"meta size 0", kFtyp + bigEndianBytes(0, 4) + "meta" + metaBody, std::nullopt},
      {"meta size 0xFFFFFFFF", kFtyp + bigEndianBytes(0xFFFFFFFF, 4) + "meta" + metaBody,
       std::nullopt},
      {"meta size below its header, which would read itself again",
       kFtyp + bigEndianBytes(4, 4) + "meta" + metaBody, std::nullopt},
      {"ftyp size 0", bigEndianBytes(0, 4) + kFtyp.substr(4) + meta, std::nullopt},
      {"64-bit size 0xFFFFFFFFFFFFFFFF",
       kFtyp + bigEndianBytes(1, 4) + "meta" + bigEndianBytes(~std::uint64_t{0}, 8) + metaBody,
       std::nullopt},
      {"64-bit size below its header",
       kFtyp + bigEndianBytes(1, 4) + "meta" + bigEndianBytes(8, 8) + metaBody, std::nullopt},
      {"a box before meta past the end", kFtyp + box("free", Bytes(100, '\0')).substr(0, 50) + meta,
       std::nullopt},
      {"meta without its version", kFtyp + box("meta", ""), std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readHeifSize);
}

}  // namespace
}  // namespace qf
