#include "engine/definition_table.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "engine/symbol.h"

namespace qf {

namespace {

constexpr std::size_t kInitialBuckets = 256;

// Up to eight bytes of a name as one number; longer names are read in
// eight-byte words. Two overlapping loads cover four to eight bytes.
std::uint64_t loadShort(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    return head | std::uint64_t{tail} << 32;
  }
  if (n == 0) return 0;
  const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
}

// Names of up to eight bytes compare as the numbers loadShort makes of them,
// which cover every byte of names of the same length.
bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() <= 8) return loadShort(a.data(), a.size()) == loadShort(b.data(), b.size());
  return std::memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

DefinitionTable::DefinitionTable(std::uint32_t seed) : random_(seed), buckets_(kInitialBuckets) {
  makeHashKeys();
}

// A multiplicative hash under keys drawn at every reset, so that no text can
// choose names that crowd one bucket. Always inlined: every word that passes
// mayBeDefined is hashed.
__attribute__((always_inline)) inline std::size_t DefinitionTable::bucketOf(
    std::string_view name) const {
  const char* p = name.data();
  std::size_t n = name.size();
  std::uint64_t h = hashKeys_[0] ^ n;
  for (; n > 8; n -= 8, p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * hashKeys_[1];
    h ^= h >> 29;
  }
  h = (h ^ loadShort(p, n)) * hashKeys_[1];
  h ^= h >> 32;
  return h & (buckets_.size() - 1);
}

void DefinitionTable::countName(std::string_view name, int change) {
  const auto first = static_cast<unsigned char>(name[0]);
  namesByFirstByte_[first] += change;
  namesByLength_[lengthSlot(name.size())] += change;
  if (change > 0 && isSymbolChar(name[0])) {
    if (startRange_.empty()) startRange_ = {first, first};
    startRange_.low = std::min(startRange_.low, first);
    startRange_.high = std::max(startRange_.high, first);
  }
}

const Definition* DefinitionTable::findInChain(std::string_view name) const {
  for (const Definition* d = buckets_[bucketOf(name)]; d; d = d->next) {
    if (sameName(d->name, name)) return d;
  }
  return nullptr;
}

// The link that points at name's newest definition, or the null link at the
// end of its bucket's chain.
Definition** DefinitionTable::linkTo(std::string_view name) {
  Definition** link = &buckets_[bucketOf(name)];
  while (*link && !sameName((*link)->name, name)) link = &(*link)->next;
  return link;
}

void DefinitionTable::reportLookupsOf(std::string_view name,
                                      std::function<void(const Definition&)> report) {
  Definition* definition = *linkTo(name);
  if (!definition) return;
  definition->reportsLookups = true;
  lookupReport_ = std::move(report);
}

// The definition, its name and its text share one allocation.
void DefinitionTable::addDefinition(std::string_view name, std::string_view text) {
  if (name.empty()) return;  // never found, so never worth keeping
  char* memory =
      static_cast<char*>(arena_.allocate(sizeof(Definition) + name.size() + text.size()));
  char* bytes = memory + sizeof(Definition);
  std::memcpy(bytes, name.data(), name.size());
  if (!text.empty()) std::memcpy(bytes + name.size(), text.data(), text.size());
  auto* definition = new (memory) Definition{std::string_view(bytes, name.size()),
                                             std::string_view(bytes + name.size(), text.size())};
  ++generation_;
  Definition** link = linkTo(name);
  if (Definition* older = *link) {
    definition->next = older->next;
    definition->shadowed = older;
    *link = definition;
    return;
  }
  *link = definition;
  ++names_;
  countName(name, 1);
  growIfCrowded();
}

bool DefinitionTable::textHasDefinedWord(const Definition& definition) const {
  if (definition.wordsCheckedAt != generation_) {
    const std::string_view text = definition.text;
    definition.hasDefinedWord =
        !forEachWord(text, startRange_, fastestScanPath(), [&](std::size_t start, std::size_t end) {
          return !findDefinition(text.substr(start, end - start));
        });
    definition.wordsCheckedAt = generation_;
  }
  return definition.hasDefinedWord;
}

void DefinitionTable::removeDefinition(const Definition* definition) {
  if (!definition) return;
  Definition** link = linkTo(definition->name);
  if (*link != definition) return;
  ++generation_;
  if (Definition* older = definition->shadowed) {
    older->next = definition->next;
    *link = older;
  } else {
    *link = definition->next;
    --names_;
    countName(definition->name, -1);
  }
  // A name defined and removed again, over and over, reuses one place.
  arena_.releaseLatest(const_cast<Definition*>(definition),
                       sizeof(Definition) + definition->name.size() + definition->text.size());
}

void DefinitionTable::resetDefinitions() {
  // A compile that defined many names leaves many buckets; the next one starts small again.
  if (buckets_.size() > kInitialBuckets) {
    std::vector<Definition*>(kInitialBuckets).swap(buckets_);
  } else {
    std::fill(buckets_.begin(), buckets_.end(), nullptr);
  }
  arena_.reset();
  names_ = 0;
  namesByFirstByte_.fill(0);
  namesByLength_.fill(0);
  startRange_ = {};
  ++generation_;
  makeHashKeys();
}

void DefinitionTable::makeHashKeys() {
  for (std::uint64_t& key : hashKeys_) key = std::uint64_t{random_()} << 32 | random_();
  hashKeys_[1] |= 1;  // an odd multiplier loses no bits
}

// Doubles the buckets when chains grow long on average, so lookups stay short
// however many names a compile defines.
void DefinitionTable::growIfCrowded() {
  if (names_ <= 2 * buckets_.size()) return;
  std::vector<Definition*> old(buckets_.size() * 2, nullptr);
  std::swap(old, buckets_);
  for (Definition* node : old) {
    while (node) {
      Definition* next = node->next;
      Definition*& head = buckets_[bucketOf(node->name)];
      node->next = head;
      head = node;
      node = next;
    }
  }
}

}  // namespace qf
