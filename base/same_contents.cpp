#include "base/same_contents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool sameBytes(int a, int b, off_t size) {
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  static thread_local char left[kChunk];
  static thread_local char right[kChunk];
  for (off_t offset = 0; offset < size; offset += static_cast<off_t>(kChunk)) {
    const long n = readAt(a, left, kChunk, offset);
    if (n < 0 || readAt(b, right, kChunk, offset) != n) return false;
    if (std::memcmp(left, right, static_cast<std::size_t>(n)) != 0) return false;
  }
  return true;
}

}  // namespace

bool hasSameContents(int fd, const std::string& path) {
  return hasSameContents(fd, AT_FDCWD, path);
}

bool hasSameContents(int fd, int directoryFd, const std::string& name) {
  struct stat ours;
  if (fstat(fd, &ours) != 0) return false;
  const int other = openat(directoryFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (other < 0) return false;
  struct stat theirs;
  // The sizes settle most differences without reading a byte.
  const bool same = fstat(other, &theirs) == 0 && S_ISREG(theirs.st_mode) &&
                    theirs.st_size == ours.st_size && sameBytes(fd, other, ours.st_size);
  ::close(other);
  return same;
}

}  // namespace qf
