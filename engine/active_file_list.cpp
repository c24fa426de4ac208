#include "engine/active_file_list.h"

namespace qf {

long& ActiveFileList::pushActiveFile(std::string_view path) {
  entries_.push_back({std::string(path), 0});
  return entries_.back().line;
}

void ActiveFileList::popActiveFile() {
  if (!entries_.empty()) entries_.pop_back();
}

bool ActiveFileList::isActiveFile(std::string_view path) const {
  if (path.empty()) return false;
  for (const IncludeSite& entry : entries_) {
    if (entry.path == path) return true;
  }
  return false;
}

std::vector<IncludeSite> ActiveFileList::includeChain() const {
  if (entries_.empty()) return {};
  return {entries_.rbegin() + 1, entries_.rend()};
}

}  // namespace qf
