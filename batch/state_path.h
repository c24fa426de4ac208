#pragma once

#include <string>

namespace qf {

/// Where the state of a run over sourceDirectory (an absolute path) lives:
/// cacheHome (XDG_CACHE_HOME when absolute, else home + "/.cache") +
/// "/quillforge/" + a name made from the path. Empty when neither is set.
std::string defaultStatePath(const std::string& sourceDirectory, const std::string& cacheHome,
                             const std::string& home);

}  // namespace qf
