#include "batch/site_assets.h"

#include <algorithm>

#include "base/directory.h"
#include "base/file_copy.h"
#include "base/file_stream.h"
#include "base/output_file.h"
#include "base/path.h"
#include "base/same_contents.h"
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

class AssetWalk {
 public:
  explicit AssetWalk(const AssetScan& scan) : scan_(scan) {
    if (!scan.skippedDirectory.empty()) skipped_ = identityOf(scan.skippedDirectory);
  }

  std::vector<std::string> run() {
    if (const auto top = identityOf(scan_.sourceDirectory.empty() ? "." : scan_.sourceDirectory)) {
      walk_.push_back(*top);
    }
    visit("");
    return std::move(assets_);
  }

 private:
  void visit(const std::string& relative) {
    const auto entries = listDirectory(scan_.sourceDirectory + relative);
    if (!entries) return;
    for (const DirectoryEntry& entry : *entries) {
      if (entry.isDirectory && !leftOut(relative + entry.name))
        descend(relative + entry.name + "/");
    }
    for (const DirectoryEntry& entry : *entries) {
      const std::string path = relative + entry.name;
      if (entry.isDirectory || leftOut(path) || isSource(entry.name)) continue;
      const auto status = statusOf(scan_.sourceDirectory + path);
      if (status && status->regular) assets_.push_back(path);
    }
  }

  void descend(const std::string& relative) {
    const auto identity = identityOf(scan_.sourceDirectory + relative);
    if (!identity || (skipped_ && *identity == *skipped_)) return;
    // A link back to a directory being walked would make the walk endless.
    if (std::find(walk_.begin(), walk_.end(), *identity) != walk_.end()) return;
    walk_.push_back(*identity);
    visit(relative);
    walk_.pop_back();
  }

  bool leftOut(const std::string& relative) const {
    if (fileNameOf(relative).view().starts_with('.')) return true;
    return std::any_of(scan_.excludes.begin(), scan_.excludes.end(),
                       [&](const std::string& p) { return matchesExcludePattern(p, relative); });
  }

  bool isSource(std::string_view name) const {
    return matchesNamePattern("*" + scan_.sourceExtension, name);
  }

  const AssetScan& scan_;
  std::optional<FileIdentity> skipped_;
  std::vector<FileIdentity> walk_;
  std::vector<std::string> assets_;
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

std::vector<std::string> listAssets(const AssetScan& scan) { return AssetWalk(scan).run(); }

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
