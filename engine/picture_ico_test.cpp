#include "engine/picture_ico.h"

#include <string>
#include <vector>

#include "engine/picture_test_cases.h"

namespace qf {
namespace {

using Bytes = std::string;

struct Entry {
  unsigned width, height;  // as stored: 0 means 256
};

Bytes directory(const std::vector<Entry>& entries, unsigned type = 1,
                std::size_t count = SIZE_MAX) {
  Bytes bytes = Bytes(2, '\0') + littleEndianBytes(type, 2) +
                littleEndianBytes(count == SIZE_MAX ? entries.size() : count, 2);
  for (const Entry& e : entries) {
    bytes += static_cast<char>(e.width);
    bytes += static_cast<char>(e.height);
    bytes += Bytes("\x00\x00\x01\x00\x20\x00", 6) + littleEndianBytes(40, 4) +
             littleEndianBytes(6 + 16 * entries.size(), 4);
  }
  return bytes;
}

TEST(IcoSize, TakesTheLargestEntry) {
  const SizeCase cases[] = {
      {"one", directory({{16, 16}}), PictureSize{16, 16}},
      {"largest last", directory({{16, 16}, {32, 32}, {48, 48}}), PictureSize{48, 48}},
      {"largest first", directory({{48, 48}, {16, 16}}), PictureSize{48, 48}},
      {"0 means 256", directory({{48, 48}, {0, 0}, {32, 32}}), PictureSize{256, 256}},
      {"by area", directory({{100, 10}, {40, 40}}), PictureSize{40, 40}},
      {"first of equal areas", directory({{64, 16}, {32, 32}}), PictureSize{64, 16}},
      {"not square", directory({{0, 128}}), PictureSize{256, 128}},
      {"cursor", directory({{32, 32}}, 2), PictureSize{32, 32}},
  };
  expectSizes(cases, readIcoSize);
  const Bytes three = directory({{16, 16}, {32, 32}, {48, 48}});
  expectOnlyCompleteHeaders(three, three.size(), readIcoSize, "three entries");
}

TEST(IcoSize, GivesNothingForHostileDirectories) {
  const SizeCase cases[] = {
      {"no entries", directory({}), std::nullopt},
      {"count past the end", directory({{16, 16}}, 1, 2), std::nullopt},
      {"count 0xFFFF", directory({{16, 16}, {32, 32}}, 1, 0xFFFF), std::nullopt},
      {"type 0", directory({{16, 16}}, 0), std::nullopt},
      {"type 3", directory({{16, 16}}, 3), std::nullopt},
      {"reserved not 0", "\x01" + directory({{16, 16}}).substr(1), std::nullopt},
      {"empty", "", std::nullopt},
  };
  expectSizes(cases, readIcoSize);
}

}  // namespace
}  // namespace qf
