// Substitutes one line against definitions chosen by the input.
// Layout: a flag byte (bit 0: directive mode, bit 1: '^' as the concat char,
// bit 2: the line has a line end), then lines "NAME TEXT" defining symbols,
// and last the line to substitute.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/definition_table.h"
#include "engine/substitution.h"
#include "engine/symbol.h"

namespace {

constexpr std::size_t kMaxDefinitions = 64;

bool namesDefinedSymbol(std::string_view line, const qf::DefinitionTable& table) {
  std::size_t i = 0;
  while (i < line.size()) {
    const std::size_t start = i;
    while (i < line.size() && qf::isSymbolChar(line[i])) ++i;
    if (i > start && table.findDefinition(line.substr(start, i - start))) return true;
    if (i == start) ++i;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  qf::DefinitionTable table(1);
  std::size_t longestText = 0;
  for (std::size_t count = 0; count < kMaxDefinitions; ++count) {
    const std::size_t lineEnd = rest.find('\n');
    if (lineEnd == std::string_view::npos) break;
    const std::string_view entry = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd + 1);
    const std::size_t space = entry.find(' ');
    const std::string_view name = entry.substr(0, space);
    const std::string_view text = space == std::string_view::npos ? "" : entry.substr(space + 1);
    table.addDefinition(name, text);
    if (text.size() > longestText) longestText = text.size();
  }

  std::string line(rest);
  if (flags & 4) line += '\n';
  const std::string original = line;
  std::string scratch;
  const qf::SymbolContext context{table, (flags & 2) ? '^' : '|'};
  const qf::Expansion outcome = qf::expandLine(line, scratch, context, flags & 1);

  const std::size_t limit = original.size() + qf::kMaxLineGrowth;
  if (outcome != qf::Expansion::kTooLong && line.size() > limit) std::abort();
  // A pass stops soon after passing the limit: at most a source's worth of
  // plain bytes and one definition's text beyond it.
  if (line.size() > 2 * limit + longestText + 1) std::abort();
  if (!namesDefinedSymbol(original, table)) {
    std::string expected = original;
    if (expected.empty() || expected.back() != '\n') expected += '\n';
    if (outcome != qf::Expansion::kSettled || line != expected) std::abort();
  }
  return 0;
}
