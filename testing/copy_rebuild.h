#pragma once

#include <string>

#include "cli/preview_loop.h"

namespace qf {

/// For tests of the preview loop: a rebuild that copies every *.html and
/// *.css file of source to output where the bytes differ, and fails with the
/// lines of source/failures.txt while that file exists.
RebuildResult copyPagesAndStyleSheets(const std::string& source, const std::string& output);

}  // namespace qf
