#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/compile_result.h"

namespace qf {

/// Where each line of a compile's output came from: the source line that
/// wrote the line's first byte, in the file that held it, with the chain of
/// #include lines that led there. Line ends are counted as HTML readers count
/// them: "\n", "\r\n" and a lone "\r" each end a line.
class OutputLineMap {
 public:
  /// A source line; the references stay valid until the map is cleared.
  struct Origin {
    const std::string& path;
    long line;
    const std::vector<IncludeSite>& includedFrom;  // innermost first; empty in the input
  };

  /// Forgets everything, for a new compile.
  void clear();
  /// The processing of a file begins; returns its number for written().
  std::uint32_t enterFile(std::string path, std::vector<IncludeSite> includedFrom);
  /// The compile wrote text to the output from line of file.
  void written(std::uint32_t file, long line, std::string_view text);

  /// How many output lines have begun.
  std::size_t lineCount() const { return lines_.size(); }
  /// The origin of output line (from 1); nullopt for a line that was not written.
  std::optional<Origin> originOf(std::size_t outputLine) const;

 private:
  struct File {
    std::string path;
    std::vector<IncludeSite> includedFrom;
  };
  struct Line {
    std::uint32_t file;
    long line;
  };
  std::vector<File> files_;
  std::vector<Line> lines_;
  bool lineOpen_ = false;             // the last line has begun and not ended
  bool afterCarriageReturn_ = false;  // a '\n' next ends no line
};

}  // namespace qf
