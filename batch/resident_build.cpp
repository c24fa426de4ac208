#include "batch/resident_build.h"

#include <string_view>
#include <utility>

#include "base/file_system.h"
#include "base/path.h"

namespace qf {

namespace {

IncrementalOptions residentOptions(IncrementalOptions options) {
  options.holdStateWrites = true;
  options.runsAgain = true;
  return options;
}

// Kinds that say the path was a file when the page was compiled.
bool namesAFile(DependencyKind kind) { return kind != DependencyKind::kMissing; }

}  // namespace

ResidentBuild::ResidentBuild(IncrementalOptions options, std::vector<PlannedCompile> plan)
    : build_(residentOptions(std::move(options)), std::move(plan)),
      sourceTop_(withTrailingSlash(normalPath(build_.options().batch.sourceDirectory))) {}

IncrementalBuild& ResidentBuild::begin(const ChangeScope& scope, std::vector<PlannedCompile> plan) {
  if (!indexed_) index();
  whole_ = !begun_ || scope.replan;
  if (begun_ && scope.replan) build_.replan(std::move(plan));
  if (whole_) {
    build_.begin();
  } else {
    build_.beginAgain(scope.pages, scope.assets);
  }
  begun_ = true;
  indexed_ = false;
  return build_;
}

void ResidentBuild::catchUp() {
  if (!indexed_) index();
}

void ResidentBuild::persist() {
  build_.commitState();
  catchUp();
}

ChangeScope ResidentBuild::scopeOf(const std::vector<std::string>& changed, bool rescan) {
  ChangeScope scope;
  if (rescan || !begun_) {
    scope.replan = true;
    scope.assets.reset();
    return scope;
  }
  if (!indexed_) index();
  std::vector<char> judged = alwaysJudged_;
  const bool mirroring = build_.options().batch.useOutputDirectory;
  const std::string& extension = build_.options().batch.sourceExtension;
  for (const std::string& spelled : changed) {
    const std::string path = normalPath(spelled);
    const std::optional<FileStatus> status = statusOf(path);
    bool knownFile = false;
    if (const auto it = dependents_.find(path); it != dependents_.end()) {
      for (const std::size_t page : it->second) judged[page] = 1;
      knownFile = existing_.count(path) > 0;
      // An included file is no asset, and stays none while it is included.
      if (included_.count(path)) continue;
    }
    if (const auto it = inputs_.find(path); it != inputs_.end()) {
      judged[it->second] = 1;
      if (!status) scope.replan = true;
      continue;
    }
    const bool inTree = path.starts_with(sourceTop_);
    if (status && inTree && (isDirectory(path) || path.ends_with(extension))) scope.replan = true;
    if (!status && directories_.count(path)) scope.replan = true;
    if (const auto it = assets_.find(path); it != assets_.end()) {
      if (status && status->regular) {
        if (scope.assets) scope.assets->push_back(it->second);
      } else {
        scope.assets.reset();  // its copy goes
      }
    } else if (status && inTree && mirroring && !knownFile) {
      scope.assets.reset();  // perhaps a new asset
    }
  }
  if (scope.replan) {
    scope.pages.clear();
    scope.assets.reset();
    return scope;
  }
  for (std::size_t i = 0; i < judged.size(); ++i) {
    if (judged[i]) scope.pages.push_back(i);
  }
  return scope;
}

// After a whole run every page is indexed anew; after another, those the run
// compiled.
void ResidentBuild::index() {
  indexed_ = true;
  if (!begun_) return;
  const std::vector<PlannedCompile>& plan = build_.plan();
  if (whole_) {
    dependents_.clear();
    existing_.clear();
    included_.clear();
    inputs_.clear();
    keysOf_.assign(plan.size(), {});
    alwaysJudged_.assign(plan.size(), 0);
    for (std::size_t i = 0; i < plan.size(); ++i) {
      inputs_[normalPath(plan[i].input)] = i;
      noteDirectoriesOf(normalPath(plan[i].input));
      indexPage(i);
    }
  } else {
    std::vector<std::size_t> compiled;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      if (build_.resultOf(i).status != PageStatus::kUpToDate) compiled.push_back(i);
    }
    unindexPages(compiled);
    for (const std::size_t page : compiled) indexPage(page);
  }
  if (assetScans_ != build_.assetScans()) {
    assetScans_ = build_.assetScans();
    assets_.clear();
    for (const std::string& asset : build_.assetListing()) {
      std::string path = normalPath(build_.options().batch.sourceDirectory + asset);
      noteDirectoriesOf(path);
      assets_.emplace(std::move(path), asset);
    }
  }
}

void ResidentBuild::indexPage(std::size_t page) {
  const PageDependencies& dependencies = build_.dependenciesOf(page);
  for (const Dependency& file : dependencies.files) {
    std::string path = normalPath(file.path);
    std::vector<std::size_t>& pages = dependents_[path];
    // Only this page adds to the lists meanwhile: a path it named before is
    // last in its list.
    if (pages.empty() || pages.back() != page) pages.push_back(page);
    if (namesAFile(file.kind)) ++existing_[path];
    if (file.kind == DependencyKind::kIncluded) ++included_[path];
    noteDirectoriesOf(path);
    keysOf_[page].emplace_back(std::move(path), file.kind);
  }
  const auto record = build_.state().pages().find(build_.plan()[page].output);
  alwaysJudged_[page] = build_.resultOf(page).status == PageStatus::kFailed ||
                        !dependencies.dates.empty() || record == build_.state().pages().end() ||
                        record->second.failed;
}

// Each path the pages used is cleared of them once, however many of them used
// it: an include of every page costs one pass over its list.
void ResidentBuild::unindexPages(const std::vector<std::size_t>& pages) {
  const auto uncount = [](std::unordered_map<std::string, std::size_t>& counts,
                          const std::string& path) {
    const auto count = counts.find(path);
    if (count != counts.end() && --count->second == 0) counts.erase(count);
  };
  std::vector<char> leaving(keysOf_.size(), 0);
  std::unordered_set<std::string_view> paths;
  for (const std::size_t page : pages) {
    leaving[page] = 1;
    for (const auto& [path, kind] : keysOf_[page]) {
      paths.insert(path);
      if (namesAFile(kind)) uncount(existing_, path);
      if (kind == DependencyKind::kIncluded) uncount(included_, path);
    }
  }
  for (const std::string_view path : paths) {
    const auto it = dependents_.find(std::string(path));
    if (it == dependents_.end()) continue;
    std::erase_if(it->second, [&leaving](std::size_t page) { return leaving[page] != 0; });
    if (it->second.empty()) dependents_.erase(it);
  }
  for (const std::size_t page : pages) keysOf_[page].clear();
}

void ResidentBuild::noteDirectoriesOf(const std::string& path) {
  for (std::string directory = directoryOf(path); !directory.empty();
       directory = directoryOf(directory)) {
    directory = withoutTrailingSlashes(directory);
    if (directory.empty() || !directories_.insert(directory).second) break;
  }
}

}  // namespace qf
