#include "base/file_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/path.h"

namespace qf {

namespace {

constexpr std::size_t kWriteBuffer = std::size_t{1} << 16;

long readRetrying(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

}  // namespace

FileSource::FileSource(std::string_view path) {
  if (path.empty() || holdsNul(path)) return;
  // Without O_NONBLOCK opening a FIFO would wait for a writer; whatever the
  // path names by the time of the open, the descriptor is what gets checked.
  const int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    outcome_ = meansMissing(errno) ? OpenResult::kMissing : OpenResult::kFailed;
    return;
  }
  const auto opened = statusOfDescriptor(fd);
  if (!opened || !opened->regular) {
    outcome_ = opened ? OpenResult::kMissing : OpenResult::kFailed;
    close(fd);
    return;
  }
  fd_ = fd;
  outcome_ = OpenResult::kOpened;
  status_ = *opened;
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

// A regular file reads short only at its end: once a short read has reached
// the size the open found, the end is known without another call.
long FileSource::read(char* buffer, std::size_t size) {
  if (fd_ < 0) return -1;
  if (reachedEnd_) return 0;
  const long n = readRetrying(fd_, buffer, size);
  if (n > 0) {
    offset_ += n;
    reachedEnd_ = static_cast<std::size_t>(n) < size && offset_ >= status_.size;
  }
  return n;
}

bool FileSource::seek(long long offset) {
  if (fd_ < 0 || offset < 0 || lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != offset) {
    return false;
  }
  offset_ = offset;
  reachedEnd_ = false;
  return true;
}

long DescriptorSource::read(char* buffer, std::size_t size) {
  return readRetrying(fd_, buffer, size);
}

bool readRest(ByteSource& source, std::string& contents) {
  char buffer[1 << 16];
  for (;;) {
    const long n = source.read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
}

OpenResult probeFile(std::string_view path) { return FileSource(path).outcome(); }

bool DescriptorSink::write(std::string_view bytes) {
  if (failed_) return false;
  if (buffer_.size() + bytes.size() <= kWriteBuffer) {
    buffer_.append(bytes);
    return true;
  }
  if (!flush()) return false;
  if (bytes.size() >= kWriteBuffer) return writeThrough(bytes);
  buffer_.append(bytes);
  return true;
}

bool DescriptorSink::flush() {
  if (failed_) return false;
  const bool ok = writeThrough(buffer_);
  buffer_.clear();
  return ok;
}

bool DescriptorSink::writeThrough(std::string_view bytes) {
  if (failed_) return false;
  if (!writeAll(fd_, bytes)) {
    failed_ = true;
    failure_ = errno;
  }
  return !failed_;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n == 0) {
      errno = EIO;
      return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

void reserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open gives the lowest free number, which is fd itself.
    const int opened = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

}  // namespace qf
