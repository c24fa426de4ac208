#include "batch/incremental_build.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "base/directory.h"
#include "base/file_stream.h"
#include "base/output_file.h"
#include "base/path.h"
#include "base/worker_threads.h"
#include "batch/run_messages.h"
#include "batch/site_assets.h"
#include "engine/compiler.h"

namespace qf {

namespace {

constexpr char kStandardOutput[] = "-";

// What a page not judged nor compiled depended on: nothing known.
const std::shared_ptr<const PageDependencies>& noDependencies() {
  static const auto none = std::make_shared<const PageDependencies>();
  return none;
}

std::vector<FileIdentity> includedFiles(const PageDependencies& dependencies) {
  std::vector<FileIdentity> included;
  for (const Dependency& file : dependencies.files) {
    if (file.kind == DependencyKind::kIncluded) included.push_back(file.status.identity);
  }
  return included;
}

// Records what a compile depends on and, when asked, where its output lines
// came from.
class PageRecorder : public DependencyRecorder {
 public:
  explicit PageRecorder(bool mapLines) : mapLines_(mapLines) {}
  OutputLineMap* outputLineMap() override { return mapLines_ ? &map_ : nullptr; }
  void outputKept(const FileStatus& status) override { kept_ = status; }
  const OutputLineMap& map() const { return map_; }
  /// The output's status when the compile left it as it was.
  const std::optional<FileStatus>& kept() const { return kept_; }

