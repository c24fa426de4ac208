#include "base/same_contents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace qf {

namespace {

// Reads up to size bytes at offset, retrying short reads; -1 on an error.
long readAt(int fd, char* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

constexpr std::size_t kChunk = std::size_t{1} << 16;

bool sameBytes(int a, int b, off_t size) {
  static thread_local char left[kChunk];
  static thread_local char right[kChunk];
  for (off_t offset = 0; offset < size; offset += static_cast<off_t>(kChunk)) {
    const long n = readAt(a, left, kChunk, offset);
    if (n < 0 || readAt(b, right, kChunk, offset) != n) return false;
    if (std::memcmp(left, right, static_cast<std::size_t>(n)) != 0) return false;
  }
  return true;
}

bool sameBytes(std::string_view bytes, int fd) {
  static thread_local char theirs[kChunk];
  for (std::size_t offset = 0; offset < bytes.size(); offset += kChunk) {
    const std::size_t size = std::min(kChunk, bytes.size() - offset);
    if (readAt(fd, theirs, size, static_cast<off_t>(offset)) != static_cast<long>(size) ||
        std::memcmp(bytes.data() + offset, theirs, size) != 0) {
      return false;
    }
  }
  return true;
}

// The regular file called name in directoryFd, open for reading, with its
// status; -1 when there is none.
int openRegular(int directoryFd, const std::string& name, struct stat& status) {
  const int fd = openat(directoryFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Closes fd; when same, gives status to wanted (if any). Returns same.
bool finishComparison(int fd, bool same, const struct stat& status, FileStatus* wanted) {
  ::close(fd);
  if (same && wanted) *wanted = statusFrom(status);
  return same;
}

}  // namespace

bool hasSameContents(int fd, const std::string& path) {
  return hasSameContents(fd, AT_FDCWD, path);
}

bool hasSameContents(int fd, int directoryFd, const std::string& name, FileStatus* status) {
  struct stat ours;
  if (fstat(fd, &ours) != 0) return false;
  struct stat theirs;
  const int other = openRegular(directoryFd, name, theirs);
  if (other < 0) return false;
  // The sizes settle most differences without reading a byte.
  const bool same = theirs.st_size == ours.st_size && sameBytes(fd, other, ours.st_size);
  return finishComparison(other, same, theirs, status);
}

bool hasSameContents(std::string_view bytes, int directoryFd, const std::string& name,
                     FileStatus* status) {
  struct stat theirs;
  const int other = openRegular(directoryFd, name, theirs);
  if (other < 0) return false;
  const bool same =
      static_cast<std::size_t>(theirs.st_size) == bytes.size() && sameBytes(bytes, other);
  return finishComparison(other, same, theirs, status);
}

}  // namespace qf
