#pragma once

#include <functional>
#include <string>

namespace qf {

/// Where a run's warnings go: one line each, without its line end, as they
/// are given. An empty sink drops them.
using WarningSink = std::function<void(const std::string& line)>;

}  // namespace qf
