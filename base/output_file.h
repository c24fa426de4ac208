#pragma once

#include <string>
#include <string_view>

#include "base/file_stream.h"

namespace qf {

/// An output file that a failed compile never damages. A new file or a plain
/// regular file is written to a hidden temporary file beside it (".<name>.<random>.tmp")
/// that commit() moves over the path; a symbolic link or a special file (a
/// device, a FIFO) is written through directly. A replaced file keeps its
/// mode; a new one gets 0666 less the umask.
class OutputFile : public DescriptorSink {
 public:
  OutputFile() : DescriptorSink(-1) {}
  /// Removes the temporary file unless commit() succeeded.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Opens path for writing. False when it cannot be opened (or its
  /// temporary file cannot be made).
  bool open(const std::string& path);
  /// Flushes, closes and moves the temporary file into place; a regular file
  /// that already holds exactly the written bytes is left untouched instead.
  /// False when a write, the close or the move failed; the temporary file is
  /// then gone.
  bool commit();
  /// Closes and removes the temporary file, leaving path as it was.
  void abandon();

 private:
  bool openDirect(const std::string& path);
  bool openReplacement(const std::string& path, bool exists, unsigned mode);
  bool closeDescriptor();

  std::string path_;
  std::string temporaryPath_;
  bool replacesFile_ = false;  // the temporary file would replace an existing one
};

/// Removes every temporary output file that is open in this process; for a
/// termination signal's handler thread. Later outputs cannot be opened.
void removeTemporaryOutputs();

}  // namespace qf
