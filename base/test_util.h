#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// A fresh directory under the system's temporary folder, removed with
/// everything in it when the object is destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The directory's path with a trailing '/'.
  const std::string& path() const { return path_; }
  /// path() + relative.
  std::string operator/(std::string_view relative) const;

  /// Writes a file below the directory, making missing parent directories,
  /// and returns its full path.
  std::string write(std::string_view relative, std::string_view contents) const;

 private:
  std::string path_;
};

/// Waits (up to ten seconds) until the file clock (fileClockNs()) has passed
/// ns: a build then trusts files whose times are at most ns, as changes
/// within the clock tick of its recording are not trusted. Pass a file's own
/// times (latestFileTime), which the kernel may stamp finer than that clock.
void awaitFileClockPast(long long ns);

/// Calls condition every few milliseconds until it holds (true) or deadline
/// has passed (false).
bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

/// True when the last part of path names a temporary output as the atomic
/// writers make them: hidden, ending in ".tmp".
bool isTemporaryOutput(std::string_view path);

/// True when directory (not below it) holds a temporary output.
bool holdsTemporaryOutput(const std::string& directory);

/// The latest modification or change time of the files at paths (0 for none).
long long latestFileTime(const std::vector<std::string>& paths);

/// The whole contents of a file; "<missing>" when it cannot be opened.
std::string readFile(const std::string& path);

/// True when a file (of any type) or link exists at path.
bool pathExists(const std::string& path);

/// What lies below a directory: every path relative to it (a directory's
/// with a trailing '/') and what is there: a file's bytes, "-> target" for a
/// link, "" for a directory, "<special>" for anything else.
using TreeSnapshot = std::map<std::string, std::string>;

/// The snapshot of root (a path ending in '/'); with filesOnly, just the
/// regular files (links followed). Unreadable directories are left out.
TreeSnapshot snapshotTree(const std::string& root, bool filesOnly = false);

/// What a finished program left behind.
struct ProgramResult {
  int exitCode = -1;  // 128 + signal number when a signal ended it
  std::string out;
  std::string err;
};

/// How to start a program for runProgram.
struct ProgramStart {
  std::string program{};
  std::vector<std::string> arguments{};
  std::string directory{};                          // "" for the current one
  std::vector<std::string> environment{};           // extra "NAME=value" entries
  std::vector<int> closedDescriptors{};             // closed just before the program starts
  std::vector<std::pair<int, long long>> limits{};  // resource and its soft and hard limit
  std::string standardOutput{};  // a file to send standard output to instead of capturing it
  int timeoutSeconds = 0;        // > 0: killed (exit code 128 + SIGKILL) when still running then
};

/// Runs the program with standard input empty and waits for it.
ProgramResult runProgram(const ProgramStart& run);
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory = "",
                         const std::vector<std::string>& environment = {});

/// Starts the program as runProgram does, with standard output and error
/// discarded, and returns its process id without waiting; -1 on failure.
pid_t startProgram(const ProgramStart& run);

/// Runs task in a child process once setup succeeded there, and returns what
/// task returned; nullopt when setup failed.
std::optional<bool> runInChild(const std::function<bool()>& setup,
                               const std::function<bool()>& task);

/// Runs task in a child process once setup succeeded there and returns the
/// text task made; nullopt when setup failed. The text travels through a
/// file anyone may write, so the child may drop privileges or change mounts.
std::optional<std::string> textFromChild(const std::function<bool()>& setup,
                                         const std::function<std::string()>& task);

/// Makes the calling process the unprivileged user "nobody"; false when that
/// is not possible here.
bool becomeNobody();

/// Runs task in a child process as the unprivileged user "nobody" and
/// returns what it returned; nullopt when privileges cannot be dropped here.
std::optional<bool> runAsNobody(const std::function<bool()>& task);

}  // namespace qf
