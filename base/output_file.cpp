#include "base/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <utility>

#include "base/file_system.h"
#include "base/path.h"
#include "base/same_contents.h"

namespace qf {

namespace {

// Links followed at most, as the system itself allows.
constexpr int kMaxLinks = 40;
constexpr unsigned kNewFileMode = 0666;
// A replacement's bytes held in memory at most; more go to a temporary file.
constexpr std::size_t kMostHeldBytes = std::size_t{4} << 20;

// Named temporary files that exist right now, as (directory descriptor,
// name). Creating, renaming and removing one happen under the lock, so
// removeTemporaryOutputs sees a consistent set.
struct TemporaryRegistry {
  std::mutex lock;
  std::set<std::pair<int, std::string>> files;
  bool closed = false;
  // Directories swept of earlier runs' temporaries, as their paths were
  // given: one spelt two ways is swept twice, which does no harm.
  std::set<std::string, std::less<>> swept;
};

// When this process began, as the kernel stamps files: temporaries older than
// that are left over from earlier runs.
const long long kStartNs = fileClockNs();

TemporaryRegistry& registry() {
  static TemporaryRegistry* instance = new TemporaryRegistry;  // never destroyed: used at exit
  return *instance;
}

// After removeTemporaryOutputs() no temporary file may be made.
bool temporariesClosed() {
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  return temporaries.closed;
}

// Short, so that it fits whatever the name of the output: ".qf" + 8 + ".tmp".
std::string temporaryName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name = ".qf";
  for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
  return name + ".tmp";
}

bool isTemporaryName(std::string_view name) {
  if (name.size() != 15 || !name.starts_with(".qf") || !name.ends_with(".tmp")) return false;
  for (const char c : name.substr(3, 8)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

// Removes the temporaries a killed run left in the directory open as
// directoryFd: regular files named as temporaryName() makes them, owned by
// this user and last written before this process began. Each directory once.
void sweepLeftovers(int directoryFd, const std::string& directory) {
  TemporaryRegistry& temporaries = registry();
  {
    std::lock_guard<std::mutex> guard(temporaries.lock);
    if (!temporaries.swept.insert(directory).second) return;
  }
  const int listFd = openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* const entries = fdopendir(listFd);
  if (!entries) {
    ::close(listFd);
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    if (!isTemporaryName(entry->d_name)) continue;
    struct stat status;
    if (fstatat(directoryFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const long long modifiedNs =
        static_cast<long long>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    if (S_ISREG(status.st_mode) && status.st_uid == geteuid() && modifiedNs < kStartNs) {
      unlinkat(directoryFd, entry->d_name, 0);
    }
  }
  closedir(entries);
}

// The file that writing to path would reach: path itself, or the final target
// of the chain of links it starts, which may not exist. status holds what
// lstat gave for it, or error why it gave nothing (0 when it gave status).
// nullopt for a loop.
std::optional<std::string> finalTarget(std::string path, struct stat& status, int& error) {
  for (int links = 0; links < kMaxLinks; ++links) {
    error = lstat(path.c_str(), &status) == 0 ? 0 : errno;
    if (error != 0 || !S_ISLNK(status.st_mode)) return path;
    std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    path = target.front() == '/' ? target : directoryOf(path) + target;
  }
  return std::nullopt;
}

// Unnamed files are linked into place through their /proc entry, which needs
// no privilege.
std::string procPathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

OutputDirectoryCache::~OutputDirectoryCache() {
  if (fd_ >= 0) ::close(fd_);
}

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::open(const std::string& path, std::optional<FileIdentity> refused,
                      OutputDirectoryCache* directories) {
  abandon();
  foundRefused_ = false;
  kept_.reset();
  if (path.empty() || holdsNul(path)) return false;
  struct stat status;
  int error = 0;
  const std::optional<std::string> target = finalTarget(path, status, error);
  if (!target) return false;
  if (error != 0) return error == ENOENT && openReplacement(*target, nullptr, directories);
  if (refused && *refused == FileIdentity{status.st_dev, status.st_ino}) {
    foundRefused_ = true;
    return false;
  }
  if (!S_ISREG(status.st_mode)) return openDirect(path);
  return openReplacement(*target, &status, directories);
}

bool OutputFile::openDirect(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  setDescriptor(fd);
  return fd >= 0;
}

bool OutputFile::openDirectory(const std::string& directory, OutputDirectoryCache* directories) {
  if (directories && directories->fd_ >= 0 && directories->path_ == directory) {
    directoryFd_ = directories->fd_;
    borrowedDirectory_ = true;
    return true;
  }
  const int fd =
      ::open(directory.empty() ? "." : directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  directoryFd_ = fd;
  if (directories) {
    if (directories->fd_ >= 0) ::close(directories->fd_);
    directories->fd_ = fd;
    directories->path_ = directory;
    directories->writable_.reset();
    borrowedDirectory_ = true;
  }
  return true;
}

bool OutputFile::directoryWritable(OutputDirectoryCache* directories) const {
  if (directories && directories->writable_) return *directories->writable_;
  const bool writable = faccessat(directoryFd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
  if (directories) directories->writable_ = writable;
  return writable;
}

bool OutputFile::openReplacement(const std::string& target, const struct stat* existing,
                                 OutputDirectoryCache* directories) {
  const bool exists = existing != nullptr;
  const unsigned mode = exists ? existing->st_mode & 07777 : kNewFileMode;
  const std::string directory = directoryOf(target);
  name_ = fileNameOf(target);
  if (name_.empty() || !openDirectory(directory, directories)) return false;
  sweepLeftovers(directoryFd_, directory);
  replacing_ = exists;
  if (exists) {
    // Refuse an output the user may not write, as a plain open would. The
    // temporary file waits until the bytes are known to differ; what would
    // stop it being made is found now.
    mode_ = mode;
    if (faccessat(directoryFd_, name_.c_str(), W_OK, AT_EACCESS) == 0 &&
        directoryWritable(directories) && !temporariesClosed()) {
      holding_ = true;
      // Most outputs keep their size: their bytes are gathered without growing.
      held_.reserve(std::min(static_cast<std::size_t>(existing->st_size), kMostHeldBytes));
      return true;
    }
    closeDirectory();
    return false;
  }
  if (openUnnamed(mode) || openNamed(mode)) return true;
  closeDirectory();
  return false;
}

bool OutputFile::makeTemporary() {
  holding_ = false;
  std::string held;
  held.swap(held_);
  if (!openUnnamed(mode_) && !openNamed(mode_)) {
    broken_ = true;
    return false;
  }
  return DescriptorSink::write(held);
}

bool OutputFile::write(std::string_view bytes) {
  if (holding_ && held_.size() + bytes.size() <= kMostHeldBytes) {
    held_.append(bytes);
    return true;
  }
  if (broken_ || (holding_ && !makeTemporary())) return false;
  return DescriptorSink::write(bytes);
}

bool OutputFile::flush() {
  if (holding_) return true;
  return !broken_ && DescriptorSink::flush();
}

int OutputFile::descriptor() {
  if (holding_ && !makeTemporary()) return -1;
  return broken_ ? -1 : DescriptorSink::descriptor();
}

bool OutputFile::openUnnamed(unsigned mode) {
  static const bool kProcFdUsable = access("/proc/self/fd", X_OK) == 0;
  if (temporariesClosed() || !kProcFdUsable) return false;
  // Readable too, so commit can compare it with the file it would replace.
  const int fd = openat(directoryFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return false;  // not every file system makes unnamed files
  if (replacing_) fchmod(fd, mode);
  setDescriptor(fd);
  unnamed_ = true;
  return true;
}

bool OutputFile::openNamed(unsigned mode) {
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  if (temporaries.closed) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temporaryName();
    const int fd = openat(directoryFd_, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                          kNewFileMode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (replacing_) fchmod(fd, mode);
    setDescriptor(fd);
    temporaryName_ = std::move(candidate);
    temporaries.files.emplace(directoryFd_, temporaryName_);
    return true;
  }
  return false;
}

bool OutputFile::closeDescriptor() {
  const int fd = DescriptorSink::descriptor();
  if (fd < 0) return true;
  setDescriptor(-1);
  return ::close(fd) == 0;
}

void OutputFile::closeDirectory() {
  if (directoryFd_ >= 0 && !borrowedDirectory_) ::close(directoryFd_);
  directoryFd_ = -1;
  borrowedDirectory_ = false;
  unnamed_ = false;
}

bool OutputFile::commit() {
  if (directoryFd_ < 0) {
    const bool flushed = flush();
    return closeDescriptor() && flushed && !failed();
  }
  // An output that already holds these bytes keeps its inode, times and links.
  bool compared = false;
  FileStatus existing;
  if (holding_) {
    if (hasSameContents(held_, directoryFd_, name_, &existing)) {
      abandon();
      kept_ = existing;
      return true;
    }
    compared = true;
    makeTemporary();
  }
  bool ok = flush();
  if (ok && replacing_ && !compared &&
      hasSameContents(DescriptorSink::descriptor(), directoryFd_, name_, &existing)) {
    abandon();
    kept_ = existing;
    return true;
  }
  if (ok && unnamed_) ok = linkUnnamed();
  if (!closeDescriptor() && ok) {
    // The data may not have reached the disk: take back a page just linked.
    if (temporaryName_.empty()) unlinkat(directoryFd_, name_.c_str(), 0);
    ok = false;
  }
  if (ok && !temporaryName_.empty()) ok = moveNamedIntoPlace();
  abandon();
  return ok;
}

// A new page is linked under its own name at once: nothing stands there
// half-written. An existing one is replaced by linking under a short unique
// name and renaming over it at once.
bool OutputFile::linkUnnamed() {
  const std::string source = procPathOf(DescriptorSink::descriptor());
  if (!replacing_) {
    if (linkat(AT_FDCWD, source.c_str(), directoryFd_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  // After removeTemporaryOutputs() a name made here would never be removed.
  if (temporaries.closed) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temporaryName();
    if (linkat(AT_FDCWD, source.c_str(), directoryFd_, candidate.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    temporaryName_ = std::move(candidate);
    temporaries.files.emplace(directoryFd_, temporaryName_);
    return true;
  }
  return false;
}

bool OutputFile::moveNamedIntoPlace() {
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  if (renameat(directoryFd_, temporaryName_.c_str(), directoryFd_, name_.c_str()) != 0) {
    return false;  // abandon() removes the temporary
  }
  temporaries.files.erase({directoryFd_, temporaryName_});
  temporaryName_.clear();
  return true;
}

void OutputFile::abandon() {
  holding_ = false;
  broken_ = false;
  std::string().swap(held_);
  closeDescriptor();
  if (!temporaryName_.empty()) {
    TemporaryRegistry& temporaries = registry();
    std::lock_guard<std::mutex> guard(temporaries.lock);
    unlinkat(directoryFd_, temporaryName_.c_str(), 0);
    temporaries.files.erase({directoryFd_, temporaryName_});
    temporaryName_.clear();
  }
  closeDirectory();
}

void removeTemporaryOutputs() {
  TemporaryRegistry& temporaries = registry();
  std::lock_guard<std::mutex> guard(temporaries.lock);
  for (const auto& [directoryFd, name] : temporaries.files) unlinkat(directoryFd, name.c_str(), 0);
  temporaries.files.clear();
  temporaries.closed = true;
}

}  // namespace qf
