#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "batch/build_plan.h"
#include "batch/build_state.h"
#include "batch/dependencies.h"
#include "batch/link_check.h"
#include "batch/site_assets.h"
#include "batch/warning_sink.h"
#include "engine/compile_observer.h"
#include "engine/compiler.h"

namespace qf {

struct FileIdentityHash {
  std::size_t operator()(const FileIdentity& identity) const {
    return std::hash<unsigned long long>()(static_cast<unsigned long long>(identity.inode) * 31 +
                                           static_cast<unsigned long long>(identity.device));
  }
};

/// Everything that shapes an incremental run's pages and what it keeps.
struct IncrementalOptions {
  BatchOptions batch;
  char directiveChar = '#';
  char concatChar = '|';
  std::vector<std::pair<std::string, std::string>> definitions;  // -D, in order
  std::optional<std::time_t> compileTime;                        // fixed moment of the date symbols
  std::string statePath;                                         // empty: keep no state
  std::string programVersion;
  bool alwaysMake = false;            // compile every page, whatever the state says
  std::vector<std::string> excludes;  // normal patterns left out of the mirrored assets
  /// Write <output>.d beside each page; an unchanged output then gets a new
  /// modification time (though it stays the same file), as make expects.
  bool dependencyFiles = false;
  std::string dependencyFile;    // a single page's rule goes here instead
  std::string dependencyTarget;  // the rule's target instead of the output
  /// Dependency files go here (ending in '/') instead of beside the outputs,
  /// at the outputs' paths below the output directory.
  std::string dependencyDirectory;
  bool phonyTargets = false;  // an empty rule per dependency
  int jobs = 1;               // compiling threads (batch/compile_pool.h); 0: one per core
  /// Check every page's local links against the output tree once it is
  /// complete (see BuildReport::brokenLinks).
  bool checkLinks = false;
  std::chrono::milliseconds lockTimeout{60000};
  /// The state is written only by commitState(), never during a run.
  bool holdStateWrites = false;
  /// Receives every warning of a run (about the state, dependency files,
  /// links), each once per run, as it is given: by begin() (at once, even
  /// while it waits for the state), compilePage() (one at a time, from the
  /// compiling threads) and finish().
  WarningSink warn;
  /// Runs begun by beginAgain() will follow: the link check keeps each page's
  /// broken links for them.
  bool runsAgain = false;
};

/// The compile of page that options ask for, telling observer (may be null)
/// what it looks at.
CompileRequest compileRequestFor(const IncrementalOptions& options, const PlannedCompile& page,
                                 CompileObserver* observer);

/// The dependency file -MD writes for output under options (not -MF's).
std::string dependencyFileOf(const IncrementalOptions& options, std::string_view output);

enum class PageStatus { kUpToDate, kCompiled, kFailed };

/// What became of one page of the plan.
struct PageResult {
  PageStatus status = PageStatus::kUpToDate;
  bool outputChanged = false;  // the output file was written
};

/// A broken link of a page, as reported.
struct BrokenLink {
  std::string output;  // the page's output path
  std::string line;    // the warning line, with its end
  friend bool operator==(const BrokenLink&, const BrokenLink&) = default;
};

/// What a whole run did.
struct BuildReport {
  std::vector<PageResult> pages;  // in plan order
  std::size_t compiled = 0;       // pages compiled, failed ones included
  std::size_t upToDate = 0;
  std::size_t failed = 0;             // failed pages and failed asset copies
  std::vector<std::string> changed;   // output paths written or removed, pages and assets
  std::vector<std::string> failures;  // one line each for assets that could not be copied
  /// With checkLinks, every broken link, page by page in plan order: the
  /// same whether the pages were compiled or found up to date.
  std::vector<BrokenLink> brokenLinks;
  int exitStatus() const { return failed ? 1 : 0; }
};

/// An incremental run over a plan: pages whose recorded inputs, misses,
/// options and date texts are unchanged, and whose output is still the file
/// that was written, are not compiled; every other page is. With an output
/// directory, the site's other files are mirrored beside the pages (not those
/// a page included, in its last good compile for a page that fails now, nor
/// pages this program wrote elsewhere in the tree): a copy is left alone while
/// it and its source are the files recorded at the last copy, else compared
/// byte for byte. Outputs of pages and assets that are gone are removed when
/// this program wrote them and they are unchanged since. Call begin(),
/// compilePage() for every page that is not up to date (from any threads;
/// batch/compile_pool.h does it), then finish().
class IncrementalBuild {
 public:
  /// A compile of the planned page with the observer in its request; returns
  /// whether it succeeded.
  using Compile = std::function<bool(const PlannedCompile& page, CompileObserver& observer)>;

  IncrementalBuild(IncrementalOptions options, std::vector<PlannedCompile> plan);
  ~IncrementalBuild();

