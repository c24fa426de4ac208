// Turns arbitrary request targets into paths below the served root; a path
// given out must never name "..", hold a backslash or a control byte, or
// start with '/'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "serve/request_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view target(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> relative = qf::requestPathBelowRoot(target);
  if (!relative) return 0;
  if (!relative->empty() && relative->front() == '/') std::abort();
  std::size_t start = 0;
  while (start <= relative->size()) {
    std::size_t end = relative->find('/', start);
    if (end == std::string::npos) end = relative->size();
    const std::string_view name = std::string_view(*relative).substr(start, end - start);
    if (name == ".." || name == ".") std::abort();
    start = end + 1;
  }
  for (char c : *relative) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || byte < 0x20 || byte == 0x7f) std::abort();
  }
  return 0;
}
