#pragma once

#include <string>
#include <string_view>

#include "base/file_system.h"

namespace qf {

class OutputLineMap;

/// Told what a compile looked at, as it happens, so that whoever runs the
/// compile can tell later whether its result could differ. Paths are as the
/// compile spelled them. Calls come from the compiling thread only.
class CompileObserver {
 public:
  virtual ~CompileObserver() = default;

  /// The compile read the file's text (the input or an included file) or
  /// described it (#fileinfo). status is what the compile's own look at the
  /// file saw, taken after the compile began and before the text was read
  /// (perhaps by an earlier compile of the same run, when that text was
  /// settled: a later change gives the file another status); null when the
  /// compile did not look.
  virtual void fileRead(const std::string& path, bool included, const FileStatus* status) = 0;
  /// A search found a usable file at path but used only its presence
  /// (#ifexists).
  virtual void fileFound(const std::string& path) = 0;
  /// A search tried path and found no usable file there.
  virtual void fileMissing(const std::string& path) = 0;
  /// A built-in date or time symbol was looked up while it still had its
  /// built-in text.
  virtual void dateSymbolUsed(std::string_view name, std::string_view text) = 0;
  /// The output file already held the compile's bytes and was left as it
  /// was; status is what the comparison saw of it. Not called when the
  /// output was written.
  virtual void outputKept(const FileStatus& /*status*/) {}
  /// Where the compile records the origin of every output line, cleared as
  /// it begins; null (the default) records nothing and costs nothing.
  virtual OutputLineMap* outputLineMap() { return nullptr; }
};

}  // namespace qf
