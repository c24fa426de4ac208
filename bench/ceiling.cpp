// The ceiling for qfc on the big benchmark file: the least a program must do
// to give the same output. It reads the file in 64 KiB blocks, keeps the
// "#define NAME TEXT" lines in a hash table, scans every other line 64 bytes
// at a time (AVX2 where the processor has it, else SSE2) for words whose first
// byte some name starts with, replaces the defined ones and writes the result.
// It knows only what that file uses (no includes, conditionals, '|' or names
// inside texts), so it is a yardstick, not a compiler. Its classifier is its
// own, not the engine's (engine/word_scan): a yardstick must not share the
// code it measures, or a slowdown there would slow the ceiling along with qfc
// and the ratio would not show it.
//
//   ceiling INPUT OUTPUT
#include <fcntl.h>
#include <immintrin.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kBlock = 64 * 1024;

bool isSymbol(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

class Names {
 public:
  Names() : slots_(1024) {}
  void define(std::string_view name, std::string_view text) {
    Slot& slot = find(name);
    slot.name = std::string(name);
    slot.text = std::string(text);
    first_[static_cast<unsigned char>(name[0])] = true;
    low_ = std::min<unsigned char>(low_, name[0]);
    high_ = std::max<unsigned char>(high_, name[0]);
  }
  const std::string* lookup(std::string_view word) const {
    if (!first_[static_cast<unsigned char>(word[0])]) return nullptr;
    const Slot& slot = const_cast<Names*>(this)->find(word);
    return slot.name.empty() ? nullptr : &slot.text;
  }
  unsigned char low() const { return low_; }
  unsigned char high() const { return high_; }

 private:
  struct Slot {
    std::string name, text;
  };
  Slot& find(std::string_view name) {
    std::uint64_t key = name.size();
    std::memcpy(&key, name.data(), std::min<std::size_t>(name.size(), 7));
    std::size_t i = ((key ^ name.size() << 56) * 0x9E3779B97F4A7C15ull) >> 54;
    while (!slots_[i].name.empty() && slots_[i].name != name) i = (i + 1) % slots_.size();
    return slots_[i];
  }
  std::vector<Slot> slots_;
  bool first_[256] = {};
  unsigned char low_ = 255, high_ = 0;
};

class Output {
 public:
  explicit Output(int fd) : fd_(fd) { buffer_.reserve(kBlock * 2); }
  void put(const char* p, std::size_t n) {
    buffer_.append(p, n);
    if (buffer_.size() >= kBlock) flush();
  }
  void flush() {
    if (::write(fd_, buffer_.data(), buffer_.size()) < 0) std::perror("write");
    buffer_.clear();
  }

 private:
  int fd_;
  std::string buffer_;
};

__attribute__((target("avx2"))) std::uint64_t classifyAvx2(const char* p, unsigned char low,
                                                           unsigned char high,
                                                           std::uint64_t* inRange) {
  std::uint64_t symbols = 0, in = 0;
  for (int k = 0; k < 2; ++k) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
    const __m256i f = _mm256_or_si256(v, _mm256_set1_epi8(0x20));
    const __m256i letter = _mm256_and_si256(_mm256_cmpgt_epi8(f, _mm256_set1_epi8('a' - 1)),
                                            _mm256_cmpgt_epi8(_mm256_set1_epi8('z' + 1), f));
    const __m256i digit = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('0' - 1)),
                                           _mm256_cmpgt_epi8(_mm256_set1_epi8('9' + 1), v));
    const __m256i s = _mm256_or_si256(_mm256_or_si256(letter, digit),
                                      _mm256_cmpeq_epi8(v, _mm256_set1_epi8('_')));
    const __m256i r =
        _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(low - 1))),
                         _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(high + 1)), v));
    symbols |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(s))} << (32 * k);
    in |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(r))} << (32 * k);
  }
  *inRange = in;
  return symbols;
}

std::uint64_t classifySse2(const char* p, unsigned char low, unsigned char high,
                           std::uint64_t* inRange) {
  std::uint64_t symbols = 0, in = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i f = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(f, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(f, _mm_set1_epi8('z' + 1)));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
    const __m128i s =
        _mm_or_si128(_mm_or_si128(letter, digit), _mm_cmpeq_epi8(v, _mm_set1_epi8('_')));
    const __m128i r = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                                    _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
    symbols |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(s))} << (16 * k);
    in |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(r))} << (16 * k);
  }
  *inRange = in;
  return symbols;
}

using Classify = std::uint64_t (*)(const char*, unsigned char, unsigned char, std::uint64_t*);

// line may be read up to 63 bytes past its end: the input buffer has room.
void substituteLine(std::string_view line, const Names& names, Classify classify, Output& out) {
  std::size_t copied = 0;
  std::uint64_t carry = 0;
  for (std::size_t base = 0; base < line.size(); base += 64) {
    std::uint64_t inRange;
    const std::uint64_t symbols = classify(line.data() + base, names.low(), names.high(), &inRange);
    std::uint64_t starts = symbols & ~((symbols << 1) | carry) & inRange;
    carry = symbols >> 63;
    if (line.size() - base < 64) starts &= (std::uint64_t{1} << (line.size() - base)) - 1;
    for (; starts; starts &= starts - 1) {
      const std::size_t start = base + __builtin_ctzll(starts);
      std::size_t end = start + 1;
      while (end < line.size() && isSymbol(line[end])) ++end;
      const std::string* text = names.lookup(line.substr(start, end - start));
      if (!text) continue;
      out.put(line.data() + copied, start - copied);
      out.put(text->data(), text->size());
      copied = end;
    }
  }
  out.put(line.data() + copied, line.size() - copied);
}

void defineLine(std::string_view line, Names& names) {
  if (line.substr(0, 8) != "#define ") return;
  line.remove_prefix(8);
  line.remove_suffix(1);
  const std::size_t space = line.find(' ');
  names.define(line.substr(0, space),
               space == std::string_view::npos ? "" : line.substr(space + 1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ceiling INPUT OUTPUT\n");
    return 2;
  }
  const int in = ::open(argv[1], O_RDONLY);
  const int outFd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (in < 0 || outFd < 0) {
    std::perror("open");
    return 1;
  }
  const Classify classify = __builtin_cpu_supports("avx2") ? classifyAvx2 : classifySse2;
  Names names;
  Output out(outFd);
  std::vector<char> buffer(kBlock + 64);
  std::size_t kept = 0;
  for (;;) {
    const long n = ::read(in, buffer.data() + kept, kBlock - kept);
    if (n < 0) return 1;
    const std::size_t end = kept + static_cast<std::size_t>(n);
    std::size_t begin = 0;
    while (const void* newline = std::memchr(buffer.data() + begin, '\n', end - begin)) {
      const std::size_t length = static_cast<const char*>(newline) - (buffer.data() + begin) + 1;
      const std::string_view line(buffer.data() + begin, length);
      if (line[0] == '#') {
        defineLine(line, names);
      } else {
        substituteLine(line, names, classify, out);
      }
      begin += length;
    }
    kept = end - begin;
    std::memmove(buffer.data(), buffer.data() + begin, kept);
    if (n == 0) break;
  }
  out.flush();
  return ::close(outFd) == 0 ? 0 : 1;
}
