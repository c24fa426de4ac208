#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/byte_stream.h"
#include "base/file_system.h"

namespace qf {

/// Keeps the text of included files from one compile to the next, so a file
/// that every page includes is read once, and answers whether a file is there. A kept text is used
/// only while the file's identity, size and times are unchanged, and not when the file changed
/// within the clock tick in which it was read. Safe to share between threads.
class IncludeCache {
 public:
  enum class Lookup {
    kMissing,     // not a regular file that opens for reading
    kText,        // text holds the file's contents
    kUncached,    // a regular file to be read the ordinary way (too large, or a read failed)
    kUnreadable,  // could not be looked at or opened for want of resources or an I/O error
  };

  /// With lookOnce, for the compiles of one run, each file is looked at once
  /// while it stays kept: a kept text is given without a new look (when the
  /// file had not changed in the clock tick in which it was read; a change
  /// after that gives it another change time), and a missing file stays
  /// missing. Otherwise every load looks at the file.
  explicit IncludeCache(bool lookOnce = false) : lookOnce_(lookOnce) {}

  /// Looks at the file at path and gives its text when it can. For kText and
  /// kUncached, status is what the look that gave the text (or found the
  /// file) saw; otherwise it is left as it was.
  Lookup load(const std::string& path, std::shared_ptr<const std::string>& text,
              FileStatus& status);

  /// Whether a regular file that opens for reading is at path (kOpened), as
  /// probeFile tells; with lookOnce, what an earlier look of the run found
  /// stands. Reads no text.
  OpenResult probe(const std::string& path);

  /// Forgets every kept text.
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    bytes_ = 0;
  }

 private:
  struct Entry {
    FileStatus status;
    std::shared_ptr<const std::string> text;  // null: not read (kept only with lookOnce)
    long long readAtNs = 0;                   // fileClockNs() before the text was read
    bool present = true;                      // false: missing (kept only with lookOnce)
  };

  void keep(const std::string& path, Entry entry);

  const bool lookOnce_;
  std::mutex lock_;
  std::unordered_map<std::string, Entry> entries_;
  std::size_t bytes_ = 0;
};

}  // namespace qf
