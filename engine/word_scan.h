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

/// One chunk of text classified, one bit per byte (bit i % 64 of word i / 64).
struct WordMarks {
  std::uint64_t starts[kScanChunk / 64];   // word starts in the range
  std::uint64_t symbols[kScanChunk / 64];  // symbol characters; clear past the text
};

/// Marks every byte of text that starts a word (a symbol character not
/// preceded by one) and lies in range, and every symbol character. The byte
/// before text[0] counts as a symbol character when afterSymbol. text holds
/// at most kScanChunk bytes; (text.size() + 63) / 64 words of each are set,
/// except that an empty range sets only starts.
void markWordStarts(std::string_view text, bool afterSymbol, StartRange range, WordMarks& marks,
                    ScanPath path);

namespace detail {

// The end of the word that starts at bit bit of word w of a chunk's marks:
// the next byte that is no symbol character.
inline std::size_t wordEnd(std::string_view text, std::size_t base, const WordMarks& marks,
                           std::size_t words, std::size_t w, std::size_t bit) {
  std::uint64_t others = ~marks.symbols[w] & (~std::uint64_t{0} << bit);
  while (others == 0 && ++w < words) others = ~marks.symbols[w];
  if (others != 0) return base + w * 64 + static_cast<std::size_t>(__builtin_ctzll(others));
  // The word runs on past the chunk.
  std::size_t end = base + words * 64;
  while (end < text.size() && isSymbolChar(text[end])) ++end;
  return end;
}

}  // namespace detail

/// Calls visit(start, end) for every word text[start, end) of text whose
/// first byte lies in range, in order, until visit returns false. Returns
/// false when visit did.
template <typename Visit>
bool forEachWord(std::string_view text, StartRange range, ScanPath path, Visit&& visit) {
  if (range.empty()) return true;
  WordMarks marks;
  for (std::size_t base = 0; base < text.size(); base += kScanChunk) {
    const std::string_view chunk = text.substr(base, kScanChunk);
    markWordStarts(chunk, base > 0 && isSymbolChar(text[base - 1]), range, marks, path);
    const std::size_t words = (chunk.size() + 63) / 64;
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t bits = marks.starts[w]; bits != 0; bits &= bits - 1) {
        const auto bit = static_cast<std::size_t>(__builtin_ctzll(bits));
        const std::size_t start = base + w * 64 + bit;
        if (!visit(start, detail::wordEnd(text, base, marks, words, w, bit))) return false;
      }
    }
  }
  return true;
}

}  // namespace qf
