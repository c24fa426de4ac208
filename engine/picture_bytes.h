#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qf {

// Integers inside picture headers. Each reads count bytes at offset; the
// caller has checked that offset + count <= bytes.size().

inline std::uint32_t byteAt(std::string_view bytes, std::size_t offset) {
  return static_cast<unsigned char>(bytes[offset]);
}

inline std::uint32_t bigEndian(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | byteAt(bytes, offset + i);
  return value;
}

inline std::uint32_t littleEndian(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = count; i > 0; --i) value = (value << 8) | byteAt(bytes, offset + i - 1);
  return value;
}

/// True when bytes holds text at offset.
inline bool hasAt(std::string_view bytes, std::size_t offset, std::string_view text) {
  return bytes.size() >= offset && bytes.substr(offset, text.size()) == text;
}

}  // namespace qf
