#include "cli/preview_loop.h"

#include <chrono>
#include <map>
#include <utility>

#include "base/file_system.h"
#include "base/path.h"
#include "batch/run_messages.h"
#include "engine/compile_result.h"
#include "serve/live_reload.h"

namespace qf {

namespace {

bool isStyleSheet(const std::string& urlPath) {
  return urlPath.size() > 4 && urlPath.compare(urlPath.size() - 4, 4, ".css") == 0;
}

// The text that tells failures alike: without the include chain.
std::string groupingKey(const std::string& text) {
  std::string key;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = std::string_view(text).substr(at, end - at);
    if (!isIncludeChainLine(line)) key.append(line).push_back('\n');
    at = end + 1;
  }
  return key;
}

}  // namespace

PageEvent linksEvent(const std::vector<std::pair<std::string, std::string>>& brokenLinks,
                     const std::string& root) {
  PageEvent event{kLinksEvent, {std::string(run_messages::kBrokenLinksPanelTitle)}};
  event.lines.reserve(brokenLinks.size() + 1);
  // A page's links come one after another: its URL path is found once.
  const std::string* lastPage = nullptr;
  std::string path;
  for (const auto& [page, line] : brokenLinks) {
    if (!lastPage || page != *lastPage) path = urlPathOf(page, root);
    lastPage = &page;
    if (path.empty()) continue;
    event.lines.push_back(path + "\t" + line.substr(0, line.find('\n')));
  }
  return event;
}

std::vector<FailureGroup> groupedFailures(const std::vector<BuildFailure>& failures) {
  std::vector<FailureGroup> groups;
  std::map<std::string, std::size_t> groupOfKey;
  for (const BuildFailure& failure : failures) {
    const auto [it, isNew] = groupOfKey.emplace(groupingKey(failure.text), groups.size());
    if (isNew) groups.push_back({failure.text, {}, 0});
    FailureGroup& group = groups[it->second];
    ++group.count;
    if (!failure.output.empty()) group.outputs.push_back(failure.output);
  }
  return groups;
}

std::string groupText(const FailureGroup& group) {
  std::string text = group.text;
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (group.count > 1) text += run_messages::andOtherPages(group.count - 1) + "\n";
  return text;
}

std::vector<std::string> errorEventLines(const std::vector<FailureGroup>& groups,
                                         const std::string& root) {
  std::vector<std::string> lines;
  for (const FailureGroup& group : groups) {
    std::string pages(kFailurePagesPrefix);
    for (const std::string& output : group.outputs) {
      const std::string path = urlPathOf(output, root);
      if (!path.empty()) pages += (pages.size() > kFailurePagesPrefix.size() ? " " : "") + path;
    }
    lines.push_back(std::move(pages));
    std::string text = groupText(group);
    text.pop_back();
    lines.push_back(std::move(text));
    lines.emplace_back();
  }
  return lines;
}

std::string urlPathOf(const std::string& file, const std::string& root) {
  const std::string absoluteRoot = absolutePath(root);
  const std::string absoluteFile = absolutePath(file);
  if (absoluteRoot.empty() || absoluteFile.empty()) return "";
  const std::string base = withoutTrailingSlashes(lexicallyNormal(absoluteRoot));
  const std::string path = lexicallyNormal(absoluteFile);
  if (path.size() <= base.size() || !isInsideDirectory(path, base)) return "";
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
  const bool changed = !events.empty();
  if (result.brokenLinks) events.push_back(linksEvent(*result.brokenLinks, root));
  if (!result.failureLines.empty()) {
    events.push_back({kErrorEvent, result.failureLines});
  } else if (!changed && lastFailed) {
    events.push_back({kClearEvent, {}});
  }
  return events;
}

PreviewLoop::PreviewLoop(WatchOptions watch, std::unique_ptr<PreviewService> server,
                         std::chrono::milliseconds quietTime)
    : server_(std::move(server)), quietTime_(quietTime) {
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
  if (server_ && result.brokenLinks) {
    const PageEvent links = linksEvent(*result.brokenLinks, server_->root());
    server_->publish(links.name, links.lines);
  }
  afterPublishing(result);
}

void PreviewLoop::afterPublishing(const RebuildResult& result) {
  lastFailed_ = !result.failureLines.empty();
  if (result.afterEvents) result.afterEvents();
  if (result.whenQuiet) whenQuiet_ = result.whenQuiet;
}

int PreviewLoop::run(const Rebuild& rebuild) {
  while (signals_.caught() == 0) {
    const std::optional<WatchBatch> changes =
        watcher_->next(whenQuiet_ ? quietTime_ : std::chrono::minutes(10));
    if (!changes) {
      if (whenQuiet_ && signals_.caught() == 0) std::exchange(whenQuiet_, nullptr)();
      continue;
    }
    const RebuildResult result = rebuild(*changes);
    if (result.skipped) continue;
    watchWhatPagesNeed(result);
    if (server_) {
      for (const PageEvent& event : eventsAfterRebuild(result, server_->root(), lastFailed_)) {
        server_->publish(event.name, event.lines);
      }
    }
    afterPublishing(result);
  }
  server_.reset();
  watcher_.reset();
  return signals_.caught();
}

}  // namespace qf