 private:
  bool mapLines_;
  OutputLineMap map_;
  std::optional<FileStatus> kept_;
};

// The links of the page just written at path; nullopt when it cannot be read.
std::optional<PageLinks> readLinks(const PlannedCompile& page, const OutputLineMap& map) {
  FileSource file(page.output);
  std::string html;
  if (!file.isOpen() || !readRest(file, html)) return std::nullopt;
  return linksOf(html, &map, page.input);
}

}  // namespace

IncrementalBuild::IncrementalBuild(IncrementalOptions options, std::vector<PlannedCompile> plan)
    : options_(std::move(options)),
      plan_(std::move(plan)),
      upToDate_(plan_.size(), 0),
      results_(plan_.size()),
      included_(plan_.size()),
      dependencies_(plan_.size(), noDependencies()),
      links_(plan_.size()) {}

IncrementalBuild::~IncrementalBuild() = default;

// Every option that changes a page's bytes or its dependency file, as one
// text: a page recorded under other options is compiled again. The compile
// time is not among them: the date texts a page used are checked instead.
std::string IncrementalBuild::optionsText(const PlannedCompile& page) const {
  std::string text;
  text.reserve(options_.programVersion.size() + page.input.size() + page.output.size() +
               options_.batch.includeDirectory.size() + 16);
  text.append(options_.programVersion).append("\n").append(page.input).append("\n");
  text.append(page.output).append("\n");
  text.append(1, options_.directiveChar).append(1, options_.concatChar).append("\n");
  text.append(options_.batch.includeDirectory).append("\n");
  for (const auto& [name, value] : options_.definitions) text += "-D" + name + "=" + value + "\n";
  if (options_.dependencyFiles) {
    text += "\nrule " + options_.dependencyTarget + (options_.phonyTargets ? " phony" : "");
  }
  return text;
}

void IncrementalBuild::startRun() {
  moment_ = options_.compileTime.value_or(std::time(nullptr));
  results_.assign(plan_.size(), PageResult{});
  includedChanged_ = false;
  warned_.clear();
}

void IncrementalBuild::begin() {
  startRun();
  judgedAgain_.reset();
  upToDate_.assign(plan_.size(), 0);
  assetsToMirror_.reset();
  assetsListedAhead_.reset();
  if (options_.statePath.empty()) return;
  if (!opened_) {
    opened_ = true;
    if (!state_.lock(options_.statePath, options_.lockTimeout,
                     [this](const std::string& line) { warn(line); })) {
      return;
    }
    // When every page is compiled whatever the records say, they are needed
    // only to record the compiles: they are read beside them.
    stateDeferred_ = options_.alwaysMake || !statusOf(options_.statePath);
    if (stateDeferred_) return;
    openLockedState();
  }
  awaitState();
  if (!state_.isOpen() || options_.alwaysMake) return;
  judgeAll();
}

void IncrementalBuild::openLockedState() {
  state_.openLocked(options_.programVersion, [this](const std::string& line) { warn(line); });
  if (options_.holdStateWrites) state_.holdWrites();
  stateOpened_ = true;
}

void IncrementalBuild::openDeferredState() {
  if (stateDeferred_) std::call_once(stateOnce_, [this] { openLockedState(); });
}

void IncrementalBuild::awaitState() {
  if (!stateDeferred_) return;
  openDeferredState();
  stateDeferred_ = false;
  for (const HeldRecord& held : heldRecords_) {
    state_.recordPage(held.output, held.written, held.page);
  }
  heldRecords_.clear();
}

// The pages are judged in runs of kJudgedAtOnce by the jobs' threads, each
// with its own look at files. A page a thread could not judge (no memory) is
// left to be compiled.
void IncrementalBuild::judgeAll() {
  constexpr std::size_t kJudgedAtOnce = 64;
  std::atomic<std::size_t> next{0};
  const auto judge = [this, &next] {
    try {
      StatusCache statuses;
      for (std::size_t first; (first = next.fetch_add(kJudgedAtOnce)) < plan_.size();) {
        const std::size_t last = std::min(plan_.size(), first + kJudgedAtOnce);
        for (std::size_t i = first; i < last; ++i) upToDate_[i] = judgeUpToDate(i, statuses);
      }
    } catch (const std::bad_alloc&) {
    }
  };
  std::vector<std::thread> helpers =
      startHelpers(threadCount(options_.jobs, plan_.size() / kJudgedAtOnce) - 1, judge);
  judge();
  joinHelpers(helpers);
}

// Takes what an up-to-date page depended on (and its links) from its record.
bool IncrementalBuild::judgeUpToDate(std::size_t index, StatusCache& statuses) {
  if (!pageHolds(index, statuses)) return false;
  const PageRecord& record = state_.pages().at(plan_[index].output);
  // A page compiled without the check is compiled again for its line places.
  if (options_.checkLinks && !links_[index] &&
      !(record.links && (links_[index] = decodeLinks(*record.links)))) {
    return false;
  }
  dependencies_[index] = record.dependencies;
  included_[index].reset();
  return true;
}

void IncrementalBuild::beginAgain(const std::vector<std::size_t>& check,
                                  std::optional<std::vector<std::string>> assets) {
  awaitState();
  startRun();
  upToDate_.assign(plan_.size(), 1);
  judgedAgain_ = check;
  assetsToMirror_ = std::move(assets);
  assetsListedAhead_.reset();
  StatusCache statuses;
  for (const std::size_t i : check) {
    upToDate_[i] = !options_.alwaysMake && judgeUpToDate(i, statuses);
  }
}

void IncrementalBuild::replan(std::vector<PlannedCompile> plan) {
  plan_ = std::move(plan);
  upToDate_.assign(plan_.size(), 0);
  results_.assign(plan_.size(), PageResult{});
  included_.assign(plan_.size(), std::nullopt);
  dependencies_.assign(plan_.size(), noDependencies());
  links_.assign(plan_.size(), std::nullopt);
  checkedTree_.reset();
}

bool IncrementalBuild::pageHolds(std::size_t index, StatusCache& statuses) const {
  const PlannedCompile& page = plan_[index];
  if (page.output == kStandardOutput) return false;
  const auto record = state_.pages().find(page.output);
  const auto written = state_.outputs().find(page.output);
  if (record == state_.pages().end() || written == state_.outputs().end()) return false;
  if (record->second.failed || record->second.options != optionsText(page) ||
      !written->second.page) {
    return false;
  }
  const auto now = statusOf(page.output);
  if (!now || *now != written->second.status) return false;
  if (options_.dependencyFiles && !statusOf(dependencyFileOf(options_, page.output))) return false;
  return dependenciesHold(*record->second.dependencies, record->second.recordedAtNs, moment_,
                          statuses);
}

PageResult IncrementalBuild::compilePage(std::size_t index, const Compile& compile) {
  const PlannedCompile& page = plan_[index];
  const bool toFile = page.output != kStandardOutput;
  const long long recordedAtNs = fileClockNs();
  links_[index].reset();  // a page that fails has none, as in a fresh build
  PageRecorder recorder(options_.checkLinks);
  PageResult& result = results_[index];
  result.status = PageStatus::kFailed;  // until the compile has returned success
  const bool ok = compile(page, recorder);
  const auto dependencies = std::make_shared<const PageDependencies>(recorder.take());
  std::vector<FileIdentity> included = includedFiles(*dependencies);
  const std::vector<FileIdentity> includedBefore =
      included_[index] ? std::move(*included_[index]) : includedFiles(*dependencies_[index]);
  dependencies_[index] = dependencies;
  if (ok) result.status = PageStatus::kCompiled;
  if (!ok) {
    std::optional<BuildState::Changes> due;
    {
      std::lock_guard<std::mutex> guard(lock_);
      awaitState();
      // A failed compile stops before some of its includes: the files at the
      // paths the last good compile included still count as read, so they are
      // not taken for assets.
      const auto recorded = state_.pages().find(page.output);
      if (recorded != state_.pages().end()) {
        for (const Dependency& file : recorded->second.dependencies->files) {
          if (file.kind != DependencyKind::kIncluded) continue;
          if (const auto now = statusOf(file.path)) included.push_back(now->identity);
        }
        state_.markFailed(page.output);
        due = state_.takeDueChanges();
      }
      if (included != includedBefore) includedChanged_ = true;
      included_[index] = std::move(included);
    }
    if (due) state_.write(*due);
    return result;
  }
  if (included != includedBefore) includedChanged_ = true;
  included_[index] = std::move(included);
  if (!options_.dependencyFile.empty() || (options_.dependencyFiles && toFile)) {
    writeDependencyFile(page, *dependencies);
  } else if (options_.dependencyFiles) {
    warn(std::string(run_messages::kNoDependencyFileForStandardOutput));
  }
  if (!toFile) return result;
  // An output left as it was is known from the comparison that kept it.
  result.outputChanged = !recorder.kept();
  std::optional<FileStatus> after = recorder.kept() ? recorder.kept() : statusOf(page.output);
  // make judges by times: an output it asked for must look new, though its
  // unchanged bytes leave it the same file.
  if (options_.dependencyFiles && after && !result.outputChanged && markModifiedNow(page.output)) {
    after = statusOf(page.output);
  }
  if (!after) return result;
  PageRecord record{optionsText(page), recordedAtNs, dependencies};
  if (options_.checkLinks && (links_[index] = readLinks(page, recorder.map()))) {
    record.links = encodeLinks(*links_[index]);
  }
  std::optional<BuildState::Changes> due;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stateDeferred_ && !stateOpened_) {
      heldRecords_.push_back({page.output, WrittenOutput{page.input, true, *after, {}}, record});
      return result;
    }
    awaitState();
    state_.recordPage(page.output, WrittenOutput{page.input, true, *after, {}}, record);
    due = state_.takeDueChanges();
  }
  // Written outside the lock: the other threads go on recording meanwhile.
  if (due) state_.write(*due);
  return result;
}

