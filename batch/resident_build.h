#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "batch/incremental_build.h"

namespace qf {

/// What a batch of changed paths asks of a resident build.
struct ChangeScope {
  /// Sources may have come or gone: list them again and judge every page.
  bool replan = false;
  std::vector<std::size_t> pages;  // the pages to judge, by plan index, each once, in order
  /// The assets to mirror, relative to the source directory; nullopt: all.
  std::optional<std::vector<std::string>> assets = std::vector<std::string>{};
  friend bool operator==(const ChangeScope&, const ChangeScope&) = default;
};

/// An incremental build that stays in memory while a site is watched: the
/// plan, what every page read, included, found and missed, and the asset
/// listing are kept between runs, so that a batch of changed paths decides
/// what is looked at. The state is read once, by the first run, and written
/// only by persist(). Pages that failed or use date symbols are judged in
/// every run, as a whole run would judge them.
class ResidentBuild {
 public:
  /// options.holdStateWrites and options.runsAgain are set here.
  ResidentBuild(IncrementalOptions options, std::vector<PlannedCompile> plan);

  /// What changed paths (spelled as the watcher gives them) ask for: the
  /// pages whose source, recorded inputs or probes they touch, those always
  /// judged, and the assets among them. rescan, a source or directory that
  /// came or went, ask for a replan; a file that may be a new asset, or an
  /// asset gone, for all assets.
  ChangeScope scopeOf(const std::vector<std::string>& changed, bool rescan);

  /// Begins the run that scope asks for (the first run judges everything):
  /// with scope.replan, over plan; else over the kept plan. Compile the pages
  /// of the returned build that are not up to date, then call its finish().
  IncrementalBuild& begin(const ChangeScope& scope, std::vector<PlannedCompile> plan = {});

  /// Whether the last run judged every page.
  bool lastRunWasWhole() const { return whole_; }

  /// Brings what is kept in memory up to date with the last run (else the
  /// next scopeOf() does it).
  void catchUp();
  /// Writes what the runs recorded to the state, and catches up.
  void persist();

  IncrementalBuild& build() { return build_; }

 private:
  void index();
  void indexPage(std::size_t page);
  void unindexPages(const std::vector<std::size_t>& pages);
  void noteDirectoriesOf(const std::string& path);

  IncrementalBuild build_;
  bool begun_ = false;
  bool whole_ = true;
  bool indexed_ = true;    // what is kept reflects the last run
  std::string sourceTop_;  // the source directory, normal, ending in '/'
  /// Normal path -> the pages that depend on it (read, included, found or missed).
  std::unordered_map<std::string, std::vector<std::size_t>> dependents_;
  /// Normal path -> how many pages found a file there (read, included, found).
  std::unordered_map<std::string, std::size_t> existing_;
  std::unordered_map<std::string, std::size_t> included_;  // the same, for includes
  /// Per page: its entries in dependents_, and how it used each.
  std::vector<std::vector<std::pair<std::string, DependencyKind>>> keysOf_;
  std::unordered_map<std::string, std::size_t> inputs_;  // normal source path -> page
  std::unordered_map<std::string, std::string> assets_;  // normal path -> path below the source
  std::unordered_set<std::string> directories_;          // every directory above a known file
  std::vector<char> alwaysJudged_;                       // per page
  std::size_t assetScans_ = 0;
};

}  // namespace qf
