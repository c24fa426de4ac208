#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/definition_table.h"
#include "engine/word_scan.h"

namespace qf {

/// How much longer than before substitution a line may become.
inline constexpr std::size_t kMaxLineGrowth = std::size_t{16} * 1024 * 1024;

/// What substitution works with: the definitions, the concatenation
/// character that glues a replaced symbol to the text around it, and the way
/// lines are scanned for words (every path gives the same result).
struct SymbolContext {
  const DefinitionTable& definitions;
  char concatChar = '|';
  ScanPath scanPath = fastestScanPath();
};

/// One pass over source into destination (which is replaced). In text mode
/// every defined symbol is replaced; in directive mode only one written as
/// |NAME|. A line end is added when source does not end with one. Returns the
/// number of symbols replaced, or nullopt as soon as destination would hold
/// more than limit bytes (destination is then incomplete).
std::optional<int> expandPass(std::string_view source, std::string& destination,
                              const SymbolContext& context, bool directiveMode, std::size_t limit);

/// False when a directive-mode pass cannot change text: it replaces only a
/// name with concat on each side, so text needs two of them.
bool directiveMayChange(std::string_view text, char concat);

enum class Expansion {
  kSettled,    // the last pass replaced nothing
  kUnsettled,  // still replacing after the last of the ten cycles
  kTooLong,    // a pass would grow the line by more than kMaxLineGrowth
};

/// Substitutes line in cycles of two passes until a cycle's second pass
/// replaces nothing or ten cycles have run, without copying a line that needs
/// no change: *result is then line itself (when it ends with a line end).
/// Otherwise *result is the whole of buffer or of scratch, which both are
/// overwritten; line may be buffer itself. On kTooLong, *result is not set.
Expansion expandLine(std::string_view line, std::string& buffer, std::string& scratch,
                     const SymbolContext& context, bool directiveMode, std::string_view* result);

/// Substitutes line in place, in cycles of two passes (scratch holds the
/// middle result), until a cycle's second pass replaces nothing or ten cycles
/// have run. On kTooLong, line is left incomplete.
Expansion expandLine(std::string& line, std::string& scratch, const SymbolContext& context,
                     bool directiveMode);

}  // namespace qf
