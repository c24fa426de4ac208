#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/byte_stream.h"
#include "base/file_system.h"

namespace qf {

/// Keeps the text of included files from one compile to the next, so a file
/// that every page includes is read once. A kept text is used only while the
/// file's identity, size and times are unchanged, and not when the file
/// changed within the clock tick in which it was read.
class IncludeCache {
 public:
  enum class Lookup {
    kMissing,     // not a regular file that opens for reading
    kText,        // text holds the file's contents
    kUncached,    // a regular file to be read the ordinary way (too large, or a read failed)
    kUnreadable,  // could not be looked at or opened for want of resources or an I/O error
  };

  /// Looks at the file at path and gives its text when it can.
  Lookup load(const std::string& path, std::shared_ptr<const std::string>& text);

  /// Forgets every kept text.
  void clear() {
    entries_.clear();
    bytes_ = 0;
  }

 private:
  struct Entry {
    FileStatus status;
    std::shared_ptr<const std::string> text;
    long long readAtNs = 0;  // fileClockNs() before the text was read
  };

  std::unordered_map<std::string, Entry> entries_;
  std::size_t bytes_ = 0;
};

}  // namespace qf
