#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/stop_signals.h"
#include "base/watcher.h"
#include "serve/preview_service.h"

namespace qf {

/// What a rebuild tells the loop.
struct RebuildResult {
  /// True when the changes called for no rebuild (e.g. they were the last
  /// rebuild's own writes): no events, and the last outcome stands.
  bool skipped = false;
  /// Output files the rebuild wrote anew or removed, as the build spells them.
  std::vector<std::string> changedFiles;
  /// The rebuild's failure lines (with their include chains); none when good.
  std::vector<std::string> failureLines;
  /// Directories to watch from now on: those of the files the pages depend
  /// on and of the files searched for but missing.
  std::vector<std::string> directoriesToWatch;
  /// Trees (sub-directories included) to watch again should they have
  /// vanished and come back.
  std::vector<std::string> treesToWatch;
  /// When set, the paths (spelled as the watcher reports them) that pages
  /// depend on although their names look like editors' scratch files.
  std::optional<std::set<std::string>> neededPaths;
  /// When links were checked: each broken link's page (its output file) and
  /// warning line.
  std::optional<std::vector<std::pair<std::string, std::string>>> brokenLinks;
  /// Called once the events of the rebuild have been sent; may be empty.
  std::function<void()> afterEvents;
  /// Called once the watcher has then been quiet for the loop's quiet time,
  /// unless a later rebuild's takes its place first; may be empty (an earlier
  /// one still waiting then stays). Not called when the loop stops.
  std::function<void()> whenQuiet;
};

/// One failure of a build: its text as written (an include chain, then
/// "FILE:LINE: MESSAGE", then any notes; each line ending in '\n') and the
/// output of the page that failed ("" when no page did).
struct BuildFailure {
  std::string text;
  std::string output;
};

/// Failures alike: those whose texts are the same once their include chains
/// are left out (one broken include used by many pages).
struct FailureGroup {
  std::string text;                  // the first one's
  std::vector<std::string> outputs;  // of the pages that failed so
  std::size_t count = 0;             // the failures in the group
};

/// failures grouped, in the order of each group's first.
std::vector<FailureGroup> groupedFailures(const std::vector<BuildFailure>& failures);

/// A group as the terminal shows it: its text, then "(and N other pages)"
/// when it stands for more than one failure.
std::string groupText(const FailureGroup& group);

/// The lines of an error event for groups (see kErrorEvent): for each, the
/// URL paths below root of its pages, its text, and an empty line.
std::vector<std::string> errorEventLines(const std::vector<FailureGroup>& groups,
                                         const std::string& root);

/// Rebuilds what the changes touch (everything when changes.rescan is set).
using Rebuild = std::function<RebuildResult(const WatchBatch& changes)>;

/// One event for the open pages.
struct PageEvent {
  std::string_view name;
  std::vector<std::string> lines;
  friend bool operator==(const PageEvent&, const PageEvent&) = default;
};

/// The events after a rebuild whose output is served from root: "css" for
/// changed style sheets, "reload" for every other changed file (as URL
/// paths; files outside root are left out), "links" for the broken links
/// when they were checked, "error" for failures, and "clear" when a good
/// build after a failed one changed nothing.
std::vector<PageEvent> eventsAfterRebuild(const RebuildResult& result, const std::string& root,
                                          bool lastFailed);

/// The "links" event for brokenLinks (page output files and warning lines)
/// of a site served from root; pages outside root are left out.
PageEvent linksEvent(const std::vector<std::pair<std::string, std::string>>& brokenLinks,
                     const std::string& root);

/// The URL path of file under root ("/sub/page.html"), or "" when it lies
/// outside root. Both may be relative to the working directory.
std::string urlPathOf(const std::string& file, const std::string& root);

/// Watches, rebuilds and tells the browsers until SIGINT or SIGTERM.
class PreviewLoop {
 public:
  /// Starts catching the stop signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) and watching as watch
  /// says. Make the loop before the first build, so that no save made during it is missed. server
  /// (started by the caller) may be null: watching without serving. A rebuild's whenQuiet waits
  /// for quietTime without changes.
  PreviewLoop(WatchOptions watch, std::unique_ptr<PreviewService> server,
              std::chrono::milliseconds quietTime = std::chrono::seconds(1));

  /// Rebuilds after each settled batch of changes and sends the pages their
  /// events, until SIGINT or SIGTERM (a rebuild under way is finished first);
  /// then stops the server and the watcher and returns the signal's number,
  /// for endWithSignal once the caller has put its own things away.
  int run(const Rebuild& rebuild);

  /// Watches the directories and needed paths of a build made outside
  /// run() (the first one); its failures greet pages opened later.
  void follow(const RebuildResult& result);

  PreviewService* server() { return server_.get(); }

 private:
  void watchWhatPagesNeed(const RebuildResult& result);
  /// Remembers whether the rebuild failed and runs what it asked for once its
  /// events are sent.
  void afterPublishing(const RebuildResult& result);

  StopSignals signals_;
  std::unique_ptr<Watcher> watcher_;
  std::unique_ptr<PreviewService> server_;
  bool lastFailed_ = false;
  std::chrono::milliseconds quietTime_;
  std::function<void()> whenQuiet_;  // the last rebuild's, until called
};

}  // namespace qf
