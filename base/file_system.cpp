#include "base/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/path.h"

namespace qf {

namespace {

// A path the operating system can take: not empty, no NUL byte inside.
bool isPassablePath(std::string_view path) { return !path.empty() && !holdsNul(path); }

long long nanoseconds(const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; }

FileStatus statusFrom(const struct stat& s) {
  return FileStatus{FileIdentity{s.st_dev, s.st_ino}, S_ISREG(s.st_mode) != 0, s.st_size,
                    nanoseconds(s.st_mtim), nanoseconds(s.st_ctim)};
}

}  // namespace

std::optional<FileStatus> statusOf(std::string_view path) {
  struct stat status;
  if (!isPassablePath(path)) {
    errno = ENOENT;
    return std::nullopt;
  }
  if (stat(std::string(path).c_str(), &status) != 0) return std::nullopt;
  return statusFrom(status);
}

std::optional<FileStatus> statusOfDescriptor(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return std::nullopt;
  return statusFrom(status);
}

std::optional<FileIdentity> identityOf(std::string_view path) {
  struct stat status;
  if (!isPassablePath(path) || stat(std::string(path).c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

bool meansMissing(int error) {
  return error != EMFILE && error != ENFILE && error != ENOMEM && error != EIO;
}

std::optional<std::tm> localTime(std::time_t moment) {
  std::tm local{};
  if (!localtime_r(&moment, &local)) return std::nullopt;
  return local;
}

}  // namespace qf
