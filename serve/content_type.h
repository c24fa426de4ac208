#pragma once

#include <string_view>

namespace qf {

/// The Content-Type for a file, judged by its name's extension (any case);
/// "application/octet-stream" for names the server does not know.
std::string_view contentTypeFor(std::string_view fileName);

/// True for the type that contentTypeFor gives HTML pages.
bool isHtmlType(std::string_view contentType);

}  // namespace qf
