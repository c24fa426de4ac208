#include "batch/source_list.h"

#include "base/path.h"
#include "base/tree_walk.h"
#include "batch/name_pattern.h"

namespace qf {

namespace {

// Adds prefix + relative for every entry whose name matches, whatever its
// type, and every directory that cannot be read.
class SourceCollector final : public TreeVisitor {
 public:
  SourceCollector(std::string_view directory, std::string_view namePattern, std::string_view prefix,
                  std::vector<std::string>& paths, std::vector<std::string>& unreadable)
      : directory_(directory),
        namePattern_(namePattern),
        prefix_(prefix),
        paths_(paths),
        unreadable_(unreadable) {}

  bool wanted(const std::string&, const DirectoryEntry&) override { return true; }
  bool enter(const std::string&) override { return true; }
  void visit(const std::string& relative, const DirectoryEntry& entry) override {
    if (!matchesNamePattern(namePattern_, entry.name)) return;
    paths_.push_back(prefix_ + relative);
    ++added_;
  }
  void unreadable(const std::string& relative) override {
    const std::string shown = withoutTrailingSlashes(joinPath(directory_, relative));
    unreadable_.push_back(shown.empty() ? "." : shown);
  }

  std::size_t added() const { return added_; }

 private:
  const std::string_view directory_;
  const std::string_view namePattern_;
  const std::string prefix_;
  std::vector<std::string>& paths_;
  std::vector<std::string>& unreadable_;
  std::size_t added_ = 0;
};

}  // namespace

std::size_t SourceList::scan(std::string_view pattern, bool recurse, std::string_view prefix) {
  clear();
  return scanDirectory(pattern, recurse, prefix);
}

std::size_t SourceList::scanDirectory(std::string_view pattern, bool recurse,
                                      std::string_view prefix) {
  const std::string directory = directoryOf(pattern);
  SourceCollector collector(directory, pattern.substr(directory.size()), prefix, paths_,
                            unreadable_);
  TreeWalkOptions options;
  options.recurse = recurse;
  walkTree(directory, collector, options);
  return collector.added();
}

void SourceList::clear() {
  paths_.clear();
  unreadable_.clear();
}

}  // namespace qf
