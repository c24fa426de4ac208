#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "engine/word_scan.h"

namespace qf {

/// One definition of a symbol. Its name and text are held by the table.
/// `shadowed` is the next older definition of the same name, hidden behind
/// this one; `next` is the newest definition of another name in its bucket.
struct Definition {
  std::string_view name;
  std::string_view text;
  Definition* next = nullptr;
  Definition* shadowed = nullptr;
  // What DefinitionTable::textHasDefinedWord last found, and the table's
  // generation it holds for (0: never asked).
  mutable std::uint64_t wordsCheckedAt = 0;
  mutable bool hasDefinedWord = false;
  bool reportsLookups = false;  // finding it calls the table's lookup report
};

/// Every symbol defined during one compile. A name may be defined any number
/// of times: the newest definition is the one found, and removing it makes the
/// previous one visible again. Names compare byte for byte, case-sensitively.
/// Where a name lands in the table never changes what is found.
///
/// Definitions, names and texts live in one arena that resetDefinitions
/// empties: a Definition pointer (and the views of its name and text) stays
/// valid until its definition is removed or the table is reset. Memory of
/// removed definitions is taken back by the reset, or at once when nothing
/// was added after them.
class DefinitionTable {
 public:
  /// The seed feeds the generator that makes new hash keys at every reset.
  explicit DefinitionTable(std::uint32_t seed = std::random_device{}());
  DefinitionTable(const DefinitionTable&) = delete;
  DefinitionTable& operator=(const DefinitionTable&) = delete;

  /// Adds a definition that hides any older ones of the same name; an empty
  /// name is ignored.
  void addDefinition(std::string_view name, std::string_view text);
  /// The newest definition of name, or null; the empty name has none.
  const Definition* findDefinition(std::string_view name) const {
    const Definition* found = mayBeDefined(name) ? findInChain(name) : nullptr;
    if (found && found->reportsLookups) lookupReport_(*found);
    return found;
  }
  /// Makes finding the newest definition of name (as it is now) call report,
  /// until the table is reset.
  void reportLookupsOf(std::string_view name, std::function<void(const Definition&)> report);
  /// Removes the newest definition of a name, as findDefinition returned it;
  /// the next older one of its name becomes visible. Any other pointer
  /// (null, an older or a removed definition) changes nothing.
  void removeDefinition(const Definition* definition);
  /// Removes every definition and makes new hash keys.
  void resetDefinitions();

  /// True when a word of definition's text, taken alone, is defined. The
  /// answer is kept in the definition until the table next changes.
  bool textHasDefinedWord(const Definition& definition) const;

  /// Holds the first byte of every name that starts with a symbol character
  /// (perhaps more): a word starting outside it is never defined.
  StartRange startRange() const { return startRange_; }

  /// Number of distinct names that have a definition.
  std::size_t nameCount() const { return names_; }
  /// Bytes the table's arena holds for definitions, used or not.
  std::size_t memoryHeld() const { return arena_.capacity(); }

 private:
  // Inline, since most words of a page are turned away here.
  bool mayBeDefined(std::string_view name) const {
    return !name.empty() && namesByFirstByte_[static_cast<unsigned char>(name[0])] != 0 &&
           namesByLength_[lengthSlot(name.size())] != 0;
  }
  static std::size_t lengthSlot(std::size_t length) { return length < 63 ? length : 63; }
  const Definition* findInChain(std::string_view name) const;
  Definition** linkTo(std::string_view name);
  std::size_t bucketOf(std::string_view name) const;
  void growIfCrowded();
  void makeHashKeys();
  void countName(std::string_view name, int change);

  Arena arena_;
  std::uint64_t hashKeys_[2] = {};
  // Distinct names by first byte and by length (64 and up share a slot): a
  // quick answer for the many words of a page that no name could match.
  std::array<std::uint32_t, 256> namesByFirstByte_{};
  std::array<std::uint32_t, 64> namesByLength_{};
  StartRange startRange_;  // widened as names come, narrowed only by a reset
  std::mt19937 random_;
  std::vector<Definition*> buckets_;  // each chain holds the newest definition of each name
  std::size_t names_ = 0;
  std::uint64_t generation_ = 1;  // counts every change of what is defined
  std::function<void(const Definition&)> lookupReport_;
};

}  // namespace qf
