#include "ui/setting_values.h"

#include <gtest/gtest.h>

#include <string>

namespace qf {
namespace {

struct IntCase {
  std::string_view text;
  std::optional<std::int32_t> value;
};

const IntCase kIntCases[] = {
    {"0", 0},
    {"7", 7},
    {"-500", -500},
    {"+12", 12},
    {"007", 7},
    {"2147483647", 2147483647},
    {"-2147483648", -2147483647 - 1},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"", std::nullopt},
    {"-", std::nullopt},
    {"+", std::nullopt},
    {"+-1", std::nullopt},
    {"++1", std::nullopt},
    {" 1", std::nullopt},
    {"1 ", std::nullopt},
    {"1x", std::nullopt},
    {"0x10", std::nullopt},
    {"1.5", std::nullopt},
    {"true", std::nullopt},
    {std::string_view("1\0"
                      "2",
                      3),
     std::nullopt},
};

TEST(StoredInt, AcceptsOnlyDecimal32BitIntegers) {
  for (const IntCase& c : kIntCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parseStoredInt(c.text), c.value);
  }
}

struct StringCase {
  std::string text;
  std::size_t maxLength;
  std::optional<std::string> value;
};

const std::string k99(99, 'x');
const std::string k100(100, 'x');
const std::string kLongPath = "/" + std::string(kMaxStoredPathLength - 1, 'p');

const StringCase kStringCases[] = {
    {"", 99, ""},
    {".htm", 99, ".htm"},
    {k99, kMaxStoredExtensionLength, k99},
    {k100, kMaxStoredExtensionLength, std::nullopt},
    {kLongPath, kMaxStoredPathLength, kLongPath},
    {kLongPath + "/", kMaxStoredPathLength, std::nullopt},
    {std::string("ab\0cd", 5), 99, "ab"},
    {std::string("ab\0cd", 5), 4, std::nullopt},
};

TEST(StoredString, KeepsTextsWithinTheirLimit) {
  for (const StringCase& c : kStringCases) {
    SCOPED_TRACE(c.text.substr(0, 20) + " / " + std::to_string(c.maxLength));
    EXPECT_EQ(parseStoredString(c.text, c.maxLength), c.value);
  }
}

struct ClampCase {
  PixelPair stored;
  PixelPair window;
  PixelPair screen;
  PixelPair expected;
};

const ClampCase kClampCases[] = {
    {{-500, -20}, {400, 300}, {1024, 768}, {-8, -8}},
    {{5000, 10}, {400, 300}, {1024, 768}, {824, 10}},
    {{824, 10}, {400, 300}, {1024, 768}, {824, 10}},
    {{823, 10}, {400, 300}, {1024, 768}, {823, 10}},
    {{10, 5000}, {400, 300}, {1024, 768}, {10, 618}},
    {{-8, -7}, {400, 300}, {1024, 768}, {-8, -7}},
    {{100, 100}, {401, 301}, {1024, 768}, {100, 100}},
    {{900, 700}, {401, 301}, {1024, 768}, {824, 618}},
    {{-2147483647 - 1, 2147483647}, {-2147483647 - 1, 2147483647}, {1024, 768}, {-8, -1073741055}},
};

TEST(WindowPlacement, ClampsToThePrimaryScreen) {
  for (const ClampCase& c : kClampCases) {
    SCOPED_TRACE(std::to_string(c.stored.x) + "," + std::to_string(c.stored.y));
    EXPECT_EQ(clampWindowPosition(c.stored, c.window, c.screen), c.expected);
  }
}

}  // namespace
}  // namespace qf
