#include "base/site_path.h"

namespace qf {

bool isEditorScratchName(std::string_view name) {
  if (name == "4913" || name.ends_with('~') || name.starts_with(".#")) return true;
  if (name.size() > 1 && name.starts_with('#') && name.ends_with('#')) return true;
  for (std::string_view suffix : {".swp", ".swx", ".bck"}) {
    if (name.size() > suffix.size() && name.ends_with(suffix)) return true;
  }
  return false;
}

bool belongsToSite(std::string_view relative) {
  while (!relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string_view name = relative.substr(0, slash);
    if (name.starts_with('.') || isEditorScratchName(name)) return false;
    if (slash == std::string_view::npos) break;
    relative.remove_prefix(slash + 1);
  }
  return true;
}

}  // namespace qf
