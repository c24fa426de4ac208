#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

/// The include guards of texts held in memory, each found once for a text and
/// a way of reading it while the text lives; a compiler keeps one for its
/// life. It holds no text: one let go by its holders is found again if it
/// comes back.
class IncludeGuards {
 public:
  /// What shapes the lines and directives of a text.
  struct Reading {
    char directiveChar;
    char concatChar;
    std::size_t lineBufferSize;
    friend bool operator==(const Reading&, const Reading&) = default;
  };
  using Finder = std::function<std::optional<IncludeGuard>()>;

  /// The guard of text read as reading says, as find() gives it the first
  /// time; null when it has none.
  const IncludeGuard* guardOf(const std::shared_ptr<const std::string>& text,
                              const Reading& reading, const Finder& find);

 private:
  struct Kept {
    std::weak_ptr<const std::string> text;  // expired: another text may lie there now
    Reading reading;
    std::optional<IncludeGuard> guard;
  };
  std::unordered_map<const std::string*, Kept> kept_;
};

}  // namespace qf