void IncrementalBuild::commitState() {
  std::lock_guard<std::mutex> guard(lock_);
  awaitState();
  state_.commit();
}

void IncrementalBuild::closeState() {
  std::lock_guard<std::mutex> guard(lock_);
  awaitState();
  state_.close();
}

void IncrementalBuild::writeDependencyFile(const PlannedCompile& page,
                                           const PageDependencies& dependencies) {
  const std::string path = options_.dependencyFile.empty() ? dependencyFileOf(options_, page.output)
                                                           : options_.dependencyFile;
  const std::string& target =
      options_.dependencyTarget.empty() ? page.output : options_.dependencyTarget;
  std::string unwritable;
  const std::optional<std::string> rule =
      makeRule(target, dependencies, options_.phonyTargets, unwritable);
  if (!rule) {
    // An old rule would name what the page no longer depends on.
    removeFile(path);
    warn(run_messages::dependencyNameUnwritable(page.input, unwritable));
    return;
  }
  if (!options_.dependencyDirectory.empty()) makeDirectories(directoryOf(path));
  OutputFile file;
  if (file.open(path)) {
    file.write(*rule);
    file.commit();
  }
}

void IncrementalBuild::warn(std::string warning) {
  std::lock_guard<std::mutex> guard(warnLock_);
  if (warned_.insert(warning).second && options_.warn) options_.warn(warning);
}

