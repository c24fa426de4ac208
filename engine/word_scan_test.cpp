#include "engine/word_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qf {
namespace {

constexpr ScanPath kPaths[] = {ScanPath::kPlain, ScanPath::kSse2, ScanPath::kAvx2};

const char* nameOf(ScanPath path) {
  switch (path) {
    case ScanPath::kPlain:
      return "plain";
    case ScanPath::kSse2:
      return "SSE2";
    case ScanPath::kAvx2:
      return "AVX2";
  }
  return "?";
}

using Words = std::vector<std::pair<std::size_t, std::size_t>>;  // start, end

// The words of text that start in range, byte by byte.
Words referenceWords(std::string_view text, StartRange range) {
  Words words;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool afterSymbol = i > 0 && isSymbolChar(text[i - 1]);
    if (isSymbolChar(text[i]) && !afterSymbol && c >= range.low && c <= range.high) {
      std::size_t end = i;
      while (end < text.size() && isSymbolChar(text[end])) ++end;
      words.emplace_back(i, end);
    }
  }
  return words;
}

Words scannedWords(std::string_view text, StartRange range, ScanPath path) {
  Words words;
  forEachWord(text, range, path, [&](std::size_t start, std::size_t end) {
    words.emplace_back(start, end);
    return true;
  });
  return words;
}

std::vector<ScanPath> runnablePaths() {
  std::vector<ScanPath> paths;
  for (ScanPath path : kPaths) {
    if (canRunScanPath(path)) {
      paths.push_back(path);
    } else {
      std::printf("word scan: this processor has no %s path; it is not tested here\n",
                  nameOf(path));
    }
  }
  return paths;
}

TEST(WordScan, EveryPathFindsTheWordsOfTheReference) {
  const StartRange everything{0, 255};
  struct Case {
    std::string text;
    StartRange range;
  };
  const Case cases[] = {
      {"", everything},
      {"a", everything},
      {"<p>lorem ipsum K02 dolor</p>\n", everything},
      {"<p>lorem ipsum K02 dolor</p>\n", {'A', '_'}},
      {"_x 9y Zz `a@b[c{d/0:9", everything},
      {"_x 9y Zz `a@b[c{d/0:9", {'0', '9'}},
      {"\x80\xff\xc3\xa9word\x7f"
       "a\0b",
       everything},
      {std::string(63, ' ') + "AB" + std::string(64, 'c') + " D", everything},
      {std::string(64, 'x') + "\n" + std::string(127, 'y'), everything},
      {std::string(5000, 'Q'), everything},
      {std::string(4095, ' ') + "AAAA BB", {'A', 'A'}},
      {std::string(4090, ' ') + std::string(10, 'W') + " w", everything},
      {std::string(4032, ' ') + std::string(64, 'y') + " z", everything},
      {std::string(4096, 'x'), everything},
      {std::string(8192, 'x') + "+", everything},
      {"words but an empty range", {1, 0}},
      {"K00 K31 k00", {'K', 'K'}},
  };
  for (ScanPath path : runnablePaths()) {
    for (const Case& c : cases) {
      EXPECT_EQ(scannedWords(c.text, c.range, path), referenceWords(c.text, c.range))
          << nameOf(path) << ": " << c.text.substr(0, 40);
    }
  }
}

TEST(WordScan, EveryPathAgreesOnRandomBytes) {
  const std::string alphabet = "aZ_09 |<>\n\x80\xff/:@[`{";
  std::mt19937 random(7);
  const std::vector<ScanPath> paths = runnablePaths();
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const std::size_t length = random() % (i % 10 == 0 ? 9000 : 200);
    for (std::size_t k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    const auto low = static_cast<unsigned char>(random() % 256);
    const StartRange range{low, static_cast<unsigned char>(low + random() % 80)};
    const Words expected = referenceWords(text, range);
    for (ScanPath path : paths) {
      ASSERT_EQ(scannedWords(text, range, path), expected) << nameOf(path) << ": " << text;
    }
  }
}

TEST(WordScan, MarksOfOneChunkHonourTheByteBefore) {
  for (ScanPath path : runnablePaths()) {
    WordMarks marks;
    markWordStarts("ab cd" + std::string(70, ' '), true, {0, 255}, marks, path);
    EXPECT_EQ(marks.starts[0], 1ull << 3) << nameOf(path);
    EXPECT_EQ(marks.starts[1], 0ull) << nameOf(path);
    EXPECT_EQ(marks.symbols[0], 0x1bull) << nameOf(path);
    markWordStarts("ab cd", false, {0, 255}, marks, path);
    EXPECT_EQ(marks.starts[0], 1ull | 1ull << 3) << nameOf(path);
  }
}

TEST(WordScan, VisitingStopsWhenTheVisitorSaysSo) {
  std::vector<std::size_t> seen;
  const bool finished =
      forEachWord("a b c d", {0, 255}, fastestScanPath(), [&](std::size_t s, std::size_t) {
        seen.push_back(s);
        return s < 2;
      });
  EXPECT_FALSE(finished);
  EXPECT_EQ(seen, (std::vector<std::size_t>{0, 2}));
}

}  // namespace
}  // namespace qf
