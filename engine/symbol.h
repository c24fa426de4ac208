#pragma once

#include <array>

namespace qf {

namespace detail {

constexpr std::array<bool, 256> symbolCharTable() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  return table;
}

inline constexpr std::array<bool, 256> kSymbolChars = symbolCharTable();

}  // namespace detail

/// True for the characters that make up symbol names: ASCII letters, digits
/// and '_'. Every byte from 128 up is not a symbol character.
constexpr bool isSymbolChar(char c) { return detail::kSymbolChars[static_cast<unsigned char>(c)]; }

}  // namespace qf
