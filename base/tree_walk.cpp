#include "base/tree_walk.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/file_system.h"
#include "base/path.h"

namespace qf {

namespace {

class Walk {
 public:
  Walk(std::string_view root, TreeVisitor& visitor, const TreeWalkOptions& options)
      : root_(root), visitor_(visitor), options_(options) {}

  void run() {
    if (options_.keepInside) realRoot_ = resolvedPathOf(pathOf("")).value_or("");
    const std::optional<FileIdentity> identity = identityOf(pathOf(""));
    if (identity) onTheWay_.push_back(*identity);
    if (visitor_.enter("")) walk("");
  }

 private:
  std::string pathOf(const std::string& relative) const {
    const std::string path = joinPath(root_, relative);
    return path.empty() ? "." : path;
  }

  void walk(const std::string& directory) {
    const auto entries = listDirectory(pathOf(directory));
    if (!entries) {
      visitor_.unreadable(directory);
      return;
    }
    std::vector<const DirectoryEntry*> taken;
    for (const DirectoryEntry& entry : *entries) {
      const std::string relative = joinPath(directory, entry.name);
      if (!visitor_.wanted(relative, entry)) continue;
      if (options_.keepInside && entry.isLink &&
          resolveBelow(pathOf(relative), realRoot_).kind == ResolvedBelow::Kind::kOutside) {
        visitor_.leadsOutside(relative);
        continue;
      }
      taken.push_back(&entry);
    }
    if (options_.recurse) {
      for (const DirectoryEntry* entry : taken) {
        if (entry->isDirectory) descend(joinPath(directory, entry->name));
      }
    }
    for (const DirectoryEntry* entry : taken)
      visitor_.visit(joinPath(directory, entry->name), *entry);
  }

  void descend(const std::string& directory) {
    const std::optional<FileIdentity> identity = identityOf(pathOf(directory));
    // A link back to a directory on the way down would make the walk endless.
    if (!identity || std::find(onTheWay_.begin(), onTheWay_.end(), *identity) != onTheWay_.end()) {
      return;
    }
    if (!visitor_.enter(directory)) return;
    onTheWay_.push_back(*identity);
    walk(directory);
    onTheWay_.pop_back();
  }

  const std::string root_;
  TreeVisitor& visitor_;
  const TreeWalkOptions& options_;
  std::string realRoot_;
  std::vector<FileIdentity> onTheWay_;
};

}  // namespace

void walkTree(std::string_view root, TreeVisitor& visitor, const TreeWalkOptions& options) {
  Walk(root, visitor, options).run();
}

}  // namespace qf
