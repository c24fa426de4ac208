#include "engine/word_scan.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define QF_SCAN_X86 1
#endif

namespace qf {

namespace {

// Word starts among the symbol characters of one 64-byte block: a symbol
// character whose previous byte (the last of the block before, for bit 0)
// is not one.
inline std::uint64_t wordStarts(std::uint64_t symbols, std::uint64_t& carry) {
  const std::uint64_t starts = symbols & ~((symbols << 1) | carry);
  carry = symbols >> 63;
  return starts;
}

void markPlain(std::string_view text, bool afterSymbol, StartRange range, WordMarks& marks) {
  bool previous = afterSymbol;
  for (std::size_t w = 0; w * 64 < text.size(); ++w) {
    const std::size_t end = std::min(text.size(), w * 64 + 64);
    std::uint64_t starts = 0;
    std::uint64_t symbols = 0;
    for (std::size_t i = w * 64; i < end; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      const bool symbol = isSymbolChar(static_cast<char>(c));
      const std::uint64_t bit = std::uint64_t{1} << (i - w * 64);
      if (symbol && !previous && c >= range.low && c <= range.high) starts |= bit;
      if (symbol) symbols |= bit;
      previous = symbol;
    }
    marks.starts[w] = starts;
    marks.symbols[w] = symbols;
  }
}

#if QF_SCAN_X86

// Symbol characters are '0'-'9', '_' and the letters, which OR 0x20 maps to
// 'a'-'z'. Signed comparisons suffice: bytes from 128 up are negative and
// fall outside every range. low and high are the range's bounds widened by
// one, so that strict comparisons test it.
inline std::uint32_t symbolsSse2(__m128i v, __m128i low, __m128i high, std::uint32_t& inRange) {
  const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
  const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                       _mm_cmplt_epi8(folded, _mm_set1_epi8('z' + 1)));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
  const __m128i underscore = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
  const __m128i symbol = _mm_or_si128(_mm_or_si128(letter, digit), underscore);
  inRange = static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_and_si128(_mm_cmpgt_epi8(v, low), _mm_cmplt_epi8(v, high))));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(symbol));
}

// A text shorter than 64 bytes, in 16-byte pieces that never load past it:
// the last piece is loaded so that it ends where the text ends, and its
// masks are shifted into place. Only a text shorter than 16 bytes is copied
// into a piece of zeros (zero is no symbol character). Both paths use it.
std::uint64_t shortTextSse2(std::string_view text, __m128i low, __m128i high,
                            std::uint64_t& inRange) {
  std::uint64_t symbols = 0;
  inRange = 0;
  for (std::size_t offset = 0; offset < text.size(); offset += 16) {
    std::uint32_t in;
    std::uint32_t symbol;
    if (offset + 16 <= text.size()) {
      const char* p = text.data() + offset;
      symbol = symbolsSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), low, high, in);
    } else if (text.size() >= 16) {
      const std::size_t shift = offset + 16 - text.size();  // bytes of the piece before offset
      const char* p = text.data() + text.size() - 16;
      symbol = symbolsSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), low, high, in);
      symbol >>= shift;
      in >>= shift;
    } else {
      alignas(16) char piece[16] = {};
      std::memcpy(piece, text.data(), text.size());
      symbol = symbolsSse2(_mm_load_si128(reinterpret_cast<const __m128i*>(piece)), low, high, in);
    }
    symbols |= std::uint64_t{symbol} << offset;
    inRange |= std::uint64_t{in} << offset;
  }
  return symbols;
}

// Block readers: block() classifies the 64 bytes at p, shortText() a text
// shorter than 64 bytes; each returns the symbol characters and sets inRange
// to the bytes in the range.
struct Sse2Blocks {
  explicit Sse2Blocks(StartRange range)
      : low(_mm_set1_epi8(static_cast<char>(range.low - 1))),
        high(_mm_set1_epi8(static_cast<char>(range.high + 1))) {}

  std::uint64_t block(const char* p, std::uint64_t& inRange) const {
    std::uint64_t symbols = 0;
    inRange = 0;
    for (int k = 0; k < 4; ++k) {
      std::uint32_t in;
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      symbols |= std::uint64_t{symbolsSse2(v, low, high, in)} << (16 * k);
      inRange |= std::uint64_t{in} << (16 * k);
    }
    return symbols;
  }
  std::uint64_t shortText(std::string_view text, std::uint64_t& inRange) const {
    return shortTextSse2(text, low, high, inRange);
  }

  __m128i low;
  __m128i high;
};

struct Avx2Blocks {
  __attribute__((target("avx2"))) explicit Avx2Blocks(StartRange range)
      : low(_mm256_set1_epi8(static_cast<char>(range.low - 1))),
        high(_mm256_set1_epi8(static_cast<char>(range.high + 1))) {}

