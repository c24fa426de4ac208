#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"

namespace qf {

/// Which files of a site's tree are assets to mirror beside its pages.
struct AssetScan {
  std::string sourceDirectory;  // empty or ending in '/'
  std::string sourceExtension = ".src";
  std::vector<std::string> excludes;  // --exclude patterns
  /// Directories left out with all they hold (the output directory and the
  /// dependency directory, where they lie inside the tree).
  std::vector<std::string> skippedDirectories;
};

/// True when relative (a '/'-separated path below the source directory)
/// matches pattern as a whole: '*' and '?' stand for characters other than
/// '/', and a pattern matching a directory of the path matches the path too.
bool matchesExcludePattern(std::string_view pattern, std::string_view relative);

/// What listAssets found, as paths relative to the source directory.
struct AssetListing {
  std::vector<std::string> assets;
  /// Links (to files or directories) whose targets lie outside the source
  /// directory: they are not published.
  std::vector<std::string> linksOutside;
};

/// Every regular file (links followed; a dangling link is no file) in the
/// whole tree that belongs to the site (belongsToSite), is not a source and
/// is not left out: no match of an exclude pattern, nothing under a
/// skipped directory, nothing reached through a link leading outside the
/// source directory. Walks sub-directories first, each level in byte order,
/// and never follows a link back up. Devices, pipes and sockets are no files.
AssetListing listAssets(const AssetScan& scan);

/// Makes to a copy of the file at from with modification time modifiedNs.
/// A to that already holds from's bytes is kept (only its time set); else
/// from is copied through a temporary file, so a reader never sees half of
/// it, sharing blocks or keeping holes where the file system allows. False
/// when the copy failed.
bool mirrorFile(const std::string& from, const std::string& to, long long modifiedNs);

}  // namespace qf
