#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/file_stream.h"
#include "base/file_system.h"

struct stat;

namespace qf {

/// The directory of a thread's last output, held open for its next ones: an
/// output in the same directory uses it as it was opened then, and whether
/// it was writable then, without opening and checking it again. For the
/// outputs of one run, on one thread at a time.
class OutputDirectoryCache {
 public:
  OutputDirectoryCache() = default;
  ~OutputDirectoryCache();
  OutputDirectoryCache(const OutputDirectoryCache&) = delete;
  OutputDirectoryCache& operator=(const OutputDirectoryCache&) = delete;

 private:
  friend class OutputFile;
  std::string path_;
  int fd_ = -1;
  std::optional<bool> writable_;  // nullopt: not checked yet
};

/// An output file that a failed compile never damages. A new file or a plain
/// regular file is written to an unnamed temporary file in its directory that
/// commit() links into place (where the file system cannot make unnamed
/// files, a hidden temporary ".qf<random>.tmp" beside it); a killed run so
/// leaves nothing behind. A symbolic link (or a chain of them) to a regular
/// file or to nothing is resolved, and its final target replaced in the
/// target's directory; the link stays. A special file (a device, a FIFO) is
/// written through directly. Every step after the open works relative to the
/// directory opened then, even if it is moved. A replaced file keeps its
/// mode; a new one gets 0666 less the umask. The bytes meant to replace a
/// regular file are held in memory up to a limit and compared with it before
/// any temporary file is made: an output that keeps its bytes costs no new
/// file. The first output opened in a directory removes the temporaries
/// killed runs left there (this user's, older than this process).
class OutputFile : public DescriptorSink {
 public:
  OutputFile() : DescriptorSink(-1) {}
  /// Removes the temporary file unless commit() succeeded.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Opens path for writing. False when it cannot be opened (or its
  /// temporary file cannot be made, or for a replacement, its directory is
  /// not writable), or when the file it would write is refused (such as the
  /// input it is made from; foundRefused() then tells so). directories (may
  /// be null) keeps the output's directory open for the next output.
  bool open(const std::string& path, std::optional<FileIdentity> refused = std::nullopt,
            OutputDirectoryCache* directories = nullptr);
  bool foundRefused() const { return foundRefused_; }
  bool write(std::string_view bytes) override;
  bool flush() override;
  /// Flushes, closes and moves the temporary file into place. False when a
  /// write, the close or the move failed; the temporary file is then gone.
  bool commit();
  /// After a commit() that found the file already holding these bytes and
  /// kept it: that file's status as the comparison saw it; else nullopt.
  const std::optional<FileStatus>& kept() const { return kept_; }
  /// Closes and removes the temporary file, leaving path as it was.
  void abandon();
  /// The file being written, to fill directly (by offsets) instead of
  /// through write(); makes the temporary file of a replacement if none is
  /// made yet. -1 when none is open or it cannot be made.
  int descriptor();

 private:
  bool openDirect(const std::string& path);
  // existing: the status of the file replaced; null for a new one.
  bool openReplacement(const std::string& target, const struct stat* existing,
                       OutputDirectoryCache* directories);
  bool openDirectory(const std::string& directory, OutputDirectoryCache* directories);
  bool directoryWritable(OutputDirectoryCache* directories) const;
  bool makeTemporary();
  bool openUnnamed(unsigned mode);
  bool openNamed(unsigned mode);
  bool linkUnnamed();
  bool moveNamedIntoPlace();
  bool closeDescriptor();
  void closeDirectory();

  bool foundRefused_ = false;
  int directoryFd_ = -1;            // the directory of the file replaced or made
  bool borrowedDirectory_ = false;  // directoryFd_ belongs to an OutputDirectoryCache
  std::string name_;                // its name there
  bool replacing_ = false;          // the file existed when opened
  unsigned mode_ = 0;               // the replaced file's mode
  bool holding_ = false;            // the bytes are in held_; no temporary file yet
  bool broken_ = false;             // the temporary file could not be made
  std::string held_;
  bool unnamed_ = false;       // the descriptor is an unnamed temporary file
  std::string temporaryName_;  // a named temporary in directoryFd_, while one exists
  std::optional<FileStatus> kept_;
};

/// Removes every temporary output file that is open in this process; for a
/// termination signal's handler thread. Later outputs cannot be opened, and
/// a commit that would replace a file fails.
void removeTemporaryOutputs();

}  // namespace qf
