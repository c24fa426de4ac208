#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/definition_table.h"

namespace qf {

/// True when a and b are equal with ASCII letters compared regardless of case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

/// bytes in mebibytes with two decimals, exact ties rounded up, always with
/// '.' as the decimal mark: 131072 gives "0.13".
std::string formatMegabytes(std::uint64_t bytes);

/// Adds _FILENAME_, _FILETITLE_, _FILEW_, _FILEH_, _FILEB_, _FILEK_ and
/// _FILEM_, in that order, describing the file at foundPath; nameAsWritten
/// gives the first two. Width and height come from the picture header that
/// foundPath's extension names (ignoring case: gif; jpg, jpeg, jfif; png,
/// apng; webp; avif, heic, heif; svg; bmp; ico, cur), read through a bounded
/// prefix of the file, and stay empty for other files and broken headers. A
/// file that is not a regular file or cannot be opened gets all seven defined
/// as empty. Never fails.
void defineFileInfo(DefinitionTable& table, std::string_view foundPath,
                    std::string_view nameAsWritten);

}  // namespace qf
