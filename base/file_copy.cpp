#include "base/file_copy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qf {

namespace {

// Copies [offset, end) of from through a buffer: to the same place in to, or
// when to takes no offsets (a pipe, a device), in order.
bool copyByReading(int from, int to, off_t offset, off_t end, bool positioned) {
  char buffer[1 << 16];
  while (offset < end) {
    const auto wanted = static_cast<std::size_t>(std::min<off_t>(end - offset, sizeof buffer));
    const ssize_t n = pread(from, buffer, wanted, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;  // the end of the file
    for (ssize_t done = 0; done < n;) {
      const auto left = static_cast<std::size_t>(n - done);
      const ssize_t written =
          positioned ? pwrite(to, buffer + done, left, offset + static_cast<off_t>(done))
                     : write(to, buffer + done, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      done += written;
    }
    offset += n;
  }
  return true;
}

// Copies [offset, end) of from to the same place in to: in the kernel where
// it can, else through a buffer.
bool copyRange(int from, int to, off_t offset, off_t end) {
  while (offset < end) {
    off_t in = offset;
    off_t out = offset;
    const ssize_t n =
        copy_file_range(from, &in, to, &out, static_cast<std::size_t>(end - offset), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return copyByReading(from, to, offset, end, true);
    if (n == 0) return true;  // the file shrank meanwhile
    offset += n;
  }
  return true;
}

}  // namespace

bool copyFileContents(int from, int to) {
  struct stat status;
  struct stat target;
  if (fstat(from, &status) != 0 || !S_ISREG(status.st_mode) || fstat(to, &target) != 0) {
    return false;
  }
  if (!S_ISREG(target.st_mode)) return copyByReading(from, to, 0, status.st_size, false);
  if (ioctl(to, FICLONE, from) == 0) return true;
  const off_t size = status.st_size;
  for (off_t offset = 0; offset < size;) {
    off_t data = lseek(from, offset, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    off_t end = size;
    if (data < 0) {
      data = offset;  // no way to find holes here: copy the rest whole
    } else {
      end = std::min(lseek(from, data, SEEK_HOLE), size);
      if (end <= data) end = size;
    }
    if (!copyRange(from, to, data, end)) return false;
    offset = end;
  }
  // A hole at the end has no data to copy; the size makes it.
  return ftruncate(to, size) == 0;
}

}  // namespace qf
