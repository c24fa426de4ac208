#include "ui/setting_values.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace qf {

namespace {

constexpr long long kMinEdge = -8;

// Computed in 64 bits because stored sizes come from outside and may be
// anything a 32-bit integer holds.
int clampEdge(int stored, int window, int screen) {
  long long edge = std::max<long long>(stored, kMinEdge);
  const long long limit = static_cast<long long>(screen) - window / 2;
  if (edge >= limit) edge = limit;
  return static_cast<int>(std::clamp<long long>(edge, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

}  // namespace

std::optional<std::int32_t> parseStoredInt(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  }
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<std::string> parseStoredString(std::string_view text, std::size_t maxLength) {
  if (text.size() > maxLength) return std::nullopt;
  return std::string(text.substr(0, text.find('\0')));
}

PixelPair clampWindowPosition(PixelPair stored, PixelPair windowSize, PixelPair screenSize) {
  return {clampEdge(stored.x, windowSize.x, screenSize.x),
          clampEdge(stored.y, windowSize.y, screenSize.y)};
}

}  // namespace qf
