#include "batch/site_assets.h"

#include <algorithm>

#include "base/directory.h"
#include "base/file_copy.h"
#include "base/file_stream.h"
#include "base/output_file.h"
#include "base/path.h"
#include "base/same_contents.h"
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
    for (const std::string& directory : scan.skippedDirectories) {
      if (const auto identity = directory.empty() ? std::nullopt : identityOf(directory)) {
        skipped_.push_back(*identity);
      }
    }
  }

  bool wanted(const std::string& relative, const DirectoryEntry& entry) override {
    if (!belongsToSite(entry.name) || excluded(relative)) return false;
    if (!entry.isDirectory) return !isSource(entry.name);
    if (skipped_.empty()) return true;
    const auto identity = identityOf(scan_.sourceDirectory + relative);
    return !identity || std::find(skipped_.begin(), skipped_.end(), *identity) == skipped_.end();
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
  std::vector<FileIdentity> skipped_;
  AssetListing listing_;
};

bool copyContents(const FileSource& source, const std::string& to) {
  OutputFile output;
  if (!output.open(to)) return false;
  if (!copyFileContents(source.descriptor(), output.descriptor())) {
    output.abandon();
    return false;
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

bool mirrorFile(const std::string& from, const std::string& to, long long modifiedNs) {
  const FileSource source(from);
  if (!source.isOpen()) return false;
  const auto existing = statusOf(to);
  const bool same = existing && existing->regular && hasSameContents(source.descriptor(), to);
  if (!same && !(makeDirectories(directoryOf(to)) && copyContents(source, to))) return false;
  const auto copied = same ? existing : statusOf(to);
  return copied && (copied->modifiedNs == modifiedNs || setModifiedTime(to, modifiedNs));
}

}  // namespace qf
