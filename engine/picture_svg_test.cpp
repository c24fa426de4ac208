#include "engine/picture_svg.h"

#include <string>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

Bytes svg(const Bytes& attributes) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + attributes + "><rect/></svg>";
}

TEST(SvgSize, ConvertsEachUnit) {
  const SizeCase cases[] = {
      {"unitless", svg("width=\"120\" height=\"80\""), PictureSize{120, 80}},
      {"px", svg("width=\"120px\" height=\"80px\""), PictureSize{120, 80}},
      {"in", svg("width=\"2in\" height=\"0.5in\""), PictureSize{192, 48}},
      {"cm", svg("width=\"2.54cm\" height=\"5cm\""), PictureSize{96, 189}},
      {"mm", svg("width=\"25.4mm\" height=\"10mm\""), PictureSize{96, 38}},
      {"pt", svg("width=\"72pt\" height=\"1pt\""), PictureSize{96, 1}},
      {"pc", svg("width=\"6pc\" height=\"1pc\""), PictureSize{96, 16}},
      {"units in capitals", svg("width=\"1IN\" height=\"12PX\""), PictureSize{96, 12}},
      {"rounded to nearest", svg("width=\"10.5\" height=\"10.49\""), PictureSize{11, 10}},
      {"fraction and exponent", svg("width=\".5e2\" height=\"+7.\""), PictureSize{50, 7}},
      {"spaces around", svg("width=\" 120 \" height=\"\n80px\t\""), PictureSize{120, 80}},
      {"single quotes and entities",
       "<!DOCTYPE svg [<!ENTITY w \"64\">]><svg xmlns='http://www.w3.org/2000/svg' "
       "width='&w;' height='&#52;8'/>",
       PictureSize{64, 48}},
      {"no namespace", "<svg width=\"3\" height=\"4\"/>", PictureSize{3, 4}},
      {"prefixed root",
       "<s:svg xmlns:s=\"http://www.w3.org/2000/svg\" width=\"3\" height=\"4\"></s:svg>",
       PictureSize{3, 4}},
      {"prolog, comment, byte-order mark",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- drawn by hand -->\n" +
           svg("width=\"3\" height=\"4\""),
       PictureSize{3, 4}},
      {"broken XML after the root's start tag", svg("width=\"3\" height=\"4\"") + "<</>&",
       PictureSize{3, 4}},
      {"root's start tag only", "<svg width=\"3\" height=\"4\">", PictureSize{3, 4}},
  };
  expectSizes(cases, readSvgSize);
  const Bytes file = svg("width=\"120\" height=\"80\"");
  expectOnlyCompleteHeaders(file, file.find('>') + 1, readSvgSize, "unitless");
}

TEST(SvgSize, FallsBackOnTheViewBox) {
  const SizeCase cases[] = {
      {"viewBox only", svg("viewBox=\"0 0 300 150\""), PictureSize{300, 150}},
      {"commas and offsets", svg("viewBox=\"-10,-20 , 30.4,40.6\""), PictureSize{30, 41}},
      {"percent", svg("width=\"100%\" height=\"50%\" viewBox=\"0 0 64 32\""), PictureSize{64, 32}},
      {"em and ex", svg("width=\"10em\" height=\"2ex\" viewBox=\"0 0 64 32\""),
       PictureSize{64, 32}},
      {"width given", svg("width=\"200\" viewBox=\"0 0 40 20\""), PictureSize{200, 100}},
      {"height given in cm", svg("height=\"2.54cm\" viewBox=\"0 0 40 20\""), PictureSize{192, 96}},
      {"width given, height relative", svg("width=\"10\" height=\"5em\" viewBox=\"0 0 4 6\""),
       PictureSize{10, 15}},
      {"zero width", svg("width=\"0\" height=\"10\" viewBox=\"0 0 4 2\""), PictureSize{20, 10}},
  };
  expectSizes(cases, readSvgSize);
}

TEST(SvgSize, GivesNothingWithoutAUsableSize) {
  const SizeCase cases[] = {
      {"no size", svg(""), std::nullopt},
      {"width only", svg("width=\"10\""), std::nullopt},
      {"percent only", svg("width=\"100%\" height=\"100%\""), std::nullopt},
      {"viewBox of three numbers", svg("viewBox=\"0 0 30\""), std::nullopt},
      {"viewBox of five numbers", svg("viewBox=\"0 0 30 40 50\""), std::nullopt},
      {"viewBox of zero width", svg("viewBox=\"0 0 0 40\""), std::nullopt},
      {"viewBox negative", svg("viewBox=\"0 0 30 -40\""), std::nullopt},
      {"negative", svg("width=\"-10\" height=\"10\""), std::nullopt},
      {"unknown unit", svg("width=\"10furlong\" height=\"10\""), std::nullopt},
      {"two units", svg("width=\"10pxpx\" height=\"10\""), std::nullopt},
      {"not a number", svg("width=\"wide\" height=\"10\""), std::nullopt},
      {"infinite", svg("width=\"inf\" height=\"10\""), std::nullopt},
      {"not a number literally", svg("width=\"nan\" height=\"10\""), std::nullopt},
      {"beyond double", svg("width=\"1e400\" height=\"10\""), std::nullopt},
      {"rounds to 0", svg("width=\"0.4\" height=\"10\""), std::nullopt},
      {"above 2^31-1", svg("width=\"3e9\" height=\"10\""), std::nullopt},
      {"root is not svg", "<html width=\"3\" height=\"4\"/>", std::nullopt},
      {"svg in another namespace",
       "<svg xmlns=\"http://example.org/not-svg\" width=\"3\" height=\"4\"/>", std::nullopt},
      {"svg inside another root", "<html><svg width=\"3\" height=\"4\"/></html>", std::nullopt},
      {"not XML", "GIF89a\x01\x00\x01\x00", std::nullopt},
      {"broken before the root", "<!-- - -- -->" + svg("width=\"3\" height=\"4\""), std::nullopt},
      {"undeclared prefix", "<x:svg width=\"3\" height=\"4\"/>", std::nullopt},
      {"duplicate attribute", "<svg width=\"3\" width=\"4\" height=\"4\"/>", std::nullopt},
      {"external entity is not fetched",
       "<!DOCTYPE svg [<!ENTITY w SYSTEM \"size.txt\">]><svg width=\"&w;\" height=\"4\"/>",
       std::nullopt},
      {"entity expansion bomb",
       "<!DOCTYPE svg [<!ENTITY a \"1234567890\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d "
       "\"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
       "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f "
       "\"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
       "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h "
       "\"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]>"
       "<svg width=\"&h;\" height=\"4\" viewBox=\"0 0 1 1\"/>",
       std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readSvgSize);
}

}  // namespace
}  // namespace qf
