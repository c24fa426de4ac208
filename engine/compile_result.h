#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace qf {

/// A file being processed and the line it is at.
struct IncludeSite {
  std::string path;
  long line = 0;
};

/// The outcome of one compile.
struct CompileResult {
  bool ok = false;
  Text message;        // "Success: File compiled." or an "Error: ..." text
  Text errorFileName;  // "None" before the input is known
  long errorLine = 0;  // 0 when no line applies
  /// The files that included the error's file, innermost first, each at its
  /// #include line; empty when the error is in the input or has no line.
  std::vector<IncludeSite> includedFrom{};
};

/// A failure as compilers report it: the include chain, if any, then
/// "file:line: message", each line ending in '\n'.
std::string formatFailure(const CompileResult& result);

/// True for a line of formatFailure's include chain.
bool isIncludeChainLine(std::string_view line);

}  // namespace qf
