#include "base/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

namespace qf {

LockFile::Result LockFile::lock(const std::string& path, std::chrono::milliseconds timeout,
                                std::chrono::milliseconds tellAfter,
                                const std::function<void()>& waiting) {
  release();
  const auto start = std::chrono::steady_clock::now();
  bool told = !waiting;
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Result::kUnopenable;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return Result::kLocked;
    }
    ::close(fd);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= timeout) return Result::kHeldElsewhere;
    if (!told && waited >= tellAfter) {
      waiting();
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A note is its line and a line end, at the start of the file; what follows
// is left from longer notes (the file is never shortened, which costs more).
std::string LockFile::note() const {
  char bytes[1001];
  const ssize_t size = fd_ < 0 ? -1 : ::pread(fd_, bytes, sizeof bytes, 0);
  if (size <= 0) return {};
  const std::string_view text(bytes, static_cast<std::size_t>(size));
  const std::size_t end = text.find('\n');
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end));
}

bool LockFile::setNote(std::string_view note) {
  if (fd_ < 0 || note.size() > 1000 || note.find('\n') != std::string_view::npos) return false;
  const std::string line = std::string(note) + "\n";
  return ::pwrite(fd_, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

void LockFile::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace qf