  /// Opens the state (on the first call) and decides which pages are up to
  /// date; finish() then mirrors every asset.
  void begin();
  /// After finish(), begins another run over the records kept in memory:
  /// only the pages in check are judged (as begin() judges them), the others
  /// stay up to date. finish() then mirrors only the given assets (paths
  /// relative to the source directory), unless they are nullopt or a compile
  /// changed what a page includes: then it mirrors every asset, as begin().
  void beginAgain(const std::vector<std::size_t>& check,
                  std::optional<std::vector<std::string>> assets);
  /// Replaces the plan (before begin()); what pages of both plans depended
  /// on stays in the records.
  void replan(std::vector<PlannedCompile> plan);
  bool isUpToDate(std::size_t index) const { return upToDate_[index]; }
  /// What became of plan[index] in this run (after finish(): in the last one).
  const PageResult& resultOf(std::size_t index) const { return results_[index]; }
  /// Opens the state when begin() left that to be done beside the compiles
  /// (as it does when every page is compiled anyway), unless that is done:
  /// compileInParallel's own thread calls it once its helpers compile. Waits
  /// while another thread opens it. Any thread may call it.
  void openDeferredState();
  /// Walks the tree for the assets finish() mirrors, ahead of it, when the
  /// compiles write nothing inside the source tree (so that it lists what it
  /// would after them): compileInParallel's own thread calls it while its
  /// helpers compile.
  void listAssetsAhead();
  /// Compiles plan[index] through compile, recording what it depended on. A
  /// compile that throws leaves the page failed.
  PageResult compilePage(std::size_t index, const Compile& compile);
  /// Mirrors assets, removes stale outputs, commits the state (unless
  /// holdStateWrites); the report's pages hold what begin() and compilePage()
  /// found.
  BuildReport finish();
  /// Writes what the runs recorded to the state.
  void commitState();
  /// Closes the state (BuildState::close()); the records stay in memory.
  void closeState();

  /// Whether plan[index] is up to date by its records: its output is the file
  /// written, and its options, inputs, misses and date texts are as recorded.
  bool pageHolds(std::size_t index, StatusCache& statuses) const;
  bool judgeUpToDate(std::size_t index, StatusCache& statuses);
  /// The records of every page and output written, kept current; complete
  /// once finish() has begun.
  const BuildState& state() const { return state_; }
  /// The assets found by the last whole mirror, relative to the source
  /// directory, and how many whole mirrors there were.
  const std::vector<std::string>& assetListing() const { return assetListing_; }
  std::size_t assetScans() const { return assetScans_; }

  const std::vector<PlannedCompile>& plan() const { return plan_; }
  const IncrementalOptions& options() const { return options_; }
  /// What plan[index] depended on: as recorded, for a page begin() found up
  /// to date; as reported, for a page compiled (failed ones too); else none.
  const PageDependencies& dependenciesOf(std::size_t index) const { return *dependencies_[index]; }

 private:
  void judgeAll();
  void openLockedState();
  /// Makes sure the state is open, waiting for (or doing) a deferred
  /// opening, and records what was held meanwhile; with lock_ held, or alone.
  void awaitState();
  std::string optionsText(const PlannedCompile& page) const;
  void startRun();
  void writeDependencyFile(const PlannedCompile& page, const PageDependencies& dependencies);
  void warn(std::string warning);
  AssetScan assetScan() const;
  bool compilesWriteOutsideTheTree() const;
  void mirrorAssets(BuildReport& report);
  void mirrorAsset(const std::string& asset,
                   const std::unordered_set<std::string_view>& pageOutputs,
                   const std::unordered_set<FileIdentity, FileIdentityHash>& included,
                   const std::unordered_map<FileIdentity, FileStatus, FileIdentityHash>& pages,
                   BuildReport& report);
  /// The outputs of the plan, valid while it is.
  std::unordered_set<std::string_view> pageOutputs() const;
  std::unordered_set<FileIdentity, FileIdentityHash> includedIdentities() const;
  std::unordered_map<FileIdentity, FileStatus, FileIdentityHash> pagesWritten() const;
  bool assetHolds(const std::string& source, const FileStatus& status,
                  const std::string& destination) const;
  void removeStaleOutputs(BuildReport& report);
  void removeEmptiedDirectories(std::string directory) const;
  bool isInScope(const WrittenOutput& written) const;
  void checkLinks(BuildReport& report);

  IncrementalOptions options_;
  std::vector<PlannedCompile> plan_;
  std::unordered_set<std::string> toldOutside_;  // links leading outside already warned of
  std::vector<char> upToDate_;
  std::vector<PageResult> results_;
  /// Per page: the identities of what it included; nullopt when they are
  /// those of the kIncluded files in dependencies_.
  std::vector<std::optional<std::vector<FileIdentity>>> included_;
  std::vector<std::shared_ptr<const PageDependencies>> dependencies_;  // per page, never null
  std::vector<std::optional<PageLinks>> links_;                        // per page, with checkLinks
  std::unordered_set<std::string> warned_;  // the warnings given in this run
  std::mutex lock_;
  std::mutex warnLock_;  // orders the calls of options_.warn
  BuildState state_;
  // begin() left state_ to be opened beside the compiles, by
  // openDeferredState(), and awaitState() has not yet taken it over.
  std::atomic<bool> stateDeferred_{false};
  std::once_flag stateOnce_;
  std::atomic<bool> stateOpened_{false};
  // Pages compiled before the deferred state was open, recorded by awaitState().
  struct HeldRecord {
    std::string output;
    WrittenOutput written;
    PageRecord page;
  };
  std::vector<HeldRecord> heldRecords_;
  std::unordered_set<std::string> produced_;  // assets this run made or kept
  std::time_t moment_ = 0;                    // what the date symbols show in this run
  bool opened_ = false;                       // the state was opened (or there is none)
  /// The assets finish() mirrors: nullopt for all of them.
  std::optional<std::vector<std::string>> assetsToMirror_;
  std::atomic<bool> includedChanged_{false};  // a compile changed what its page includes
  std::vector<std::string> assetListing_;
  std::optional<AssetListing> assetsListedAhead_;  // for the next whole mirror
  std::size_t assetScans_ = 0;
  /// The pages the run begun by beginAgain() judged; nullopt after begin().
  std::optional<std::vector<std::size_t>> judgedAgain_;
  /// What the last link check saw, and each page's broken-link lines then.
  std::optional<OutputTree> checkedTree_;
  std::vector<std::vector<std::string>> brokenLines_;
};

}  // namespace qf
