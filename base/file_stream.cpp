#include "base/file_stream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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
  // Look before opening: opening a FIFO would wait for a writer, and opening
  // a device can have effects of its own.
  const auto found = statusOf(path);
  if (!found || !found->regular) return;
  fd_ = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return;
  const auto opened = statusOfDescriptor(fd_);
  if (!opened || !opened->regular) {  // replaced between the look and the open
    close(fd_);
    fd_ = -1;
    return;
  }
  status_ = *opened;
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

long FileSource::read(char* buffer, std::size_t size) {
  if (fd_ < 0) return -1;
  return readRetrying(fd_, buffer, size);
}

long DescriptorSource::read(char* buffer, std::size_t size) {
  return readRetrying(fd_, buffer, size);
}

bool DescriptorSink::write(std::string_view bytes) {
  if (failed_) return false;
  if (buffer_.size() + bytes.size() <= kWriteBuffer) {
    buffer_.append(bytes);
    return true;
  }
  if (!flush()) return false;
  if (bytes.size() >= kWriteBuffer) return writeAll(bytes);
  buffer_.append(bytes);
  return true;
}

bool DescriptorSink::flush() {
  if (failed_) return false;
  const bool ok = writeAll(buffer_);
  buffer_.clear();
  return ok;
}

bool DescriptorSink::writeAll(std::string_view bytes) {
  while (!bytes.empty() && !failed_) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      failed_ = true;
    }
  }
  return !failed_;
}

}  // namespace qf