BuildReport IncrementalBuild::finish() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    awaitState();
  }
  BuildReport report;
  report.pages = results_;
  for (std::size_t i = 0; i < plan_.size(); ++i) {
    if (upToDate_[i]) results_[i].status = report.pages[i].status = PageStatus::kUpToDate;
    const PageResult& page = report.pages[i];
    if (page.status == PageStatus::kUpToDate) ++report.upToDate;
    if (page.status != PageStatus::kUpToDate) ++report.compiled;
    if (page.status == PageStatus::kFailed) ++report.failed;
    if (page.outputChanged) report.changed.push_back(plan_[i].output);
  }
  const bool whole = !assetsToMirror_ || includedChanged_;
  if (whole) produced_.clear();
  if (options_.batch.useOutputDirectory) {
    if (whole) {
      mirrorAssets(report);
    } else if (!assetsToMirror_->empty()) {
      const auto outputs = pageOutputs();
      const auto included = includedIdentities();
      const auto pages = pagesWritten();
      for (const std::string& asset : *assetsToMirror_) {
        mirrorAsset(asset, outputs, included, pages, report);
      }
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (state_.isOpen() && whole) removeStaleOutputs(report);
  if (!options_.holdStateWrites) state_.commit();
  if (options_.checkLinks) checkLinks(report);
  if (state_.failed()) warn(run_messages::stateNotWritten(options_.statePath));
  return report;
}

// The pages' links are checked against the tree as this run leaves it; a page
// found up to date brings its links from the state, unread. After
// beginAgain(), when the tree's files and pages are as the last check found
// them, only the pages judged in this run are checked again.
void IncrementalBuild::checkLinks(BuildReport& report) {
  const BatchOptions& batch = options_.batch;
  const std::string& root =
      batch.useOutputDirectory ? batch.outputDirectory : batch.sourceDirectory;
  OutputTree tree = OutputTree::walk(root);
  std::vector<std::string> paths(plan_.size());
  for (std::size_t i = 0; i < plan_.size(); ++i) {
    const std::string& output = plan_[i].output;
    if (output.compare(0, root.size(), root) != 0) continue;
    // The earlier output of a page that fails now is not linked to: a build
    // into a new directory would not have it.
    if (results_[i].status == PageStatus::kFailed) tree.removeFile(output.substr(root.size()));
    if (!links_[i]) continue;
    paths[i] = output.substr(root.size());
    tree.addPage(paths[i], plan_[i].input, links_[i]->ids);
  }
  std::vector<char> check(plan_.size(), 1);
  if (judgedAgain_ && checkedTree_ && *checkedTree_ == tree) {
    check.assign(plan_.size(), 0);
    for (const std::size_t i : *judgedAgain_) check[i] = 1;
  } else {
    brokenLines_.assign(plan_.size(), {});
  }
  for (std::size_t i = 0; i < plan_.size(); ++i) {
    if (check[i]) {
      brokenLines_[i] =
          paths[i].empty() ? std::vector<std::string>{} : tree.check(paths[i], *links_[i]);
    }
    for (std::string& line : brokenLines_[i]) {
      report.brokenLinks.push_back({plan_[i].output, options_.runsAgain ? line : std::move(line)});
    }
  }
  if (options_.runsAgain) {
    checkedTree_ = std::move(tree);
  } else {
    brokenLines_.clear();
  }
}

std::unordered_set<std::string_view> IncrementalBuild::pageOutputs() const {
  std::unordered_set<std::string_view> outputs;
  outputs.reserve(plan_.size());
  for (const PlannedCompile& page : plan_) outputs.insert(page.output);
  return outputs;
}

std::unordered_set<FileIdentity, FileIdentityHash> IncrementalBuild::includedIdentities() const {
  std::unordered_set<FileIdentity, FileIdentityHash> included;
  for (std::size_t i = 0; i < plan_.size(); ++i) {
    if (included_[i]) {
      included.insert(included_[i]->begin(), included_[i]->end());
    } else {
      const std::vector<FileIdentity> recorded = includedFiles(*dependencies_[i]);
      included.insert(recorded.begin(), recorded.end());
    }
  }
  return included;
}

// Pages this program wrote, perhaps into another output directory inside the
// tree, are no assets while they are as written.
std::unordered_map<FileIdentity, FileStatus, FileIdentityHash> IncrementalBuild::pagesWritten()
    const {
  std::unordered_map<FileIdentity, FileStatus, FileIdentityHash> pages;
  for (const auto& [path, written] : state_.outputs()) {
    if (written.page) pages[written.status.identity] = written.status;
  }
  return pages;
}

AssetScan IncrementalBuild::assetScan() const {
  AssetScan scan{options_.batch.sourceDirectory,
                 options_.batch.sourceExtension,
                 options_.excludes,
                 {options_.batch.outputDirectory}};
  // Dependency files are the build's, not the site's.
  if (options_.dependencyFiles && !options_.dependencyDirectory.empty()) {
    scan.skippedDirectories.push_back(options_.dependencyDirectory);
  }
  return scan;
}

// The compiles write below the output directory and the dependency directory
// alone; neither may lie inside the source tree, nor hold it.
bool IncrementalBuild::compilesWriteOutsideTheTree() const {
  const auto source = resolvedPathOf(options_.batch.sourceDirectory);
  const auto outside = [&source](const std::string& directory) {
    const auto resolved = resolvedPathOf(directory);
    return resolved && !isInsideDirectory(*resolved, *source) &&
           !isInsideDirectory(*source, *resolved);
  };
  return source && options_.dependencyFile.empty() && outside(options_.batch.outputDirectory) &&
         (!options_.dependencyFiles || options_.dependencyDirectory.empty() ||
          outside(options_.dependencyDirectory));
}

void IncrementalBuild::listAssetsAhead() {
  if (!options_.batch.useOutputDirectory || assetsToMirror_ || !compilesWriteOutsideTheTree()) {
    return;
  }
  try {
    assetsListedAhead_ = listAssets(assetScan());
  } catch (const std::bad_alloc&) {  // finish() lists them
  }
}

void IncrementalBuild::mirrorAssets(BuildReport& report) {
  const auto included = includedIdentities();
  const auto outputs = pageOutputs();
  const auto pages = pagesWritten();
  const std::string& top = options_.batch.sourceDirectory;
  AssetListing listing =
      assetsListedAhead_ ? std::move(*assetsListedAhead_) : listAssets(assetScan());
  assetsListedAhead_.reset();
  // Told once for the life of the build: a preview loop walks again on every rebuild.
  for (const std::string& link : listing.linksOutside) {
    if (toldOutside_.insert(link).second) {
      warn(run_messages::linkLeadsOutside(top + link, withoutTrailingSlashes(top)));
    }
  }
  for (const std::string& asset : listing.assets) {
    mirrorAsset(asset, outputs, included, pages, report);
  }
  assetListing_ = std::move(listing.assets);
  ++assetScans_;
}

void IncrementalBuild::mirrorAsset(
    const std::string& asset, const std::unordered_set<std::string_view>& pageOutputs,
    const std::unordered_set<FileIdentity, FileIdentityHash>& included,
    const std::unordered_map<FileIdentity, FileStatus, FileIdentityHash>& pages,
    BuildReport& report) {
  const std::string destination = options_.batch.outputDirectory + asset;
  if (pageOutputs.count(destination)) return;
  const std::string source = options_.batch.sourceDirectory + asset;
  const auto status = statusOf(source);
  if (!status || included.count(status->identity)) return;
  const auto page = pages.find(status->identity);
  if (page != pages.end() && page->second == *status) return;
  produced_.insert(destination);
  if (assetHolds(source, *status, destination)) return;
  const auto before = statusOf(destination);
  if (!mirrorFile(source, destination, status->modifiedNs)) {
    report.failures.push_back(run_messages::assetNotCopied(source, destination));
    ++report.failed;
    return;
  }
  const auto after = statusOf(destination);
  if (after != before) report.changed.push_back(destination);
  if (after) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.recordOutput(destination, WrittenOutput{source, false, *after, *status});
  }
}

