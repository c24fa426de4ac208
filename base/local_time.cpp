#include "base/local_time.h"

namespace qf {

std::optional<std::tm> localTime(std::time_t moment) {
  std::tm local{};
  if (!localtime_r(&moment, &local)) return std::nullopt;
  return local;
}

}  // namespace qf
