#include "base/polling_watcher.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>

#include "base/file_stream.h"
#include "base/path.h"
#include "base/tree_walk.h"

namespace qf {

namespace {

long long nanoseconds(const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; }

// File times come from a clock that advances in ticks of a few
// milliseconds: two writes of the same size within one tick leave the same
// status. Files written this recently are told apart by their contents.
constexpr long long kRecentNs = 100'000'000;

bool isRecent(const struct stat& status) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long long latest = std::max(nanoseconds(status.st_mtim), nanoseconds(status.st_ctim));
  return nanoseconds(now) - latest < kRecentNs;
}

// FNV-1a over the file's bytes; nullopt when it cannot be read.
std::optional<unsigned long long> contentHashOf(const std::string& path) {
  FileSource file(path);
  if (!file.isOpen()) return std::nullopt;
  unsigned long long hash = 14695981039346656037ULL;
  char buffer[16384];
  for (long length; (length = file.read(buffer, sizeof buffer)) > 0;) {
    for (long i = 0; i < length; ++i) {
      hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ULL;
    }
  }
  return hash;
}

}  // namespace

PollingWatcher::PollingWatcher(const WatchOptions& options)
    : options_(options),
      filter_(options.ignoredDirectory, options.neededPaths),
      pending_(options.settle, options.maxDelay) {
  last_ = look();
}

void PollingWatcher::watchDirectory(const std::string& directory) {
  for (const std::string& known : options_.directories) {
    if (known == directory) return;
  }
  options_.directories.push_back(directory);
  // Only the new directory is looked at, so that changes elsewhere since the
  // last look are still found by the next one.
  Snapshot added;
  std::set<FileIdentity> seen;
  lookInto(withoutTrailingSlashes(directory), false, added, seen);
  last_.insert(added.begin(), added.end());
}

void PollingWatcher::watchTree(const std::string& directory) {
  if (std::find(options_.trees.begin(), options_.trees.end(), directory) != options_.trees.end()) {
    return;
  }
  options_.trees.push_back(directory);
  Snapshot added;
  std::set<FileIdentity> seen;
  lookInto(withoutTrailingSlashes(directory), true, added, seen);
  last_.insert(added.begin(), added.end());
}

void PollingWatcher::setNeededPaths(std::set<std::string> paths) {
  filter_.setNeededPaths(std::move(paths));
}

PollingWatcher::Snapshot PollingWatcher::look() {
  Snapshot snapshot;
  // A directory watched alone that lies in a watched tree is looked at once,
  // by the name the tree gives it.
  std::set<FileIdentity> seen;
  for (const std::string& tree : options_.trees) {
    lookInto(withoutTrailingSlashes(tree), true, snapshot, seen);
  }
  for (const std::string& directory : options_.directories) {
    lookInto(withoutTrailingSlashes(directory), false, snapshot, seen);
  }
  return snapshot;
}

void PollingWatcher::lookInto(const std::string& directory, bool tree, Snapshot& snapshot,
                              std::set<FileIdentity>& seen) {
  class Looker final : public TreeVisitor {
   public:
    Looker(WatchFilter& filter, const std::string& root, Snapshot& snapshot,
           std::set<FileIdentity>& seen)
        : filter_(filter), root_(root), snapshot_(snapshot), seen_(seen) {}

    bool wanted(const std::string& relative, const DirectoryEntry& entry) override {
      return filter_.admits(joinPath(root_, relative), entry);
    }
    bool enter(const std::string& relative) override {
      const std::string path = joinPath(root_, relative);
      const std::optional<FileIdentity> identity = identityOf(path);
      return identity && !filter_.isIgnoredDirectory(path) && seen_.insert(*identity).second;
    }
    void visit(const std::string& relative, const DirectoryEntry&) override {
      const std::string path = joinPath(root_, relative);
      struct stat status {};
      if (stat(path.c_str(), &status) != 0) return;
      // A directory's own times change with every entry made in it; its
      // entries are compared one by one instead.
      if (S_ISDIR(status.st_mode)) {
        snapshot_[path] = Stamp{0, 0, -1, status.st_ino, std::nullopt};
      } else {
        snapshot_[path] =
            Stamp{nanoseconds(status.st_mtim), nanoseconds(status.st_ctim), status.st_size,
                  status.st_ino, isRecent(status) ? contentHashOf(path) : std::nullopt};
      }
    }

   private:
    WatchFilter& filter_;
    const std::string& root_;
    Snapshot& snapshot_;
    std::set<FileIdentity>& seen_;
  };
  Looker looker(filter_, directory, snapshot, seen);
  TreeWalkOptions options;
  options.recurse = tree;
  walkTree(directory, looker, options);
}

void PollingWatcher::compare() {
  Snapshot now = look();
  auto before = last_.begin();
  auto after = now.begin();
  while (before != last_.end() || after != now.end()) {
    if (after == now.end() || (before != last_.end() && before->first < after->first)) {
      pending_.add((before++)->first);
    } else if (before == last_.end() || after->first < before->first) {
      pending_.add((after++)->first);
    } else {
      if (differs(before->second, after->second, after->first)) pending_.add(after->first);
      ++before;
      ++after;
    }
  }
  last_ = std::move(now);
}

bool PollingWatcher::differs(const Stamp& before, const Stamp& after, const std::string& path) {
  if (before.modifiedNs != after.modifiedNs || before.changedNs != after.changedNs ||
      before.size != after.size || before.inode != after.inode) {
    return true;
  }
  if (!before.contentHash) return false;
  // The last look saw the file while it was recent: only its contents can
  // show a write in the same tick.
  const std::optional<unsigned long long> now =
      after.contentHash ? after.contentHash : contentHashOf(path);
  return now != before.contentHash;
}

std::optional<WatchBatch> PollingWatcher::next(std::chrono::milliseconds timeout) {
  const auto deadline = PendingChanges::Clock::now() + timeout;
  while (true) {
    int waitMs = static_cast<int>(options_.pollInterval.count());
    if (!pending_.empty()) {
      const auto left = pending_.remaining(PendingChanges::Clock::now());
      if (left.count() == 0) return pending_.take();
      waitMs = std::min<int>(static_cast<int>(options_.settle.count()), waitMs);
    } else {
      const int untilDeadline = millisecondsUntil(deadline);
      if (untilDeadline == 0) return std::nullopt;
      waitMs = std::min(waitMs, untilDeadline);
    }
    if (waitForInput(-1, options_.stopDescriptor, waitMs) == WaitEnd::kStop) return std::nullopt;
    compare();
  }
}

}  // namespace qf
