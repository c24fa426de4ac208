#include "cli/preview_loop.h"

#include <chrono>
#include <filesystem>
#include <utility>

#include "base/path.h"
#include "serve/live_reload.h"

namespace qf {

namespace {

bool isStyleSheet(const std::string& urlPath) {
  return urlPath.size() > 4 && urlPath.compare(urlPath.size() - 4, 4, ".css") == 0;
}

}  // namespace

std::string urlPathOf(const std::string& file, const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code error;
  const std::string base =
      withoutTrailingSlashes(fs::absolute(root, error).lexically_normal().generic_string());
  const std::string path = fs::absolute(file, error).lexically_normal().generic_string();
  if (error || path.size() <= base.size() || !isInsideDirectory(path, base)) return "";
  return base == "/" ? path : path.substr(base.size());
}

std::vector<PageEvent> eventsAfterRebuild(const RebuildResult& result, const std::string& root,
                                          bool lastFailed) {
  std::vector<std::string> styleSheets;
  std::vector<std::string> others;
  for (const std::string& file : result.changedFiles) {
    std::string path = urlPathOf(file, root);
    if (path.empty()) continue;
    (isStyleSheet(path) ? styleSheets : others).push_back(std::move(path));
  }
  // Failures come last: a page that reloads then meets them as the
  // server's greeting.
  std::vector<PageEvent> events;
  if (!styleSheets.empty()) events.push_back({kCssEvent, std::move(styleSheets)});
  if (!others.empty()) events.push_back({kReloadEvent, std::move(others)});
  if (!result.failureLines.empty()) {
    events.push_back({kErrorEvent, result.failureLines});
  } else if (events.empty() && lastFailed) {
    events.push_back({kClearEvent, {}});
  }
  return events;
}

PreviewLoop::PreviewLoop(WatchOptions watch, std::unique_ptr<PreviewServer> server)
    : server_(std::move(server)) {
  watch.stopDescriptor = signals_.descriptor();
  watcher_ = makeWatcher(watch);
}

void PreviewLoop::watchWhatPagesNeed(const RebuildResult& result) {
  for (const std::string& directory : result.directoriesToWatch) {
    watcher_->watchDirectory(directory);
  }
  for (const std::string& tree : result.treesToWatch) watcher_->watchTree(tree);
  if (result.neededPaths) watcher_->setNeededPaths(*result.neededPaths);
}

void PreviewLoop::follow(const RebuildResult& result) {
  watchWhatPagesNeed(result);
  if (server_ && !result.failureLines.empty()) server_->publish(kErrorEvent, result.failureLines);
  lastFailed_ = !result.failureLines.empty();
  if (result.afterEvents) result.afterEvents();
}

int PreviewLoop::run(const Rebuild& rebuild) {
  while (signals_.caught() == 0) {
    const std::optional<WatchBatch> changes = watcher_->next(std::chrono::minutes(10));
    if (!changes) continue;
    const RebuildResult result = rebuild(*changes);
    if (result.skipped) continue;
    watchWhatPagesNeed(result);
    if (server_) {
      for (const PageEvent& event : eventsAfterRebuild(result, server_->root(), lastFailed_)) {
        server_->publish(event.name, event.lines);
      }
    }
    lastFailed_ = !result.failureLines.empty();
    if (result.afterEvents) result.afterEvents();
  }
  server_.reset();
  watcher_.reset();
  return signals_.caught();
}

}  // namespace qf
