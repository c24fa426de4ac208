#include "engine/substitution.h"

#include "engine/symbol.h"

namespace qf {

namespace {

// One pass over source. The output is written to destination only from the
// first replacement on: a pass that replaces nothing leaves destination
// untouched, since its output would be source plus, perhaps, a line end.
// Between replacements the text is copied in whole stretches.
int substitute(std::string_view source, std::string& destination, const SymbolContext& context,
               bool directiveMode, std::size_t limit) {
  const char concat = context.concatChar;
  const std::size_t end = source.size();
  std::size_t copied = 0;            // source before this is in destination
  std::size_t droppedConcat = end;   // position of a concat char swallowed by a replacement
  int count = 0;
  std::size_t i = 0;
  while (i < end) {
    if (!isSymbolChar(source[i])) {
      ++i;
      continue;
    }
    const std::size_t runStart = i;
    while (i < end && isSymbolChar(source[i])) ++i;
    const Definition* definition =
        context.definitions.findDefinition(source.substr(runStart, i - runStart));
    if (!definition) continue;
    // The concat char right before the run, unless a replacement swallowed it.
    const bool pending =
        runStart > 0 && source[runStart - 1] == concat && droppedConcat != runStart - 1;
    const bool concatAfter = i < end && source[i] == concat;
    if (directiveMode && !(pending && concatAfter)) continue;
    if (count == 0) destination.clear();
    destination.append(source.substr(copied, runStart - (pending ? 1 : 0) - copied));
    destination.append(definition->text.view());
    if (destination.size() > limit) return kLineTooLong;
    ++count;
    copied = i;
    if (concatAfter) {
      droppedConcat = i;
      copied = ++i;
    }
  }
  if (count == 0) return 0;
  destination.append(source.substr(copied));
  if (source.empty() || source.back() != '\n') destination += '\n';
  if (destination.size() > limit) return kLineTooLong;
  return count;
}

void addLineEnd(std::string& line) {
  if (line.empty() || line.back() != '\n') line += '\n';
}

}  // namespace

int expandPass(std::string_view source, std::string& destination, const SymbolContext& context,
               bool directiveMode, std::size_t limit) {
  const int count = substitute(source, destination, context, directiveMode, limit);
  if (count == 0) {
    destination.assign(source);
    addLineEnd(destination);
    if (destination.size() > limit) return kLineTooLong;
  }
  return count;
}

Expansion expandLine(std::string& line, std::string& scratch, const SymbolContext& context,
                     bool directiveMode) {
  const std::size_t limit = line.size() + kMaxLineGrowth;
  for (int cycle = 0; cycle < 10; ++cycle) {
    const int first = substitute(line, scratch, context, directiveMode, limit);
    if (first == kLineTooLong) return Expansion::kTooLong;
    if (first == 0) {
      // A pass that replaces nothing only adds a missing line end, so the
      // cycle's second pass would replace nothing either.
      addLineEnd(line);
      return Expansion::kSettled;
    }
    const int second = substitute(scratch, line, context, directiveMode, limit);
    if (second == kLineTooLong) return Expansion::kTooLong;
    if (second == 0) {
      line.swap(scratch);
      return Expansion::kSettled;
    }
  }
  return Expansion::kUnsettled;
}

}  // namespace qf
