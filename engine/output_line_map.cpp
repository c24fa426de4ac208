#include "engine/output_line_map.h"

#include <utility>

namespace qf {

void OutputLineMap::clear() {
  files_.clear();
  lines_.clear();
  lineOpen_ = false;
  afterCarriageReturn_ = false;
}

std::uint32_t OutputLineMap::enterFile(std::string path, std::vector<IncludeSite> includedFrom) {
  files_.push_back({std::move(path), std::move(includedFrom)});
  return static_cast<std::uint32_t>(files_.size() - 1);
}

void OutputLineMap::written(std::uint32_t file, long line, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (afterCarriageReturn_ && text[at] == '\n') ++at;
    afterCarriageReturn_ = false;
    if (at == text.size()) break;
    if (!lineOpen_) lines_.push_back({file, line});
    std::size_t end = at;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    if (end == text.size()) {
      lineOpen_ = true;
      break;
    }
    lineOpen_ = false;
    afterCarriageReturn_ = text[end] == '\r';
    at = end + 1;
  }
}

std::optional<OutputLineMap::Origin> OutputLineMap::originOf(std::size_t outputLine) const {
  if (outputLine == 0 || outputLine > lines_.size()) return std::nullopt;
  const Line& found = lines_[outputLine - 1];
  const File& file = files_[found.file];
  return Origin{file.path, found.line, file.includedFrom};
}

}  // namespace qf