// As a page is judged: the copy is still the file written, and its source the
// file copied then. -B trusts no record and compares the bytes.
bool IncrementalBuild::assetHolds(const std::string& source, const FileStatus& status,
                                  const std::string& destination) const {
  if (options_.alwaysMake) return false;
  const auto recorded = state_.outputs().find(destination);
  if (recorded == state_.outputs().end()) return false;
  const WrittenOutput& written = recorded->second;
  if (written.page || written.source != source || written.sourceStatus != status) return false;
  const auto now = statusOf(destination);
  return now && *now == written.status;
}

// A recorded output this run did not make is removed when its source is gone
// or would have been used by this run (a removed page, an asset now included
// or excluded), and only while it is exactly the file this program wrote.
void IncrementalBuild::removeStaleOutputs(BuildReport& report) {
  const std::string& root = options_.batch.useOutputDirectory ? options_.batch.outputDirectory
                                                              : options_.batch.sourceDirectory;
  const std::unordered_set<std::string_view> pages = pageOutputs();
  std::vector<std::pair<std::string, WrittenOutput>> stale;
  for (const auto& [path, written] : state_.outputs()) {
    if (!pages.count(path) && !produced_.count(path) && path.starts_with(root)) {
      stale.emplace_back(path, written);
    }
  }
  for (const auto& [path, written] : stale) {
    const auto now = statusOf(path);
    if (now && *now == written.status) {
      if (probeFile(written.source) != OpenResult::kOpened || isInScope(written)) {
        if (removeFile(path)) {
          report.changed.push_back(path);
          removeEmptiedDirectories(directoryOf(path));
        }
        if (written.page && options_.dependencyFiles) removeFile(dependencyFileOf(options_, path));
      } else {
        continue;  // made by a run of wider scope; left alone
      }
    }
    state_.forgetOutput(path);
  }
}

