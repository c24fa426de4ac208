#include "engine/substitution.h"

#include <array>
#include <utility>

#include "engine/symbol.h"

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
  void add(std::size_t begin, std::size_t end) {
    if (count_ == kMost) {
      overflow_ = true;
      return;
    }
    spans_[count_++] = {begin, end};
  }
  /// True when a text line's next pass over output might replace something.
  bool mayReplaceAgain(std::string_view output, const DefinitionTable& definitions) const;

 private:
  static constexpr std::size_t kMost = 32;
  std::array<std::pair<std::size_t, std::size_t>, kMost> spans_;
  std::size_t count_ = 0;
  bool overflow_ = false;
};

// Every other word of the output was a whole word of the pass's input too,
// and was not replaced then: in a text line only the definition decides, so
// it is not replaced now either. What remains are the words that touch an
// inserted text.
bool InsertedTexts::mayReplaceAgain(std::string_view output,
                                    const DefinitionTable& definitions) const {
  if (overflow_) return true;
  for (std::size_t k = 0; k < count_; ++k) {
    std::size_t begin = spans_[k].first;
    std::size_t end = spans_[k].second;
    while (begin > 0 && isSymbolChar(output[begin - 1])) --begin;
    while (end < output.size() && isSymbolChar(output[end])) ++end;
    for (std::size_t i = begin; i < end;) {
      if (!isSymbolChar(output[i])) {
        ++i;
        continue;
      }
      const std::size_t runStart = i;
      while (i < end && isSymbolChar(output[i])) ++i;
      if (definitions.findDefinition(output.substr(runStart, i - runStart))) return true;
    }
  }
  return false;
}

// One pass over source. The output is written to destination only from the
// first replacement on: a pass that replaces nothing leaves destination
// untouched, since its output would be source plus, perhaps, a line end.
// Between replacements the text is copied in whole stretches.
int substitute(std::string_view source, std::string& destination, const SymbolContext& context,
               bool directiveMode, std::size_t limit, InsertedTexts* inserted = nullptr) {
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
    // The concat char right before the run, unless a replacement swallowed it.
    const bool pending =
        runStart > 0 && source[runStart - 1] == concat && droppedConcat != runStart - 1;
    const bool concatAfter = i < end && source[i] == concat;
    if (directiveMode && !(pending && concatAfter)) continue;  // only |NAME| counts there
    const Definition* definition =
        context.definitions.findDefinition(source.substr(runStart, i - runStart));
    if (!definition) continue;
    if (count == 0) destination.clear();
    destination.append(source.substr(copied, runStart - (pending ? 1 : 0) - copied));
    const std::size_t textStart = destination.size();
    destination.append(definition->text.view());
    if (inserted) inserted->add(textStart, destination.size());
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
  InsertedTexts inserted;
  for (int cycle = 0; cycle < 10; ++cycle) {
    inserted.clear();
    const int first = substitute(line, scratch, context, directiveMode, limit, &inserted);
    if (first == kLineTooLong) return Expansion::kTooLong;
    if (first == 0) {
      // A pass that replaces nothing only adds a missing line end, so the
      // cycle's second pass would replace nothing either.
      addLineEnd(line);
      return Expansion::kSettled;
    }
    if (!directiveMode && !inserted.mayReplaceAgain(scratch, context.definitions)) {
      line.swap(scratch);  // the second pass would replace nothing
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
