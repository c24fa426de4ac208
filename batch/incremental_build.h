#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "batch/build_plan.h"
#include "batch/build_state.h"
#include "batch/dependencies.h"
#include "batch/link_check.h"
#include "engine/compile_observer.h"
#include "engine/compiler.h"

namespace qf {

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
  /// Called from begin() with a line to show at once (no line end), while
  /// begin() goes on waiting; may be empty.
  std::function<void(const std::string& line)> notice;
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
  std::vector<std::string> warnings;  // about the state, dependency files, links; one line each
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

  /// Opens the state and decides which pages are up to date.
  void begin();
  bool isUpToDate(std::size_t index) const { return upToDate_[index]; }
  /// Compiles plan[index] through compile, recording what it depended on. A
  /// compile that throws leaves the page failed.
  PageResult compilePage(std::size_t index, const Compile& compile);
  /// Mirrors assets, removes stale outputs, commits the state; the report's
  /// pages hold what begin() and compilePage() found.
  BuildReport finish();

  const std::vector<PlannedCompile>& plan() const { return plan_; }
  const IncrementalOptions& options() const { return options_; }
  /// What plan[index] depended on: as recorded, for a page begin() found up
  /// to date; as reported, for a page compiled (failed ones too); else none.
  const PageDependencies& dependenciesOf(std::size_t index) const { return dependencies_[index]; }
  /// The warnings given so far (by begin(), then by compilePage()), each one
  /// line and each once.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  std::string optionsText(const PlannedCompile& page) const;
  bool pageHolds(const PlannedCompile& page, StatusCache& statuses) const;
  void recordCompiled(std::size_t index, const PlannedCompile& page, PageDependencies dependencies,
                      const std::optional<FileStatus>& before);
  void writeDependencyFile(const PlannedCompile& page, const PageDependencies& dependencies);
  void warn(std::string warning);
  void mirrorAssets(BuildReport& report);
  bool assetHolds(const std::string& source, const FileStatus& status,
                  const std::string& destination) const;
  void removeStaleOutputs(BuildReport& report);
  void removeEmptiedDirectories(std::string directory) const;
  bool isInScope(const WrittenOutput& written) const;
  void checkLinks(BuildReport& report) const;

  IncrementalOptions options_;
  std::vector<PlannedCompile> plan_;
  std::vector<char> upToDate_;
  std::vector<PageResult> results_;
  std::vector<std::vector<FileIdentity>> included_;  // per page
  std::vector<PageDependencies> dependencies_;       // per page
  std::vector<std::optional<PageLinks>> links_;      // per page, with checkLinks
  std::vector<std::string> warnings_;
  std::mutex lock_;
  BuildState state_;
  std::unordered_set<std::string> produced_;  // outputs this run made or kept
  std::time_t moment_ = 0;                    // what the date symbols show in this run
};

}  // namespace qf
