#pragma once

#include <string_view>

namespace qf {

/// True for names that editors give their swap, backup, lock and probe
/// files: "*~", "#*#", ".#*", "*.swp", "*.swx", "*.bck" and "4913".
bool isEditorScratchName(std::string_view name);

/// True when relative, a '/'-separated path below a site's top directory,
/// belongs to the site: no name in it starts with '.' and none is an
/// editor's scratch name. Only such paths are mirrored and served. Empty
/// names (doubled or trailing slashes) pass.
bool belongsToSite(std::string_view relative);

}  // namespace qf
