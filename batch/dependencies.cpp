#include "batch/dependencies.h"

#include <algorithm>

#include "base/file_stream.h"
#include "base/file_system.h"
#include "base/local_time.h"
#include "base/path.h"
#include "engine/compiler.h"
#include "engine/date_text.h"

namespace qf {

const std::string& SharedPath::empty() {
  static const std::string none;
  return none;
}

void DependencyRecorder::fileRead(const std::string& path, bool included,
                                  const FileStatus* status) {
  add(included ? DependencyKind::kIncluded : DependencyKind::kRead, path, status);
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

// The status is the compile's own look or, without one, taken after the
// report; either way a change after the look shows as another status, or as
// a change time within the compile's tick, which is not trusted.
void DependencyRecorder::add(DependencyKind kind, const std::string& path,
                             const FileStatus* status) {
  for (const Dependency& known : recorded_.files) {
    if (known.kind == kind && known.path == path) return;
  }
  Dependency dependency{kind, path, {}};
  if (hasStatus(kind)) {
    dependency.status = status ? *status : qf::statusOf(path).value_or(FileStatus{});
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

namespace {

// Characters that both make and ninja take as they are in a file name. Other
// bytes below 0x80 are split on, expanded (make's '*', '?', '[' and '='
// assignments, ninja's narrow set of name characters) or end a line.
bool isPlainNameChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  return std::string_view("+,/_.~(){}@]!-%").find(c) != std::string_view::npos;
}

// make reads "name(member)" as a member of the archive "name".
bool looksLikeArchiveMember(std::string_view path) {
  const std::size_t open = path.find('(');
  return open != std::string_view::npos && open > 0 && path.back() == ')';
}

}  // namespace

std::optional<std::string> escapeForMake(std::string_view path, bool target) {
  if (path.empty() || looksLikeArchiveMember(path)) return std::nullopt;
  std::string escaped = path.front() == '~' ? "./" : "";  // make expands "~" and "~user"
  escaped.reserve(escaped.size() + path.size() + 8);
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '\\') {
      const std::size_t end = path.find_first_not_of('\\', i);
      // Both read a backslash as itself unless it stands before one of these.
      if (end == std::string_view::npos ||
          std::string_view("#:$%").find(path[end]) != std::string_view::npos) {
        return std::nullopt;
      }
      // 2N+1 backslashes and a space stand for N and the space.
      escaped.append((end - i) * (path[end] == ' ' ? 2 : 1), '\\');
      i = end - 1;
    } else if (c == ' ' || c == '#' || c == ':' || (c == '%' && target)) {
      escaped += '\\';
      escaped += c;
    } else if (c == '$') {
      escaped += "$$";
    } else if (isPlainNameChar(c)) {
      escaped += c;
    } else {
      return std::nullopt;
    }
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
            : dependency.path.str());
  }
  return paths;
}

}  // namespace

std::optional<std::string> makeRule(std::string_view target, const PageDependencies& dependencies,
                                    bool phonyTargets, std::string& unwritable) {
  const std::vector<std::string> paths = rulePrerequisites(dependencies);
  auto spell = [&unwritable](std::string_view path, bool asTarget) {
    std::optional<std::string> spelled = escapeForMake(path, asTarget);
    if (!spelled && unwritable.empty()) unwritable = path;
    return spelled.value_or("");
  };
  unwritable.clear();
  std::string rule = spell(target, true) + ":";
  for (const std::string& path : paths) {
    rule += " \\\n ";
    rule += spell(path, false);
  }
  rule += "\n";
  for (std::size_t i = 1; phonyTargets && i < paths.size(); ++i) {
    rule += "\n";
    rule += spell(paths[i], true);
    rule += ":\n";
  }
  if (!unwritable.empty()) return std::nullopt;
  return rule;
}

std::string dependencyFilePath(std::string_view dependencyDirectory, std::string_view outputRoot,
                               std::string_view output) {
  if (dependencyDirectory.empty()) return std::string(output) + ".d";
  std::string relative;
  if (!outputRoot.empty() && output.starts_with(outputRoot)) {
    relative = output.substr(outputRoot.size());
  } else {
    relative = lexicallyNormal(output);
    while (relative.starts_with('/')) relative.erase(0, 1);
    while (relative.starts_with("../")) relative.erase(0, 3);
  }
  return std::string(dependencyDirectory) + relative + ".d";
}

}  // namespace qf
