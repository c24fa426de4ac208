#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <random>
#include <set>

#include "base/path.h"
#include "base/same_contents.h"

namespace qf {

namespace {

// Temporary files that exist right now. Creating, renaming and removing one
// happen under the lock, so removeTemporaryOutputs sees a consistent set.
struct TemporaryRegistry {
  std::mutex lock;
  std::set<std::string> paths;
  bool closed = false;
};

TemporaryRegistry& registry() {
  static TemporaryRegistry* instance = new TemporaryRegistry;  // never destroyed: used at exit
  return *instance;
}

std::string randomSuffix() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix(8, '0');
  for (char& c : suffix) c = kDigits[random() % 36];
  return suffix;
}

}  // namespace

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::open(const std::string& path) {
  abandon();
  path_ = path;
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    return errno == ENOENT ? openReplacement(path, false, 0) : openDirect(path);
  }
  if (!S_ISREG(status.st_mode)) return openDirect(path);
  // Refuse an output the user may not write, as a plain open would.
  const int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (probe < 0) return false;
  ::close(probe);
  return openReplacement(path, true, status.st_mode & 07777);
}

bool OutputFile::openDirect(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  setDescriptor(fd);
  return fd >= 0;
}

bool OutputFile::openReplacement(const std::string& path, bool exists, unsigned mode) {
  const std::string prefix = directoryOf(path) + "." + fileNameOf(path).str() + ".";
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  if (temporaries.closed) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix + randomSuffix() + ".tmp";
    // Readable too, so commit can compare it with the file it would replace.
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (exists) fchmod(fd, mode);
    setDescriptor(fd);
    replacesFile_ = exists;
    temporaryPath_ = std::move(candidate);
    temporaries.paths.insert(temporaryPath_);
    return true;
  }
  return false;
}

bool OutputFile::closeDescriptor() {
  const int fd = descriptor();
  if (fd < 0) return true;
  setDescriptor(-1);
  return ::close(fd) == 0;
}

bool OutputFile::commit() {
  const bool flushed = flush();
  // An output that already holds these bytes keeps its inode, times and links.
  if (flushed && replacesFile_ && !temporaryPath_.empty() && hasSameContents(descriptor(), path_)) {
    abandon();
    return true;
  }
  const bool closed = closeDescriptor();
  if (temporaryPath_.empty()) return flushed && closed && !failed();
  if (!flushed || !closed) {
    abandon();
    return false;
  }
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  const bool moved = rename(temporaryPath_.c_str(), path_.c_str()) == 0;
  if (!moved) unlink(temporaryPath_.c_str());
  temporaries.paths.erase(temporaryPath_);
  temporaryPath_.clear();
  return moved;
}

void OutputFile::abandon() {
  closeDescriptor();
  if (temporaryPath_.empty()) return;
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  unlink(temporaryPath_.c_str());
  temporaries.paths.erase(temporaryPath_);
  temporaryPath_.clear();
}

void removeTemporaryOutputs() {
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  for (const std::string& path : temporaries.paths) unlink(path.c_str());
  temporaries.paths.clear();
  temporaries.closed = true;
}

}  // namespace qf
