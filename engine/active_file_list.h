#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "engine/compile_result.h"

namespace qf {

/// The files one compile is processing, outermost first, each with the line
/// it is at: the chain of #include lines that led to the innermost file.
class ActiveFileList {
 public:
  /// Appends an entry for path at line 0 and returns its line counter, which
  /// stays valid until the entry is removed.
  long& pushActiveFile(std::string_view path);
  /// Removes the innermost entry; does nothing when the list is empty.
  void popActiveFile();
  /// True when an entry's path equals path exactly; an empty path never matches.
  bool isActiveFile(std::string_view path) const;
  void clearActiveFiles() { entries_.clear(); }
  std::size_t size() const { return entries_.size(); }

  /// The entries around the innermost one, innermost first, each at the line
  /// it is processing (its #include line).
  std::vector<IncludeSite> includeChain() const;

 private:
  // A deque, so that pushing keeps the line counters handed out valid.
  std::deque<IncludeSite> entries_;
};

}  // namespace qf
