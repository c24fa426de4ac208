#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qf {

/// An included text wrapped whole in one "#ifndef SYMBOL" ... "#endif": while
/// SYMBOL is defined, processing it again does nothing but the symbol lookups
/// of its conditionals (the guard's own first), which may report lookups.
struct IncludeGuard {
  std::string symbol;
  std::vector<std::string> lookups;  // of the conditionals inside, in order
};

/// The lines of a text that define a symbol whatever is defined when they are
/// read: define directives that substitution cannot change. Read outside a
/// false conditional, such a line does nothing but add its definition.
class FixedDefinitions {
 public:
  struct Definition {
    std::string_view name;
    std::string_view text;
    std::size_t end;  // where the next line begins in the text (LineReader::heldOffset())
  };

  /// name is not empty.
  void add(std::size_t lineNumber, std::string_view name, std::string_view text, std::size_t end);
  /// What line lineNumber (from 1) defines, when it is a fixed definition.
  /// Valid while this object lives.
  std::optional<Definition> at(std::size_t lineNumber) const {
    if (lineNumber >= lines_.size() || lines_[lineNumber].nameSize == 0) return std::nullopt;
    const Line& line = lines_[lineNumber];
    const std::string_view bytes = bytes_;
    return Definition{bytes.substr(line.at, line.nameSize),
                      bytes.substr(line.at + line.nameSize, line.textSize), line.end};
  }
  bool empty() const { return lines_.empty(); }

 private:
  struct Line {
    std::uint32_t at = 0;
    std::uint32_t nameSize = 0;  // 0: no fixed definition
    std::uint32_t textSize = 0;
    std::uint32_t end = 0;
  };
  std::vector<Line> lines_;  // by line number
  std::string bytes_;        // the names and texts
};

/// What reading a text held in memory finds (its include guard, its fixed
/// definitions), each found once for a text and a way of reading it while the
/// text lives; a compiler keeps one for its life. It holds no text: one let
/// go by its holders is read again if it comes back.
class TextReadings {
 public:
  /// What shapes the lines and directives of a text.
  struct Reading {
    char directiveChar;
    char concatChar;
    std::size_t lineBufferSize;
    friend bool operator==(const Reading&, const Reading&) = default;
  };

  /// The guard of text read as reading says, as find() gives it the first
  /// time; null when it has none. Valid until the next call.
  const IncludeGuard* guardOf(const std::shared_ptr<const std::string>& text,
                              const Reading& reading,
                              const std::function<std::optional<IncludeGuard>()>& find);
  /// The fixed definitions of text read as reading says, as find() gives them
  /// the first time; null when it has none.
  std::shared_ptr<const FixedDefinitions> fixedDefinitionsOf(
      const std::shared_ptr<const std::string>& text, const Reading& reading,
      const std::function<FixedDefinitions()>& find);

 private:
  struct Kept {
    std::weak_ptr<const std::string> text;  // expired: another text may lie there now
    Reading reading;
    std::optional<std::optional<IncludeGuard>> guard;              // outer nullopt: not looked for
    std::optional<std::shared_ptr<const FixedDefinitions>> fixed;  // likewise
  };
  Kept& keptFor(const std::shared_ptr<const std::string>& text, const Reading& reading);

  std::unordered_map<const std::string*, Kept> kept_;
};

}  // namespace qf
