#pragma once

// Shared by the picture readers' tests: tables of byte strings and the sizes
// read from them.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "engine/picture_size.h"

namespace qf {

inline std::ostream& operator<<(std::ostream& out, const PictureSize& size) {
  return out << size.width << "x" << size.height;
}

using SizeReader = std::optional<PictureSize> (*)(std::string_view);

struct SizeCase {
  const char* what;
  std::string bytes;
  std::optional<PictureSize> expected;
};

inline void expectSizes(std::span<const SizeCase> cases, SizeReader read) {
  for (const SizeCase& c : cases) EXPECT_EQ(read(c.bytes), c.expected) << c.what;
}

/// Checks that every prefix of bytes shorter than complete gives no size,
/// while complete bytes give what all of them give.
inline void expectOnlyCompleteHeaders(std::string_view bytes, std::size_t complete, SizeReader read,
                                      const char* what) {
  for (std::size_t length = 0; length < complete; ++length) {
    EXPECT_EQ(read(bytes.substr(0, length)), std::nullopt) << what << " cut to " << length;
  }
  EXPECT_NE(read(bytes), std::nullopt) << what;
  EXPECT_EQ(read(bytes.substr(0, complete)), read(bytes)) << what;
}

/// The bytes of a little- or big-endian number of count bytes.
inline std::string littleEndianBytes(std::uint64_t value, std::size_t count) {
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

inline std::string bigEndianBytes(std::uint64_t value, std::size_t count) {
  std::string bytes;
  for (std::size_t i = count; i > 0; --i)
    bytes += static_cast<char>((value >> (8 * (i - 1))) & 0xFF);
  return bytes;
}

}  // namespace qf
