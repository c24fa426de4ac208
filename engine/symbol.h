#pragma once

namespace qf {

/// True for the characters that make up symbol names: ASCII letters, digits
/// and '_'. Every byte from 128 up is not a symbol character.
constexpr bool isSymbolChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace qf
