#pragma once

#include <string>

namespace qf {

/// qfc --init DIR: writes a small starter site into directory (made when
/// missing; an existing one must be empty, else nothing is written) and
/// prints the command that previews it. Returns the exit status.
int writeStarterSite(const std::string& directory);

/// The command that previews the starter site written into directory.
std::string starterPreviewCommand(const std::string& directory);

}  // namespace qf
