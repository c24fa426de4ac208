#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/compiler.h"
#include "engine/word_scan.h"

namespace qf {

/// The choices that make up a random case: taken from fuzz input bytes (0
/// once they run out) or from a seeded generator.
class Draws {
 public:
  explicit Draws(std::string_view bytes) : bytes_(bytes) {}
  explicit Draws(std::uint32_t seed) : random_(std::mt19937(seed)) {}

  /// A number below bound; 0 when bound is 0.
  std::size_t below(std::size_t bound);
  /// True percent times in a hundred.
  bool chance(unsigned percent) { return below(100) < percent; }
  /// One of the items.
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  std::string_view bytes_;
  std::optional<std::mt19937> random_;
};

/// How the compile engine gets and scans the input of one compile.
struct FastVariant {
  bool fromSource = false;   // served through a ByteSource rather than opened
  std::size_t readSize = 0;  // the most one read gives; 0: all at once
  bool sizeKnown = true;     // whether the source tells its size
  std::size_t lineBufferSize = kLineBufferSize;
  ScanPath scanPath = ScanPath::kPlain;
};

/// A source tree and one compile of it, written below a directory.
struct DifferentialCase {
  std::vector<std::pair<std::string, std::string>> files{};  // relative path, bytes
  std::string input = "site/index.src";                      // relative
  std::string includeDirectory{};                            // relative, "" or ending in '/'
  char directiveChar = 0;
  char concatChar = 0;
  std::vector<std::pair<std::string, std::string>> definitions{};
  std::time_t time = 0;
  std::vector<FastVariant> variants{};
};

/// A random case. Fuzz input may give the sources: its first byte counts the
/// choice bytes that follow; the bytes after them are the input file, then
/// files of the tree, each after a line "@@@@ NAME" (NAME relative to the
/// input's directory). Names the sources use but the input does not give
/// are drawn, like every file when no sources are given.
DifferentialCase drawCase(Draws& draws);
DifferentialCase drawCase(std::string_view fuzzInput);

/// Writes the case's files below directory (which ends in '/'), compiles the
/// input with the reference engine and with compiler in each variant, and
/// describes the first difference of output bytes or result; "" when they
/// all agree, or when the case substitutes so much (lines growing by
/// megabytes) that it would take seconds.
std::string compareEngines(const DifferentialCase& diffCase, const std::string& directory,
                           Compiler& compiler);

}  // namespace qf