// Output directories mirror source directories: one left empty whose source
// directory is gone goes too, and so on upwards, never the output directory.
void IncrementalBuild::removeEmptiedDirectories(std::string directory) const {
  if (!options_.batch.useOutputDirectory) return;
  const std::string top = withoutTrailingSlashes(options_.batch.outputDirectory);
  directory = withoutTrailingSlashes(directory);
  while (directory.size() > top.size() && isInsideDirectory(directory, top)) {
    const std::string source =
        withTrailingSlash(options_.batch.sourceDirectory) + directory.substr(top.size() + 1);
    if (isDirectory(source) || ::rmdir(directory.c_str()) != 0) return;
    directory = withoutTrailingSlashes(directoryOf(directory));
  }
}

bool IncrementalBuild::isInScope(const WrittenOutput& written) const {
  const std::string& top = options_.batch.sourceDirectory;
  if (!written.source.starts_with(top)) return false;
  if (!written.page) return true;
  return options_.batch.recursive || written.source.find('/', top.size()) == std::string::npos;
}

std::string dependencyFileOf(const IncrementalOptions& options, std::string_view output) {
  const BatchOptions& batch = options.batch;
  return dependencyFilePath(
      options.dependencyDirectory,
      batch.useOutputDirectory ? batch.outputDirectory : batch.sourceDirectory, output);
}

CompileRequest compileRequestFor(const IncrementalOptions& options, const PlannedCompile& page,
                                 CompileObserver* observer) {
  CompileRequest request;
  request.inputPath = page.input;
  request.outputPath = page.output;
  request.includeDirectory = options.batch.includeDirectory;
  request.directiveChar = options.directiveChar;
  request.concatChar = options.concatChar;
  request.definitions = options.definitions;
  request.observer = observer;
  return request;
}

}  // namespace qf
