#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// The longest picker path the settings keep, in bytes.
inline constexpr std::size_t kMaxStoredPathLength = 4095;
/// The longest output extension the settings keep, in bytes.
inline constexpr std::size_t kMaxStoredExtensionLength = 99;

/// A stored integer: optional '-' or '+' and decimal digits that fit a signed
/// 32-bit integer; anything else (blanks, empty, overflow) is refused.
std::optional<std::int32_t> parseStoredInt(std::string_view text);

/// A stored text of at most maxLength bytes, cut at its first NUL; longer
/// texts are refused.
std::optional<std::string> parseStoredString(std::string_view text, std::size_t maxLength);

/// A window's top-left corner or its size, in screen pixels.
struct PixelPair {
  int x = 0;
  int y = 0;
  friend bool operator==(const PixelPair&, const PixelPair&) = default;
};

/// Where a window of windowSize stored at stored goes on a primary screen of
/// screenSize: no more than 8 pixels beyond the left and top edges and no more
/// than half of it beyond the right and bottom edges.
PixelPair clampWindowPosition(PixelPair stored, PixelPair windowSize, PixelPair screenSize);

}  // namespace qf
