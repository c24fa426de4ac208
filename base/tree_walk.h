#pragma once

#include <string>
#include <string_view>

#include "base/directory.h"

namespace qf {

/// Receives what walkTree finds. Every relative path is '/'-separated, below
/// the walk's root, without a trailing '/' ("" for the root itself); the
/// full path is joinPath(root, relative).
class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;

  /// Whether an entry takes part in the walk: one that does not is neither
  /// entered, visited nor told as leading outside.
  virtual bool wanted(const std::string& relative, const DirectoryEntry& entry) = 0;
  /// Called just before a directory (the root too) is read; false leaves it
  /// unread.
  virtual bool enter(const std::string& relative) = 0;
  /// Each wanted entry of a directory that could be read, in byte order of
  /// names, after the walks of the sub-directories it holds.
  virtual void visit(const std::string& relative, const DirectoryEntry& entry) = 0;
  /// A directory that was entered but could not be read.
  virtual void unreadable(const std::string& /*relative*/) {}
  /// A wanted link whose target lies outside the root (only when the walk
  /// keeps inside): it is neither entered nor visited.
  virtual void leadsOutside(const std::string& /*relative*/) {}
};

struct TreeWalkOptions {
  /// Sub-directories are walked too, depth first.
  bool recurse = true;
  /// Links leading out of the root are told to leadsOutside() instead of
  /// being followed (the rule of resolveBelow).
  bool keepInside = false;
};

/// Walks the tree below root ("" for the current directory; a trailing '/'
/// is optional). Links are followed, except that a directory already on the
/// way down from the root (a link back up) is not entered again.
void walkTree(std::string_view root, TreeVisitor& visitor, const TreeWalkOptions& options = {});

}  // namespace qf
