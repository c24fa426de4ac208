#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/file_system.h"
#include "engine/compile_observer.h"

namespace qf {

/// How a compile used a path.
enum class DependencyKind : int {
  kRead = 0,      // its text or description was used (the input, #fileinfo)
  kIncluded = 1,  // read through #include
  kFound = 2,     // only its presence was used (#ifexists)
  kMissing = 3,   // a search tried it and found no usable file
};

/// The kinds whose status a record keeps.
inline bool hasStatus(DependencyKind kind) {
  return kind == DependencyKind::kRead || kind == DependencyKind::kIncluded;
}

/// A path that the records naming it share: a copy allocates nothing.
class SharedPath {
 public:
  SharedPath() = default;
  SharedPath(std::string path) : path_(std::make_shared<const std::string>(std::move(path))) {}
  SharedPath(const char* path) : SharedPath(std::string(path)) {}
  const std::string& str() const { return path_ ? *path_ : empty(); }
  operator const std::string&() const { return str(); }
  operator std::string_view() const { return str(); }
  friend bool operator==(const SharedPath& a, const SharedPath& b) {
    return a.path_ == b.path_ || a.str() == b.str();
  }
  friend bool operator==(const SharedPath& a, const std::string& b) { return a.str() == b; }

 private:
  static const std::string& empty();
  std::shared_ptr<const std::string> path_;
};

/// One path a compile depended on; status is what a look at it gave when the
/// compile reported it (only for kRead and kIncluded).
struct Dependency {
  DependencyKind kind = DependencyKind::kRead;
  SharedPath path;
  FileStatus status;
  friend bool operator==(const Dependency&, const Dependency&) = default;
};

/// Everything a page's compile depended on besides its options.
struct PageDependencies {
  std::vector<Dependency> files;  // in the order first reported, each path and kind once
  std::vector<std::pair<std::string, std::string>> dates;  // date symbol, text it gave
  friend bool operator==(const PageDependencies&, const PageDependencies&) = default;
};

/// Collects a compile's reports into PageDependencies.
class DependencyRecorder : public CompileObserver {
 public:
  void fileRead(const std::string& path, bool included, const FileStatus* status) override;
  void fileFound(const std::string& path) override;
  void fileMissing(const std::string& path) override;
  void dateSymbolUsed(std::string_view name, std::string_view text) override;

  const PageDependencies& dependencies() const { return recorded_; }
  PageDependencies take() { return std::move(recorded_); }

 private:
  void add(DependencyKind kind, const std::string& path, const FileStatus* status = nullptr);

  PageDependencies recorded_;
};

/// Looks at files at most once per run; not thread-safe.
class StatusCache {
 public:
  const std::optional<FileStatus>& statusOf(const std::string& path);
  bool isUsableFile(const std::string& path);

 private:
  std::unordered_map<std::string, std::optional<FileStatus>> statuses_;
  std::unordered_map<std::string, bool> usable_;
};

/// The text a date symbol has at moment (local time), "" for another name.
std::string dateSymbolText(std::string_view name, std::time_t moment);

/// True when every dependency is as it was: files read have the recorded
/// status, and that status was not taken within the clock tick of
/// recordedAtNs (a change in that tick could leave size and times alike);
/// files found are still usable files, missing ones still not; every date
/// symbol still gives its text at moment.
bool dependenciesHold(const PageDependencies& dependencies, long long recordedAtNs,
                      std::time_t moment, StatusCache& statuses);

/// path spelled for a dependency file so that both GNU make and ninja read it
/// back as path: ' ' as "\ " (a run of backslashes before it doubled),
/// '#' as "\#", ':' as "\:", '$' as "$$", a leading '~' as "./~", and as a
/// target also '%' as "\%". nullopt when no spelling serves both: a name
/// holding a control character (a tab or a line end among them), one of
/// ;|=*?[&'"^`<> or a backslash before '#', ':', '$', '%' or at the end, or
/// one that make would take for an archive member ("lib(member)").
std::optional<std::string> escapeForMake(std::string_view path, bool target);

/// A make rule "target: dependencies" for a page, as compilers write them: the
/// input, every file read (included or described) and found, and for every
/// missing one the nearest existing directory that would hold it (its time
/// changes when the file appears). With phonyTargets, an empty rule follows
/// for every dependency but the first, so a removed file breaks no build.
/// nullopt, with unwritable set to the first such name, when a name cannot be
/// written (see escapeForMake).
std::optional<std::string> makeRule(std::string_view target, const PageDependencies& dependencies,
                                    bool phonyTargets, std::string& unwritable);

/// Where the dependency file of output goes: output + ".d"; or, with a
/// dependency directory, that directory plus output's path below outputRoot
/// (when output lies outside it: output's path without a leading '/' and
/// "../" parts) plus ".d".
std::string dependencyFilePath(std::string_view dependencyDirectory, std::string_view outputRoot,
                               std::string_view output);

}  // namespace qf
