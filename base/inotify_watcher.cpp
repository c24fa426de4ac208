#include "base/inotify_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/directory.h"
#include "base/path.h"
#include "base/tree_walk.h"

namespace qf {

namespace {

// Directories are watched rather than files: editors that save by writing a
// new file and renaming it over the old one would otherwise leave the watch
// on a file that no longer has a name.
constexpr std::uint32_t kDirectoryMask = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MODIFY |
                                         IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

}  // namespace

InotifyWatcher::InotifyWatcher(const WatchOptions& options)
    : options_(options),
      filter_(options.ignoredDirectory, options.neededPaths),
      pending_(options.settle, options.maxDelay, options.settleAfterWrite) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return;
  }
  for (const std::string& tree : options_.trees) addTree(withoutTrailingSlashes(tree), false);
  for (const std::string& directory : options_.directories) {
    addWatch(withoutTrailingSlashes(directory), false);
  }
}

InotifyWatcher::~InotifyWatcher() {
  if (fd_ >= 0) close(fd_);
}

std::optional<int> InotifyWatcher::addWatch(const std::string& directory, bool tree) {
  if (options_.watchLimit > 0 && watches_.size() >= options_.watchLimit) {
    outOfWatches_ = true;
    return std::nullopt;
  }
  const int wd = inotify_add_watch(fd_, directory.c_str(), kDirectoryMask);
  if (wd < 0) {
    if (errno == ENOSPC) outOfWatches_ = true;
    return std::nullopt;
  }
  // The kernel hands out the same descriptor for a directory watched twice
  // (through a link, or as a tree and alone): keep the first name.
  auto [it, added] = watches_.try_emplace(wd, Watched{directory, tree});
  if (!added) it->second.tree = it->second.tree || tree;
  return wd;
}

void InotifyWatcher::addTree(const std::string& directory, bool report) {
  // Each directory is watched before it is read, so that nothing made in it
  // meanwhile goes unseen.
  class Adder final : public TreeVisitor {
   public:
    Adder(InotifyWatcher& watcher, const std::string& root, bool report)
        : watcher_(watcher), root_(root), report_(report) {}

    bool wanted(const std::string& relative, const DirectoryEntry& entry) override {
      return watcher_.filter_.admits(joinPath(root_, relative), entry);
    }
    bool enter(const std::string& relative) override {
      const std::string path = joinPath(root_, relative);
      return !watcher_.filter_.isIgnoredDirectory(path) && watcher_.addWatch(path, true);
    }
    void visit(const std::string& relative, const DirectoryEntry&) override {
      if (report_) watcher_.pending_.add(joinPath(root_, relative));
    }

   private:
    InotifyWatcher& watcher_;
    const std::string& root_;
    const bool report_;
  };
  Adder adder(*this, directory, report);
  walkTree(directory, adder);
}

void InotifyWatcher::watchDirectory(const std::string& directory) {
  if (fd_ < 0) return;
  const std::string path = withoutTrailingSlashes(directory);
  const bool appeared = appeared_.erase(path) > 0;
  if (!addWatch(path, false) || !appeared) return;
  const auto entries = listDirectory(path);
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    const std::string inside = joinPath(path, entry.name);
    if (!filter_.admits(inside, entry)) continue;
    if (entry.isDirectory) appeared_.insert(inside);
    pending_.add(inside);
  }
}

void InotifyWatcher::watchTree(const std::string& directory) {
  if (fd_ < 0) return;
  const std::string root = withoutTrailingSlashes(directory);
  for (const auto& [wd, watched] : watches_) {
    if (watched.tree && watched.path == root) return;
  }
  addTree(root, true);
}

void InotifyWatcher::setNeededPaths(std::set<std::string> paths) {
  filter_.setNeededPaths(std::move(paths));
}

std::optional<WatchBatch> InotifyWatcher::next(std::chrono::milliseconds timeout) {
  const auto deadline = PendingChanges::Clock::now() + timeout;
  while (true) {
    const auto now = PendingChanges::Clock::now();
    int waitMs = millisecondsUntil(deadline);
    if (!pending_.empty()) {
      const auto left = pending_.remaining(now);
      if (left.count() == 0) return pending_.take();
      waitMs = static_cast<int>(left.count());
    } else if (waitMs == 0) {
      return std::nullopt;
    }
    switch (waitForInput(fd_, options_.stopDescriptor, waitMs)) {
      case WaitEnd::kStop:
        return std::nullopt;
      case WaitEnd::kInput:
        if (!readEvents()) return std::nullopt;
        break;
      case WaitEnd::kTimeout:
        break;
    }
  }
}

bool InotifyWatcher::readEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  while (true) {
    const ssize_t length = read(fd_, buffer, sizeof buffer);
    if (length < 0) return errno == EAGAIN || errno == EINTR;
    if (length == 0) return false;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      handle(*event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void InotifyWatcher::handle(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) {
    recoverFromOverflow();
    return;
  }
  const auto it = watches_.find(event.wd);
  if (it == watches_.end()) return;  // a watch given up before its events were read
  if (event.mask & IN_IGNORED) {
    watches_.erase(it);
    return;
  }
  if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
    // The directory's parent (when watched) reports it by name; this covers
    // directories watched alone.
    pending_.add(it->second.path);
    if (event.mask & IN_MOVE_SELF) forgetTree(std::string(it->second.path));
    return;
  }
  if (event.len > 0) handleNamed(it->second, event);
}

void InotifyWatcher::handleNamed(const Watched& watched, const inotify_event& event) {
  const std::string name = event.name;
  const std::string path = joinPath(watched.path, name);
  const bool isDirectory = (event.mask & IN_ISDIR) != 0;
  if (isDirectory) {
    if (filter_.isIgnoredDirectory(path)) return;
    if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
      forgetTree(path);
      appeared_.erase(path);
    }
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
      if (watched.tree) {
        addTree(path, true);
      } else {
        appeared_.insert(path);
      }
    }
  } else if (!filter_.counts(path, name)) {
    return;
  }
  pending_.add(path, !isDirectory && (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0);
}

void InotifyWatcher::forgetTree(const std::string& directory) {
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (isInsideDirectory(it->second.path, directory)) {
      inotify_rm_watch(fd_, it->first);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
}

void InotifyWatcher::recoverFromOverflow() {
  // Events were dropped, new directories among them perhaps: watch whatever
  // is there now and let the caller look at everything.
  pending_.markRescan();
  for (const std::string& tree : options_.trees) addTree(withoutTrailingSlashes(tree), false);
}

}  // namespace qf
