#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/compile_result.h"

namespace qf {

/// What the reference engine compiles: the same choices as a CompileRequest,
/// with the source bytes given directly when they do not come from inputPath.
struct ReferenceRequest {
  std::string inputPath;
  std::string outputName;        // what _OUTFILENAME_ names
  std::string includeDirectory;  // empty, or ending in '/'
  char directiveChar = 0;        // 0 selects '#'
  char concatChar = 0;           // 0 selects '|'
  std::vector<std::pair<std::string, std::string>> definitions{};
  std::optional<std::string> source{};  // read instead of inputPath when set
  std::time_t time = 0;                 // the compile time of the date symbols
  /// Substitution stops the compile once its passes have written this many
  /// bytes in all (0: no limit); the outcome then says it gave up.
  std::size_t mostWork = 0;
};

/// What the reference engine made: the bytes written (also on failure, up to
/// the failing line) and the result, as the compile engine reports it.
struct ReferenceOutcome {
  std::string output;
  CompileResult result;
  bool gaveUp = false;  // mostWork was reached: the outcome means nothing
};

/// Compiles one source the plain way: whole files read and split into lines,
/// substitution character by character over whole strings, definitions in a
/// std::map. Slow, and meant only as the yardstick that tests hold the
/// compile engine to. Never throws for a well-formed request.
ReferenceOutcome compileByReference(const ReferenceRequest& request);

/// The lines of bytes as the language reads them: a UTF-8 byte-order mark at
/// the start is dropped (hadByteOrderMark tells), CR LF and LF end lines, a
/// lone CR is data, and every line, the last included, ends with '\n'.
std::vector<std::string> splitSourceLines(const std::string& bytes, bool* hadByteOrderMark);

}  // namespace qf
