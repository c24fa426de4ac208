#pragma once

#include <string>

namespace qf {

/// The closing summary line ("Compiled ...") that `qfc` (the program's path)
/// with arguments (one shell text) shows on a terminal, run in directory
/// under script(1); the whole output when it shows none.
std::string terminalSummaryOf(const std::string& qfc, const std::string& arguments,
                              const std::string& directory);

}  // namespace qf
