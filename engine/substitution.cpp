#include "engine/substitution.h"

#include "engine/symbol.h"

namespace qf {

int expandPass(std::string_view source, std::string& destination, const SymbolContext& context,
               bool directiveMode, std::size_t limit) {
  destination.clear();
  const char concat = context.concatChar;
  const std::size_t end = source.size();
  int count = 0;
  bool pending = false;  // the character before the current run is a written concat char
  std::size_t i = 0;
  while (i <= end) {
    const std::size_t runStart = i;
    while (i < end && isSymbolChar(source[i])) ++i;
    bool replaced = false;
    if (i > runStart) {
      const std::string_view run = source.substr(runStart, i - runStart);
      const Definition* definition = context.definitions.findDefinition(run);
      const bool qualifies =
          definition && (!directiveMode || (pending && i < end && source[i] == concat));
      if (qualifies) {
        if (pending && !destination.empty()) destination.pop_back();
        destination.append(definition->text.view());
        if (destination.size() > limit) return kLineTooLong;
        replaced = true;
        ++count;
      } else {
        destination.append(run);
      }
    }
    pending = false;
    if (i == end) break;
    const char c = source[i++];
    if (c == concat) {
      if (!replaced) {
        destination += c;
        pending = true;
      }
      continue;
    }
    destination += c;
    // Copy the stretch up to the next symbol or concat character at once.
    const std::size_t stretch = i;
    while (i < end && !isSymbolChar(source[i]) && source[i] != concat) ++i;
    destination.append(source.substr(stretch, i - stretch));
  }
  if (source.empty() || source.back() != '\n') destination += '\n';
  if (destination.size() > limit) return kLineTooLong;
  return count;
}

Expansion expandLine(std::string& line, std::string& scratch, const SymbolContext& context,
                     bool directiveMode) {
  const std::size_t limit = line.size() + kMaxLineGrowth;
  for (int cycle = 0; cycle < 10; ++cycle) {
    const int first = expandPass(line, scratch, context, directiveMode, limit);
    if (first == kLineTooLong) return Expansion::kTooLong;
    if (first == 0) {
      // A pass that replaces nothing copies its text (adding a line end), so
      // the cycle's second pass would give the same text and replace nothing.
      line.swap(scratch);
      return Expansion::kSettled;
    }
    const int replaced = expandPass(scratch, line, context, directiveMode, limit);
    if (replaced == kLineTooLong) return Expansion::kTooLong;
    if (replaced == 0) return Expansion::kSettled;
  }
  return Expansion::kUnsettled;
}

}  // namespace qf
