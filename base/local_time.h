#pragma once

#include <ctime>
#include <optional>

namespace qf {

/// Local time of the given moment, in the process's time zone; nullopt when
/// its year does not fit.
std::optional<std::tm> localTime(std::time_t moment);

}  // namespace qf
