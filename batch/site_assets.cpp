#include "batch/site_assets.h"

#include <algorithm>

#include "base/directory.h"
#include "base/file_stream.h"
#include "base/output_file.h"
#include "base/path.h"
#include "base/site_path.h"
#include "base/tree_walk.h"
#include "batch/name_pattern.h"

namespace qf {

namespace {

std::vector<std::string_view> componentsOf(std::string_view path) {
  std::vector<std::string_view> components;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    components.push_back(path.substr(start, slash - start));
    if (slash == std::string_view::npos) return components;
    start = slash + 1;
  }
}

class AssetCollector final : public TreeVisitor {
 public:
  explicit AssetCollector(const AssetScan& scan) : scan_(scan) {
    if (!scan.skippedDirectory.empty()) skipped_ = identityOf(scan.skippedDirectory);
  }

  bool wanted(const std::string& relative, const DirectoryEntry& entry) override {
    if (!belongsToSite(entry.name) || excluded(relative)) return false;
    if (!entry.isDirectory) return !isSource(entry.name);
    return !skipped_ || identityOf(scan_.sourceDirectory + relative) != skipped_;
  }
  bool enter(const std::string&) override { return true; }
  void visit(const std::string& relative, const DirectoryEntry& entry) override {
    if (entry.isDirectory) return;
    const auto status = statusOf(scan_.sourceDirectory + relative);
    if (status && status->regular) listing_.assets.push_back(relative);
  }
  void leadsOutside(const std::string& relative) override {
    listing_.linksOutside.push_back(relative);
  }

  AssetListing take() { return std::move(listing_); }

 private:
  bool excluded(const std::string& relative) const {
    return std::any_of(scan_.excludes.begin(), scan_.excludes.end(),
                       [&](const std::string& p) { return matchesExcludePattern(p, relative); });
  }

  bool isSource(std::string_view name) const {
    return matchesNamePattern("*" + scan_.sourceExtension, name);
  }

  const AssetScan& scan_;
  std::optional<FileIdentity> skipped_;
  AssetListing listing_;
};

bool copyContents(const std::string& from, const std::string& to) {
  FileSource source(from);
  if (!source.isOpen()) return false;
  OutputFile output;
  if (!output.open(to)) return false;
  char buffer[1 << 16];
  for (;;) {
    const long n = source.read(buffer, sizeof buffer);
    if (n < 0) {
      output.abandon();
      return false;
    }
    if (n == 0) break;
    output.write(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  return output.commit();
}

}  // namespace

bool matchesExcludePattern(std::string_view pattern, std::string_view relative) {
  const std::vector<std::string_view> wanted = componentsOf(pattern);
  const std::vector<std::string_view> path = componentsOf(relative);
  if (wanted.size() > path.size()) return false;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (!matchesNamePattern(wanted[i], path[i])) return false;
  }
  return true;
}

AssetListing listAssets(const AssetScan& scan) {
  AssetCollector collector(scan);
  TreeWalkOptions options;
  options.keepInside = true;
  walkTree(scan.sourceDirectory, collector, options);
  return collector.take();
}

bool mirrorFile(const std::string& from, const FileStatus& fromStatus, const std::string& to,
                bool& changed) {
  changed = false;
  const auto existing = statusOf(to);
  if (existing && existing->regular && existing->size == fromStatus.size &&
      existing->modifiedNs == fromStatus.modifiedNs) {
    return true;
  }
  changed = true;
  if (!makeDirectories(directoryOf(to))) return false;
  return copyContents(from, to) && setModifiedTime(to, fromStatus.modifiedNs);
}

}  // namespace qf
