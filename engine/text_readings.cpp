#include "engine/text_readings.h"

namespace qf {

namespace {

// Texts remembered at most; beyond, all are forgotten and read again as they come.
constexpr std::size_t kMostTexts = 1024;

}  // namespace

void FixedDefinitions::add(std::size_t lineNumber, std::string_view name, std::string_view text,
                           std::size_t end) {
  if (lines_.size() <= lineNumber) lines_.resize(lineNumber + 1);
  lines_[lineNumber] =
      Line{static_cast<std::uint32_t>(bytes_.size()), static_cast<std::uint32_t>(name.size()),
           static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(end)};
  bytes_.append(name).append(text);
}

TextReadings::Kept& TextReadings::keptFor(const std::shared_ptr<const std::string>& text,
                                          const Reading& reading) {
  const auto known = kept_.find(text.get());
  if (known != kept_.end() && known->second.reading == reading && !known->second.text.expired()) {
    return known->second;
  }
  if (known == kept_.end() && kept_.size() >= kMostTexts) kept_.clear();
  Kept& kept = kept_[text.get()];
  kept = Kept{text, reading, std::nullopt, std::nullopt};
  return kept;
}

const IncludeGuard* TextReadings::guardOf(
    const std::shared_ptr<const std::string>& text, const Reading& reading,
    const std::function<std::optional<IncludeGuard>()>& find) {
  Kept& kept = keptFor(text, reading);
  if (!kept.guard) kept.guard = find();
  return *kept.guard ? &**kept.guard : nullptr;
}

std::shared_ptr<const FixedDefinitions> TextReadings::fixedDefinitionsOf(
    const std::shared_ptr<const std::string>& text, const Reading& reading,
    const std::function<FixedDefinitions()>& find) {
  Kept& kept = keptFor(text, reading);
  if (!kept.fixed) {
    FixedDefinitions found = find();
    kept.fixed =
        found.empty() ? nullptr : std::make_shared<const FixedDefinitions>(std::move(found));
  }
  return *kept.fixed;
}

}  // namespace qf
