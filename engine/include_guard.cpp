#include "engine/include_guard.h"

namespace qf {

namespace {

// Texts remembered at most; beyond, all are forgotten and found again as they come.
constexpr std::size_t kMostTexts = 1024;

}  // namespace

const IncludeGuard* IncludeGuards::guardOf(const std::shared_ptr<const std::string>& text,
                                           const Reading& reading, const Finder& find) {
  const auto known = kept_.find(text.get());
  if (known != kept_.end() && known->second.reading == reading && !known->second.text.expired()) {
    return known->second.guard ? &*known->second.guard : nullptr;
  }
  if (known == kept_.end() && kept_.size() >= kMostTexts) kept_.clear();
  Kept& kept = kept_[text.get()];
  kept = Kept{text, reading, find()};
  return kept.guard ? &*kept.guard : nullptr;
}

}  // namespace qf
