#pragma once

#include <string>
#include <string_view>

#include "base/byte_stream.h"
#include "base/file_system.h"

namespace qf {

/// Reads a regular file through its descriptor.
class FileSource : public ByteSource {
 public:
  /// Opens path for reading without blocking and keeps it open only when the
  /// open descriptor is a regular file (links followed); a directory, FIFO,
  /// socket or device counts as missing. Check isOpen() or outcome().
  explicit FileSource(std::string_view path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  OpenResult outcome() const { return outcome_; }
  /// The open file's identity, size and times.
  const FileStatus& status() const { return status_; }
  /// The open descriptor (-1 when not open), valid while the source lives.
  int descriptor() const { return fd_; }
  long read(char* buffer, std::size_t size) override;
  std::size_t sizeHint() const override { return static_cast<std::size_t>(status_.size); }
  /// Makes the next read start offset bytes into the file. False when the
  /// file is not open or the offset is out of reach.
  bool seek(long long offset);

 private:
  int fd_ = -1;
  OpenResult outcome_ = OpenResult::kMissing;
  FileStatus status_;
  long long offset_ = 0;     // where the next read starts
  bool reachedEnd_ = false;  // a short read reached the size the open found
};

/// Reads a descriptor that the source does not own (standard input, say).
class DescriptorSource : public ByteSource {
 public:
  explicit DescriptorSource(int fd) : fd_(fd) {}
  long read(char* buffer, std::size_t size) override;

 private:
  int fd_;
};

/// Appends what source holds from its current place to its end to contents.
/// False on a read error (contents then holds what was read before it).
bool readRest(ByteSource& source, std::string& contents);

/// Whether path opens as FileSource opens it; closes it again at once.
OpenResult probeFile(std::string_view path);

/// Writes all of bytes to fd, going on after interruptions. False when a
/// write failed; errno then says why.
bool writeAll(int fd, std::string_view bytes);

/// Makes sure descriptors 0, 1 and 2 are open, so that no file opened later
/// gets one of their numbers and receives what is meant for them. A closed
/// one is opened on /dev/null in the direction it is not used in (standard
/// input for writing, the other two for reading), so using it still fails.
void reserveStandardDescriptors();

/// Buffered writes to a descriptor that the sink does not own (standard
/// output, say). After the first failed write every later one fails too.
class DescriptorSink : public ByteSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}
  ~DescriptorSink() override { flush(); }
  DescriptorSink(const DescriptorSink&) = delete;
  DescriptorSink& operator=(const DescriptorSink&) = delete;

  bool write(std::string_view bytes) override;
  bool flush() override;
  bool failed() const { return failed_; }
  /// errno of the first failed write; 0 while none failed.
  int failure() const { return failure_; }

 protected:
  void setDescriptor(int fd) { fd_ = fd; }
  int descriptor() const { return fd_; }

 private:
  bool writeThrough(std::string_view bytes);

  int fd_;
  std::string buffer_;
  bool failed_ = false;
  int failure_ = 0;
};

}  // namespace qf
