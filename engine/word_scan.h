#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/symbol.h"

namespace qf {

/// The ways of classifying bytes in blocks: plain C++ (every processor), SSE2
/// (every x86-64 processor) and AVX2 (where the processor has it).
enum class ScanPath { kPlain, kSse2, kAvx2 };

/// True when this processor (and this build) runs path.
bool canRunScanPath(ScanPath path);

/// The fastest path this processor runs; found once per process.
ScanPath fastestScanPath();

/// The bytes a word must start with to be worth looking up: low to high,
/// both included. Empty (admitting no byte) when low > high.
struct StartRange {
  unsigned char low = 1;
  unsigned char high = 0;

  bool empty() const { return low > high; }
};

/// At most this many bytes go to one markWordStarts call.
inline constexpr std::size_t kScanChunk = 4096;

/// Marks in marks (bit i % 64 of marks[i / 64]) every byte of text that
/// starts a word (a symbol character not preceded by one) and lies in range.
/// The byte before text[0] counts as a symbol character when afterSymbol.
/// text holds at most kScanChunk bytes; marks holds (text.size() + 63) / 64
/// words, and bits past the end of text are clear.
void markWordStarts(std::string_view text, bool afterSymbol, StartRange range, std::uint64_t* marks,
                    ScanPath path);

/// Calls visit(position) for every word start of text that lies in range, in
/// order, until visit returns false. Returns false when visit did.
template <typename Visit>
bool forEachWordStart(std::string_view text, StartRange range, ScanPath path, Visit&& visit) {
  if (range.empty()) return true;
  std::uint64_t marks[kScanChunk / 64];
  for (std::size_t base = 0; base < text.size(); base += kScanChunk) {
    const std::string_view chunk = text.substr(base, kScanChunk);
    markWordStarts(chunk, base > 0 && isSymbolChar(text[base - 1]), range, marks, path);
    const std::size_t words = (chunk.size() + 63) / 64;
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t bits = marks[w]; bits != 0; bits &= bits - 1) {
        if (!visit(base + w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)))) return false;
      }
    }
  }
  return true;
}

}  // namespace qf
