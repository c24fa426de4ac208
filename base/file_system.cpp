#include "base/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "base/path.h"

namespace qf {

namespace {

// A path the operating system can take: not empty, no NUL byte inside.
bool isPassablePath(std::string_view path) { return !path.empty() && !holdsNul(path); }

long long nanoseconds(const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; }

}  // namespace

FileStatus statusFrom(const struct stat& s) {
  return FileStatus{FileIdentity{s.st_dev, s.st_ino}, S_ISREG(s.st_mode) != 0, s.st_size,
                    nanoseconds(s.st_mtim), nanoseconds(s.st_ctim)};
}

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

bool setModifiedTime(std::string_view path, long long modifiedNs) {
  if (!isPassablePath(path)) return false;
  const timespec moment{static_cast<time_t>(modifiedNs / 1000000000LL),
                        static_cast<long>(modifiedNs % 1000000000LL)};
  const timespec times[2] = {moment, moment};
  return utimensat(AT_FDCWD, std::string(path).c_str(), times, 0) == 0;
}

long long fileClockNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool markModifiedNow(std::string_view path) {
  return isPassablePath(path) && utimensat(AT_FDCWD, std::string(path).c_str(), nullptr, 0) == 0;
}

std::optional<std::string> resolvedPathOf(std::string_view path) {
  if (!isPassablePath(path)) return std::nullopt;
  char* resolved = realpath(std::string(path).c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string result(resolved);
  free(resolved);
  return result;
}

ResolvedBelow resolveBelow(std::string_view path, std::string_view realRoot) {
  std::optional<std::string> resolved = resolvedPathOf(path);
  if (!resolved) return {};
  if (!isInsideDirectory(*resolved, realRoot)) return {ResolvedBelow::Kind::kOutside, ""};
  return {ResolvedBelow::Kind::kInside, std::move(*resolved)};
}

std::string absolutePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return std::string(path);
  char* current = getcwd(nullptr, 0);
  if (!current) return "";
  std::string absolute = joinPath(current, path);
  std::free(current);
  return absolute;
}

bool isDirectory(std::string_view path) {
  struct stat status;
  return isPassablePath(path) && stat(std::string(path).c_str(), &status) == 0 &&
         S_ISDIR(status.st_mode);
}

std::string nearestExistingDirectory(std::string_view directory) {
  std::string nearest = withoutTrailingSlashes(directory);
  while (!nearest.empty() && nearest != "." && nearest != "/" && !isDirectory(nearest)) {
    const std::size_t slash = nearest.rfind('/');
    nearest.resize(slash == std::string::npos ? 0 : std::max<std::size_t>(slash, 1));
  }
  return nearest.empty() ? "." : nearest;
}

bool removeFile(std::string_view path) {
  return isPassablePath(path) && unlink(std::string(path).c_str()) == 0;
}

}  // namespace qf