  __attribute__((target("avx2"))) std::uint32_t piece(__m256i v, std::uint32_t& inRange) const {
    const __m256i folded = _mm256_or_si256(v, _mm256_set1_epi8(0x20));
    const __m256i letter = _mm256_and_si256(_mm256_cmpgt_epi8(folded, _mm256_set1_epi8('a' - 1)),
                                            _mm256_cmpgt_epi8(_mm256_set1_epi8('z' + 1), folded));
    const __m256i digit = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('0' - 1)),
                                           _mm256_cmpgt_epi8(_mm256_set1_epi8('9' + 1), v));
    const __m256i underscore = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('_'));
    const __m256i symbol = _mm256_or_si256(_mm256_or_si256(letter, digit), underscore);
    inRange = static_cast<std::uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpgt_epi8(v, low), _mm256_cmpgt_epi8(high, v))));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(symbol));
  }

  __attribute__((target("avx2"))) std::uint64_t block(const char* p, std::uint64_t& inRange) const {
    std::uint32_t in0, in1;
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const std::uint64_t symbols = piece(v0, in0) | std::uint64_t{piece(v1, in1)} << 32;
    inRange = in0 | std::uint64_t{in1} << 32;
    return symbols;
  }

  // The bounds' lower halves are the same bounds for 16 bytes.
  __attribute__((target("avx2"))) std::uint64_t shortText(std::string_view text,
                                                          std::uint64_t& inRange) const {
    return shortTextSse2(text, _mm256_castsi256_si128(low), _mm256_castsi256_si128(high), inRange);
  }

  __m256i low;
  __m256i high;
};

// The marks of text, a block at a time through Blocks; inlined into each
// instruction set's function, so that the block reader is inlined too.
template <typename Blocks>
__attribute__((always_inline)) inline void markBlocks(std::string_view text, bool afterSymbol,
                                                      const Blocks& blocks, WordMarks& marks) {
  std::uint64_t carry = afterSymbol ? 1 : 0;
  std::uint64_t inRange;
  const std::size_t whole = text.size() / 64;
  for (std::size_t w = 0; w < whole; ++w) {
    const std::uint64_t symbols = blocks.block(text.data() + w * 64, inRange);
    marks.starts[w] = wordStarts(symbols, carry) & inRange;
    marks.symbols[w] = symbols;
  }
  if (const std::size_t rest = text.size() % 64) {
    // The last 64 bytes of a longer text, shifted to leave the rest's bits.
    std::uint64_t symbols;
    if (whole > 0) {
      symbols = blocks.block(text.data() + text.size() - 64, inRange) >> (64 - rest);
      inRange >>= 64 - rest;
    } else {
      symbols = blocks.shortText(text, inRange);
    }
    marks.starts[whole] = wordStarts(symbols, carry) & inRange;
    marks.symbols[whole] = symbols;
  }
}

void markSse2(std::string_view text, bool afterSymbol, StartRange range, WordMarks& marks) {
  markBlocks(text, afterSymbol, Sse2Blocks(range), marks);
}

__attribute__((target("avx2"))) void markAvx2(std::string_view text, bool afterSymbol,
                                              StartRange range, WordMarks& marks) {
  markBlocks(text, afterSymbol, Avx2Blocks(range), marks);
}

#endif  // QF_SCAN_X86

}  // namespace

bool canRunScanPath(ScanPath path) {
  switch (path) {
    case ScanPath::kPlain:
      return true;
#if QF_SCAN_X86
    case ScanPath::kSse2:
      return true;
    case ScanPath::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    default:
      return false;
#endif
  }
  return false;
}

ScanPath fastestScanPath() {
  static const ScanPath fastest = canRunScanPath(ScanPath::kAvx2)   ? ScanPath::kAvx2
                                  : canRunScanPath(ScanPath::kSse2) ? ScanPath::kSse2
                                                                    : ScanPath::kPlain;
  return fastest;
}

void markWordStarts(std::string_view text, bool afterSymbol, StartRange range, WordMarks& marks,
                    ScanPath path) {
  // The vector paths compare signed bytes; a range reaching 128 or beyond
  // (which no symbol character does) is cut to the symbol characters.
  if (range.high > 'z') range.high = 'z';
  if (range.low < '0') range.low = '0';
  if (range.empty()) {
    std::fill_n(marks.starts, (text.size() + 63) / 64, 0);
    return;
  }
  switch (path) {
#if QF_SCAN_X86
    case ScanPath::kAvx2:
      return markAvx2(text, afterSymbol, range, marks);
    case ScanPath::kSse2:
      return markSse2(text, afterSymbol, range, marks);
#endif
    default:
      return markPlain(text, afterSymbol, range, marks);
  }
}

}  // namespace qf
