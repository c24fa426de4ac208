#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// A file being processed and the line it is at.
struct IncludeSite {
  std::string path;
  long line = 0;
};

/// The outcome of one compile.
struct CompileResult {
  bool ok = false;
  std::string message;        // "Success: File compiled." or an "Error: ..." text
  std::string errorFileName;  // "None" before the input is known
  long errorLine = 0;         // 0 when no line applies
  /// The files that included the error's file, innermost first, each at its
  /// #include line; empty when the error is in the input or has no line.
  std::vector<IncludeSite> includedFrom{};
  /// A hint about the error (e.g. the directive a misspelt one may mean),
  /// "" for none.
  std::string note{};
};

/// A failure as compilers report it: the include chain, if any, then
/// "file:line: message", then "file:line: note: NOTE" when there is a note,
/// each line ending in '\n'.
std::string formatFailure(const CompileResult& result);

/// True for a line of formatFailure's include chain.
bool isIncludeChainLine(std::string_view line);

}  // namespace qf
