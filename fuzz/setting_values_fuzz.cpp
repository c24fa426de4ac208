// Feeds arbitrary stored texts to the settings value parsers and compares
// them with a plain reading of their contracts; the same bytes also give a
// stored window position to clamp.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "ui/setting_values.h"

namespace {

// Optional sign, then one or more decimal digits, within 32 bits.
std::optional<std::int32_t> expectedInt(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

int readInt(const std::uint8_t* bytes) {
  std::int32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

void checkClamp(const std::uint8_t* data) {
  const qf::PixelPair stored{readInt(data), readInt(data + 4)};
  const qf::PixelPair window{readInt(data + 8), readInt(data + 12)};
  const qf::PixelPair screen{readInt(data + 16), readInt(data + 20)};
  const qf::PixelPair placed = qf::clampWindowPosition(stored, window, screen);
  if (qf::clampWindowPosition(placed, window, screen) != placed) std::abort();
  if (placed.x > std::max(stored.x, -8) || placed.y > std::max(stored.y, -8)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (qf::parseStoredInt(text) != expectedInt(text)) std::abort();

  if (size > 0) {
    const std::size_t maxLength = data[0];
    const std::string_view stored = text.substr(1);
    const std::optional<std::string> parsed = qf::parseStoredString(stored, maxLength);
    if (parsed.has_value() != (stored.size() <= maxLength)) std::abort();
    if (parsed && *parsed != stored.substr(0, stored.find('\0'))) std::abort();
  }
  if (size >= 24) checkClamp(data);
  return 0;
}
