#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qf {

/// text with every "%XX" escape (two hex digits, either case) replaced by its
/// byte; nullopt when a '%' starts no such escape.
std::optional<std::string> percentDecoded(std::string_view text);

}  // namespace qf
