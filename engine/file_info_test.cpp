#include "engine/file_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "base/test_util.h"

namespace qf {
namespace {

using Values = std::vector<std::string>;  // the seven symbols, in their order

const char* const kSymbols[] = {"_FILENAME_", "_FILETITLE_", "_FILEW_", "_FILEH_",
                                "_FILEB_",    "_FILEK_",     "_FILEM_"};

Values valuesIn(const DefinitionTable& table) {
  Values values;
  for (const char* symbol : kSymbols) {
    const Definition* d = table.findDefinition(symbol);
    values.push_back(d ? std::string(d->text) : "<none>");
  }
  return values;
}

Values fileInfoOf(std::string_view foundPath, std::string_view nameAsWritten) {
  DefinitionTable table;
  defineFileInfo(table, foundPath, nameAsWritten);
  return valuesIn(table);
}

std::string sparseFile(const TempDir& dir, const std::string& name, off_t size) {
  const std::string path = dir.write(name, "");
  if (truncate(path.c_str(), size) != 0) ADD_FAILURE() << "cannot size " << path;
  return path;
}

const std::string kGif("GIF89a\x58\x02\x90\x01\x80\x00\x00", 13);
// SOI, APP0 (length 16), then a baseline frame header of 400 lines x 600.
const std::string kJpeg(
    "\xFF\xD8"
    "\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    "\xFF\xC0\x00\x0B\x08\x01\x90\x02\x58\x01\x01\x11\x00",
    33);

TEST(EqualsIgnoreCase, FoldsAsciiLettersOnly) {
  struct Case {
    std::string_view a, b;
    bool equal;
  };
  const Case cases[] = {
      {"gif", "GIF", true},   {"JfIf", "jFiF", true},  {"", "", true},
      {"jpg", "jpeg", false}, {"gif", "", false},      {"[", "{", false},
      {"@", "`", false},      {"\xC9", "\xE9", false}, {std::string_view("a\0b", 3), "a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(equalsIgnoreCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(equalsIgnoreCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
  }
}

TEST(FormatMegabytes, RoundsTiesUpWithAPoint) {
  struct Case {
    std::uint64_t bytes;
    const char* expected;
  };
  const Case cases[] = {
      {0, "0.00"},
      {1536, "0.00"},
      {5242, "0.00"},  // just below 0.005
      {5243, "0.01"},
      {131072, "0.13"},   // 0.125
      {393216, "0.38"},   // 0.375
      {655360, "0.63"},   // 0.625
      {1048575, "1.00"},  // rounding carries into the whole part
      {1048576, "1.00"},
      {1572864, "1.50"},
      {3221225472, "3072.00"},
      {std::numeric_limits<std::uint64_t>::max(), "17592186044416.00"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatMegabytes(c.bytes), c.expected) << c.bytes;
}

TEST(FileInfo, DefinesNamesAndSizesOfPictures) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string contents;
    Values expected;
  };
  const Case cases[] = {
      {"img/logo.gif", kGif, {"img/logo.gif", "logo.gif", "600", "400", "13", "0", "0.00"}},
      {"LOGO.GIF", kGif, {"LOGO.GIF", "LOGO.GIF", "600", "400", "13", "0", "0.00"}},
      {"PHOTO.JPG", kJpeg, {"PHOTO.JPG", "PHOTO.JPG", "600", "400", "33", "0", "0.00"}},
      {"pics/photo.Jpeg",
       kJpeg,
       {"pics/photo.Jpeg", "photo.Jpeg", "600", "400", "33", "0", "0.00"}},
      {"photo.JFIF", kJpeg, {"photo.JFIF", "photo.JFIF", "600", "400", "33", "0", "0.00"}},
      {"photo.jpe", kJpeg, {"photo.jpe", "photo.jpe", "", "", "33", "0", "0.00"}},
      // Bytes 6-9 of the JPEG are "JFIF".
      {"jpeg-bytes.gif",
       kJpeg,
       {"jpeg-bytes.gif", "jpeg-bytes.gif", "17994", "17993", "33", "0", "0.00"}},
      {"gif-bytes.jpg", kGif, {"gif-bytes.jpg", "gif-bytes.jpg", "", "", "13", "0", "0.00"}},
      {"short.gif", kGif.substr(0, 9), {"short.gif", "short.gif", "", "", "9", "0", "0.00"}},
      {"page.txt", "hello\n", {"page.txt", "page.txt", "", "", "6", "0", "0.00"}},
      {"empty.txt", "", {"empty.txt", "empty.txt", "", "", "0", "0", "0.00"}},
      {"empty.jpg", "", {"empty.jpg", "empty.jpg", "", "", "0", "0", "0.00"}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.write(c.name, c.contents);
    EXPECT_EQ(fileInfoOf(path, c.name), c.expected) << c.name;
  }
}

// Each file's name ends in the size it is shown at ("-33x17") or "-none".
Values expectedSizeOf(const std::filesystem::path& file) {
  const std::string stem = file.stem().string();
  const std::string size = stem.substr(stem.rfind('-') + 1);
  if (size == "none") return {"", ""};
  const std::size_t x = size.find('x');
  return {size.substr(0, x), size.substr(x + 1)};
}

TEST(FileInfo, MeasuresPicturesMadeByRealEncoders) {
  std::set<std::string> extensions;
  for (const auto& entry : std::filesystem::directory_iterator(QF_PICTURE_TESTDATA)) {
    const std::filesystem::path& file = entry.path();
    if (file.extension() == ".sh") continue;
    extensions.insert(file.extension().string());
    const Values v = fileInfoOf(file.string(), file.filename().string());
    EXPECT_EQ(Values(v.begin() + 2, v.begin() + 4), expectedSizeOf(file)) << file;
  }
  EXPECT_EQ(extensions, (std::set<std::string>{".avif", ".bmp", ".cur", ".gif", ".heic", ".ico",
                                               ".jpg", ".png", ".svg", ".webp"}));
}

TEST(FileInfo, ChoosesTheReaderByExtensionIgnoringCase) {
  TempDir dir;
  struct Case {
    const char* picture;
    const char* name;
    const char* width;
    const char* height;
  };
  const Case cases[] = {
      {"png-rgba-33x17.png", "logo.APNG", "33", "17"},
      {"png-rgba-33x17.png", "logo.Png", "33", "17"},
      {"heic-64x48.heic", "photo.HEIF", "64", "48"},
      {"heic-64x48.heic", "photo.heic", "64", "48"},
      {"avif-37x19.avif", "photo.AVIF", "37", "19"},
      {"webp-lossy-41x23.webp", "photo.WebP", "41", "23"},
      {"svg-px-120x80.svg", "drawing.SVG", "120", "80"},
      {"bmp-v3-31x13.bmp", "old.BMP", "31", "13"},
      {"ico-48x48.ico", "favicon.ICO", "48", "48"},
      {"cur-32x32.cur", "pointer.CUR", "32", "32"},
      {"jpeg-baseline-27x15.jpg", "photo.JFIF", "27", "15"},
      // The extension decides, not the bytes.
      {"png-rgba-33x17.png", "logo.webp", "", ""},
      {"webp-lossy-41x23.webp", "photo.png", "", ""},
      {"png-rgba-33x17.png", "logo.png.txt", "", ""},
      {"png-rgba-33x17.png", "png", "", ""},
  };
  for (const Case& c : cases) {
    const std::string bytes = readFile(std::string(QF_PICTURE_TESTDATA) + "/" + c.picture);
    const Values v = fileInfoOf(dir.write(c.name, bytes), c.name);
    EXPECT_EQ(Values(v.begin() + 2, v.begin() + 4), (Values{c.width, c.height})) << c.name;
  }
}

TEST(FileInfo, UnopenableFileGetsSevenEmptySymbols) {
  TempDir dir;
  const std::string real = dir.write("real.gif", kGif);
  const Values empty(7, "");
  EXPECT_EQ(fileInfoOf(dir / "missing.gif", "missing.gif"), empty);
  // A NUL would cut the opened path down to real.gif.
  EXPECT_EQ(fileInfoOf(real + std::string("\0x", 2), "real.gif"), empty);
}

TEST(FileInfo, NamesKeepEveryByteAndLength) {
  TempDir dir;
  const std::string path = dir.write("a.txt", "x");
  const std::string withNul("dir\0x/na\0me.gif", 15);
  const std::string longName = std::string(3000, 'd') + "/" + std::string(2000, 'n');
  EXPECT_EQ(fileInfoOf(path, withNul)[0], withNul);
  EXPECT_EQ(fileInfoOf(path, withNul)[1], std::string("na\0me.gif", 9));
  EXPECT_EQ(fileInfoOf(path, longName)[0], longName);
  EXPECT_EQ(fileInfoOf(path, longName)[1], std::string(2000, 'n'));
}

TEST(FileInfo, SizeSymbols) {
  TempDir dir;
  struct Case {
    off_t bytes;
    const char* b;
    const char* k;
    const char* m;
  };
  const Case cases[] = {
      {1023, "1023", "0", "0.00"},          {1024, "1024", "1", "0.00"},
      {1536, "1536", "1", "0.00"},          {131072, "131072", "128", "0.13"},
      {393216, "393216", "384", "0.38"},    {655360, "655360", "640", "0.63"},
      {1048576, "1048576", "1024", "1.00"}, {1572864, "1572864", "1536", "1.50"},
  };
  for (const Case& c : cases) {
    const std::string path = sparseFile(dir, "f" + std::to_string(c.bytes) + ".bin", c.bytes);
    const Values v = fileInfoOf(path, "f");
    EXPECT_EQ(Values(v.begin() + 4, v.end()), (Values{c.b, c.k, c.m})) << c.bytes;
  }
}

TEST(FileInfo, SizesBeyondTwoGigabytes) {
  TempDir dir;
  const std::string path = sparseFile(dir, "big.bin", off_t{3} << 30);
  const Values v = fileInfoOf(path, "big.bin");
  EXPECT_EQ(Values(v.begin() + 4, v.end()), (Values{"3221225472", "3145728", "3072.00"}));
}

TEST(FileInfo, LaterCallShadowsEarlierOne) {
  TempDir dir;
  DefinitionTable table;
  defineFileInfo(table, dir.write("a.gif", kGif), "a.gif");
  defineFileInfo(table, dir.write("b.txt", "text"), "b.txt");
  EXPECT_EQ(valuesIn(table), (Values{"b.txt", "b.txt", "", "", "4", "0", "0.00"}));
  table.removeDefinition(table.findDefinition("_FILEW_"));
  EXPECT_EQ(valuesIn(table), (Values{"b.txt", "b.txt", "600", "", "4", "0", "0.00"}));
  table.removeDefinition(table.findDefinition("_FILEW_"));
  EXPECT_EQ(table.findDefinition("_FILEW_"), nullptr);
}

}  // namespace
}  // namespace qf
