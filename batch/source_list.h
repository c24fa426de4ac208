#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// The source files a batch run compiles, as paths relative to the scanned
/// directory, with '/' between directory names (sub/deeper/page.src).
class SourceList {
 public:
  /// Empties the list, then scanDirectory. Returns the number of entries.
  std::size_t scan(std::string_view pattern, bool recurse, std::string_view prefix = {});

  /// Appends prefix + name for every entry of pattern's directory (up to its
  /// last '/', the current directory when there is none) whose name matches
  /// the rest, whatever its type. With recurse, first does the same in every
  /// sub-directory, depth first, skipping one already on the walk (a link
  /// back up). Entries of a directory go in byte order of their names. A
  /// directory that cannot be read adds nothing (see unreadableDirectories).
  /// Returns the number appended.
  std::size_t scanDirectory(std::string_view pattern, bool recurse, std::string_view prefix = {});

  /// Empties the list.
  void clear();

  /// The directories that could not be read during the scans since the last
  /// clear(), as paths without a trailing '/', in walk order.
  const std::vector<std::string>& unreadableDirectories() const { return unreadable_; }

  const std::vector<std::string>& items() const { return paths_; }
  std::size_t count() const { return paths_.size(); }

 private:
  std::vector<std::string> paths_;
  std::vector<std::string> unreadable_;
};

}  // namespace qf
