#include "engine/substitution.h"

#include <utility>

#include "engine/symbol.h"
#include "engine/word_scan.h"

namespace qf {

namespace {

// Where a pass put definitions' texts into its output: only there, and where
// a text meets the words around it, can the next pass of a text line find
// anything new to replace.
class InsertedTexts {
 public:
  void clear() {
    count_ = 0;
    overflow_ = false;
  }
  void add(std::size_t begin, std::size_t end, const Definition* definition) {
    if (count_ == kMost) {
      overflow_ = true;
      return;
    }
    spans_[count_++] = {begin, end, definition};
  }
  /// True when a text line's next pass over output might replace something.
  bool mayReplaceAgain(std::string_view output, const SymbolContext& context) const;

 private:
  static constexpr std::size_t kMost = 32;
  // Spans are left uninitialised until added: zeroing them per line costs
  // more than the check itself.
  struct Span {
    std::size_t begin;
    std::size_t end;
    const Definition* definition;  // whose text it is
  };
  Span spans_[kMost];
  std::size_t count_ = 0;
  bool overflow_ = false;
};

// Every other word of the output was a whole word of the pass's input too,
// and was not replaced then: in a text line only the definition decides, so
// it is not replaced now either. What remains are the words that touch an
// inserted text. A text with no symbol character on either side of it holds
// just its own words, which the table answers for once per change of the
// table; the words around the other texts are found by one scan from the
// first of them to the last.
bool InsertedTexts::mayReplaceAgain(std::string_view output, const SymbolContext& context) const {
  if (overflow_) return true;
  const DefinitionTable& definitions = context.definitions;
  // Spans widened to the whole words at their ends; they stay in order.
  Span touched[kMost];
  std::size_t open = 0;
  for (std::size_t k = 0; k < count_; ++k) {
    auto [begin, end, definition] = spans_[k];
    const bool closed = (begin == 0 || !isSymbolChar(output[begin - 1])) &&
                        (end == output.size() || !isSymbolChar(output[end]));
    if (closed) {
      if (definitions.textHasDefinedWord(*definition)) return true;
      continue;
    }
    while (begin > 0 && isSymbolChar(output[begin - 1])) --begin;
    while (end < output.size() && isSymbolChar(output[end])) ++end;
    touched[open++] = {begin, end, definition};
  }
  if (open == 0) return false;
  const std::size_t from = touched[0].begin;
  const std::string_view scanned = output.substr(from, touched[open - 1].end - from);
  std::size_t k = 0;
  const bool noneDefined =
      forEachWord(scanned, definitions.startRange(), context.scanPath,
                  [&](std::size_t start, std::size_t wordEnd) {
                    const std::size_t at = from + start;
                    while (touched[k].end <= at) ++k;  // the last span ends after every word start
                    if (at < touched[k].begin) return true;
                    return !definitions.findDefinition(scanned.substr(start, wordEnd - start));
                  });
  return !noneDefined;
}

// One pass over source. The output is written to destination only from the
// first replacement on: a pass that replaces nothing leaves destination
// untouched, since its output would be source plus, perhaps, a line end.
// Between replacements the text is copied in whole stretches. Only the words
// whose first byte some name starts with are looked at; the rest can never
// be replaced. nullopt when destination would pass limit.
std::optional<int> substitute(std::string_view source, std::string& destination,
                              const SymbolContext& context, bool directiveMode, std::size_t limit,
                              InsertedTexts* inserted = nullptr) {
  const char concat = context.concatChar;
  const std::size_t end = source.size();
  std::size_t copied = 0;           // source before this is in destination
  std::size_t droppedConcat = end;  // position of a concat char swallowed by a replacement
  int count = 0;
  const bool finished = forEachWord(
      source, context.definitions.startRange(), context.scanPath,
      [&](std::size_t runStart, std::size_t runEnd) {
        // The concat char right before the run, unless a replacement swallowed it.
        const bool pending =
            runStart > 0 && source[runStart - 1] == concat && droppedConcat != runStart - 1;
        const bool concatAfter = runEnd < end && source[runEnd] == concat;
        if (directiveMode && !(pending && concatAfter)) return true;  // only |NAME| counts there
        const Definition* definition =
            context.definitions.findDefinition({source.data() + runStart, runEnd - runStart});
        if (!definition) return true;
        if (count == 0) destination.clear();
        destination.append(source.data() + copied, runStart - (pending ? 1 : 0) - copied);
        const std::size_t textStart = destination.size();
        destination.append(definition->text);
        if (inserted) inserted->add(textStart, destination.size(), definition);
        if (destination.size() > limit) return false;
        ++count;
        copied = runEnd;
        if (concatAfter) {
          droppedConcat = runEnd;
          copied = runEnd + 1;
        }
        return true;
      });
  if (!finished) return std::nullopt;
  if (count == 0) return 0;
  destination.append(source.substr(copied));
  if (source.empty() || source.back() != '\n') destination += '\n';
  if (destination.size() > limit) return std::nullopt;
  return count;
}

void addLineEnd(std::string& line) {
  if (line.empty() || line.back() != '\n') line += '\n';
}

}  // namespace

bool directiveMayChange(std::string_view text, char concat) {
  const std::size_t first = text.find(concat);
  return first != std::string_view::npos && text.find(concat, first + 1) != std::string_view::npos;
}

std::optional<int> expandPass(std::string_view source, std::string& destination,
                              const SymbolContext& context, bool directiveMode, std::size_t limit) {
  const std::optional<int> count = substitute(source, destination, context, directiveMode, limit);
  if (count == 0) {
    destination.assign(source);
    addLineEnd(destination);
    if (destination.size() > limit) return std::nullopt;
  }
  return count;
}

Expansion expandLine(std::string_view line, std::string& buffer, std::string& scratch,
                     const SymbolContext& context, bool directiveMode, std::string_view* result) {
  const std::size_t limit = line.size() + kMaxLineGrowth;
  InsertedTexts inserted;
  std::string_view source = line;
  // Each cycle's first pass writes scratch and its second pass buffer, which
  // the next cycle reads; line is read only by the very first pass.
  for (int cycle = 0; cycle < 10; ++cycle) {
    inserted.clear();
    const std::optional<int> first =
        directiveMode && !directiveMayChange(source, context.concatChar)
            ? 0
            : substitute(source, scratch, context, directiveMode, limit, &inserted);
    if (!first) return Expansion::kTooLong;
    if (first == 0) {
      // A pass that replaces nothing only adds a missing line end, so the
      // cycle's second pass would replace nothing either.
      if (source.empty() || source.back() != '\n') {
        scratch.assign(source);
        scratch += '\n';
        source = scratch;
      }
      *result = source;
      return Expansion::kSettled;
    }
    if (!directiveMode && !inserted.mayReplaceAgain(scratch, context)) {
      *result = scratch;  // the second pass would replace nothing
      return Expansion::kSettled;
    }
    const std::optional<int> second = substitute(scratch, buffer, context, directiveMode, limit);
    if (!second) return Expansion::kTooLong;
    if (second == 0) {
      *result = scratch;
      return Expansion::kSettled;
    }
    source = buffer;
  }
  *result = buffer;
  return Expansion::kUnsettled;
}

Expansion expandLine(std::string& line, std::string& scratch, const SymbolContext& context,
                     bool directiveMode) {
  std::string_view result;
  const Expansion expansion = expandLine(line, line, scratch, context, directiveMode, &result);
  if (expansion != Expansion::kTooLong && result.data() == scratch.data()) line.swap(scratch);
  return expansion;
}

}  // namespace qf
