#include "batch/dependencies.h"

#include <algorithm>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/local_time.h"
#include "base/path.h"
#include "engine/compiler.h"
#include "engine/date_text.h"

namespace qf {

void DependencyRecorder::fileRead(const std::string& path, bool included) {
  add(included ? DependencyKind::kIncluded : DependencyKind::kRead, path);
}

void DependencyRecorder::fileFound(const std::string& path) { add(DependencyKind::kFound, path); }

void DependencyRecorder::fileMissing(const std::string& path) {
  add(DependencyKind::kMissing, path);
}

void DependencyRecorder::dateSymbolUsed(std::string_view name, std::string_view text) {
  for (const auto& [known, unused] : recorded_.dates) {
    if (known == name) return;
  }
  recorded_.dates.emplace_back(std::string(name), std::string(text));
}

// The status is taken after the report; a change between the read and this
// look shows as a change time within the compile's tick, which is not trusted.
void DependencyRecorder::add(DependencyKind kind, const std::string& path) {
  for (const Dependency& known : recorded_.files) {
    if (known.kind == kind && known.path == path) return;
  }
  Dependency dependency{kind, path, {}};
  if (kind == DependencyKind::kRead || kind == DependencyKind::kIncluded) {
    dependency.status = qf::statusOf(path).value_or(FileStatus{});
  }
  recorded_.files.push_back(std::move(dependency));
}

const std::optional<FileStatus>& StatusCache::statusOf(const std::string& path) {
  const auto known = statuses_.find(path);
  if (known != statuses_.end()) return known->second;
  return statuses_.emplace(path, qf::statusOf(path)).first->second;
}

bool StatusCache::isUsableFile(const std::string& path) {
  const auto known = usable_.find(path);
  if (known != usable_.end()) return known->second;
  return usable_.emplace(path, probeFile(path) == OpenResult::kOpened).first->second;
}

std::string dateSymbolText(std::string_view name, std::time_t moment) {
  const DateTexts date = formatDate(localTime(moment).value_or(std::tm{}));
  if (name == "_WEEKDAY_") return date.weekday;
  if (name == "_MONTH_") return date.month;
  if (name == "_DAY_") return date.day;
  if (name == "_YEAR_") return date.year;
  if (name == "_TIME_") return date.time;
  return {};
}

namespace {

bool fileHolds(const Dependency& dependency, long long recordedAtNs, StatusCache& statuses) {
  switch (dependency.kind) {
    case DependencyKind::kRead:
    case DependencyKind::kIncluded: {
      const std::optional<FileStatus>& now = statuses.statusOf(dependency.path);
      return now && *now == dependency.status && dependency.status.modifiedNs < recordedAtNs &&
             dependency.status.changedNs < recordedAtNs;
    }
    case DependencyKind::kFound:
      return statuses.isUsableFile(dependency.path);
    case DependencyKind::kMissing:
      return !statuses.isUsableFile(dependency.path);
  }
  return false;
}

}  // namespace

bool dependenciesHold(const PageDependencies& dependencies, long long recordedAtNs,
                      std::time_t moment, StatusCache& statuses) {
  for (const Dependency& dependency : dependencies.files) {
    if (!fileHolds(dependency, recordedAtNs, statuses)) return false;
  }
  for (const auto& [name, text] : dependencies.dates) {
    if (dateSymbolText(name, moment) != text) return false;
  }
  return true;
}

std::string escapeForMake(std::string_view path) {
  std::string escaped;
  escaped.reserve(path.size());
  for (const char c : path) {
    if (c == ' ' || c == '#') escaped += '\\';
    if (c == '$') escaped += '$';
    escaped += c;
  }
  return escaped;
}

namespace {

std::vector<std::string> rulePrerequisites(const PageDependencies& dependencies) {
  std::vector<std::string> paths;
  auto add = [&paths](std::string path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
      paths.push_back(std::move(path));
  };
  for (const Dependency& dependency : dependencies.files) {
    add(dependency.kind == DependencyKind::kMissing
            ? nearestExistingDirectory(directoryOf(dependency.path))
            : dependency.path);
  }
  return paths;
}

}  // namespace

std::string makeRule(std::string_view target, const PageDependencies& dependencies,
                     bool phonyTargets) {
  const std::vector<std::string> paths = rulePrerequisites(dependencies);
  std::string rule = escapeForMake(target) + ":";
  for (const std::string& path : paths) {
    rule += " \\\n ";
    rule += escapeForMake(path);
  }
  rule += "\n";
  if (!phonyTargets) return rule;
  for (std::size_t i = 1; i < paths.size(); ++i) {
    rule += "\n";
    rule += escapeForMake(paths[i]);
    rule += ":\n";
  }
  return rule;
}

}  // namespace qf
