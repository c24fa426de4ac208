#include "engine/definition_table.h"

#include <algorithm>
#include <utility>

#include "engine/symbol.h"

namespace qf {

namespace {

constexpr std::size_t kInitialBuckets = 256;

void destroyDefinitionStack(Definition* newest) {
  while (newest) delete std::exchange(newest, newest->shadowed);
}

// Takes node's place in its chain; node ends up unlinked.
void replaceInChain(ListNode* node, ListNode* replacement) {
  replacement->prev = node->prev;
  replacement->next = node->next;
  if (node->prev) node->prev->next = replacement;
  if (node->next) node->next->prev = replacement;
  node->prev = node->next = nullptr;
}

void detachAfter(ListNode& head, void (*destroy)(ListNode*)) {
  if (head.next) {
    head.next->prev = nullptr;
    destroy(std::exchange(head.next, nullptr));
  }
}

void destroyDefinitionChain(ListNode* first) {
  while (first) {
    auto* definition = static_cast<Definition*>(first);
    first = first->next;
    destroyDefinitionStack(definition);
  }
}

}  // namespace

void destroyChain(ListNode* first) {
  while (first) delete std::exchange(first, first->next);
}

void unlink(ListNode* node) {
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  node->prev = node->next = nullptr;
}

DefinitionTable::DefinitionTable(std::uint32_t seed) : random_(seed), buckets_(kInitialBuckets) {
  refillHashKeys();
}

DefinitionTable::~DefinitionTable() {
  for (ListNode& head : buckets_) detachAfter(head, destroyDefinitionChain);
}

std::size_t DefinitionTable::bucketOf(std::string_view name) const {
  std::uint32_t h = 0;
  for (const char c : name) h = (h ^ hashKeys_[static_cast<unsigned char>(c)]) * 0x01000193u;
  h ^= h >> 15;
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

Definition* DefinitionTable::findInChain(std::string_view name) const {
  for (ListNode* node = buckets_[bucketOf(name)].next; node; node = node->next) {
    auto* definition = static_cast<Definition*>(node);
    if (definition->name.equals(name)) return definition;
  }
  return nullptr;
}

void DefinitionTable::addDefinition(std::string_view name, std::string_view text) {
  if (name.empty()) return;  // never found, so never worth keeping
  auto* definition = new Definition;
  definition->name.assign(name);
  definition->text.assign(text);
  if (Definition* older = findDefinition(name)) {
    replaceInChain(older, definition);
    definition->shadowed = older;
    return;
  }
  ListNode& head = buckets_[bucketOf(name)];
  definition->next = head.next;
  definition->prev = &head;
  if (head.next) head.next->prev = definition;
  head.next = definition;
  ++names_;
  countName(name, 1);
  growIfCrowded();
}

void DefinitionTable::removeDefinition(Definition* definition) {
  if (!definition) return;
  if (!definition->prev) {
    // Not in a chain: an older definition somewhere in a name's stack.
    for (Definition* d = findDefinition(definition->name); d; d = d->shadowed) {
      if (d->shadowed == definition) {
        d->shadowed = std::exchange(definition->shadowed, nullptr);
        delete definition;
        return;
      }
    }
    return;
  }
  if (Definition* older = std::exchange(definition->shadowed, nullptr)) {
    replaceInChain(definition, older);
  } else {
    unlink(definition);
    --names_;
    countName(definition->name, -1);
  }
  delete definition;
}

void DefinitionTable::resetDefinitions() {
  for (ListNode& head : buckets_) detachAfter(head, destroyDefinitionChain);
  names_ = 0;
  namesByFirstByte_.fill(0);
  namesByLength_.fill(0);
  startRange_ = {};
  // A compile that defined many names leaves many buckets; the next one starts small again.
  if (buckets_.size() > kInitialBuckets) std::vector<ListNode>(kInitialBuckets).swap(buckets_);
  refillHashKeys();
}

void DefinitionTable::refillHashKeys() {
  for (std::uint32_t& key : hashKeys_) key = static_cast<std::uint32_t>(random_());
}

// Doubles the buckets when chains grow long on average, so lookups stay short
// however many names a compile defines.
void DefinitionTable::growIfCrowded() {
  if (names_ <= 2 * buckets_.size()) return;
  std::vector<ListNode> old(buckets_.size() * 2);
  std::swap(old, buckets_);
  for (ListNode& oldHead : old) {
    ListNode* node = oldHead.next;
    oldHead.next = nullptr;
    while (node) {
      ListNode* next = node->next;
      ListNode& head = buckets_[bucketOf(static_cast<Definition*>(node)->name)];
      node->prev = &head;
      node->next = head.next;
      if (head.next) head.next->prev = node;
      head.next = node;
      node = next;
    }
  }
}

NamedNode* ActiveFileList::pushActiveFile(std::string_view path) {
  auto* entry = new NamedNode;
  entry->name.assign(path);
  entry->prev = tail_;
  tail_->next = entry;
  tail_ = entry;
  ++size_;
  return entry;
}

bool ActiveFileList::isActiveFile(std::string_view path) const {
  if (path.empty()) return false;
  for (const ListNode* node = head_.next; node; node = node->next) {
    if (static_cast<const NamedNode*>(node)->name.equals(path)) return true;
  }
  return false;
}

void ActiveFileList::removeActiveFile(NamedNode* entry) {
  if (!entry) return;
  if (tail_ == entry) tail_ = entry->prev;
  unlink(entry);
  delete entry;
  --size_;
}

void ActiveFileList::clearActiveFiles() {
  detachAfter(head_, destroyChain);
  tail_ = &head_;
  size_ = 0;
}

}  // namespace qf
