#include "base/test_util.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/file_system.h"

namespace qf {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "quillforge-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(std::string_view relative) const {
  return path_ + std::string(relative);
}

std::string TempDir::write(std::string_view relative, std::string_view contents) const {
  const std::string full = *this / relative;
  fs::create_directories(fs::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

void awaitFileClockPast(long long ns) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fileClockNs() <= ns && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
}

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool isTemporaryOutput(std::string_view path) {
  const std::string_view name = path.substr(path.find_last_of('/') + 1);
  return name.size() > 4 && name.front() == '.' && name.ends_with(".tmp");
}

bool holdsTemporaryOutput(const std::string& directory) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory, ignored)) {
    if (isTemporaryOutput(entry.path().filename().string())) return true;
  }
  return false;
}

long long latestFileTime(const std::vector<std::string>& paths) {
  long long latest = 0;
  for (const std::string& path : paths) {
    if (const auto status = statusOf(path)) {
      latest = std::max({latest, status->modifiedNs, status->changedNs});
    }
  }
  return latest;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

TreeSnapshot snapshotTree(const std::string& root, bool filesOnly) {
  TreeSnapshot tree;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    const std::string path = it->path().string();
    const std::string relative = path.substr(root.size());
    if (filesOnly) {
      if (it->is_regular_file(ignored)) tree[relative] = readFile(path);
      continue;
    }
    switch (it->symlink_status(ignored).type()) {
      case fs::file_type::regular:
        tree[relative] = readFile(path);
        break;
      case fs::file_type::directory:
        tree[relative + "/"] = "";
        break;
      case fs::file_type::symlink:
        tree[relative] = "-> " + fs::read_symlink(path, ignored).string();
        break;
      default:
        tree[relative] = "<special>";
    }
  }
  return tree;
}

bool pathExists(const std::string& path) {
  std::error_code ignored;
  return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
}

namespace {

constexpr int kSetupFailed = 2;

// In the child: puts the descriptors and limits in place; false when one
// could not be.
bool prepareChild(const ProgramStart& run, const std::string& outPath, const std::string& errPath) {
  const std::string out = run.standardOutput.empty() ? outPath : run.standardOutput;
  const int fds[3] = {open("/dev/null", O_RDONLY),
                      open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                      open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
  for (int target = 0; target < 3; ++target) {
    if (fds[target] < 0 || dup2(fds[target], target) != target) return false;
  }
  if (!run.directory.empty() && chdir(run.directory.c_str()) != 0) return false;
  for (const std::string& entry : run.environment) putenv(const_cast<char*>(entry.c_str()));
  for (const auto& [resource, value] : run.limits) {
    const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    if (setrlimit(resource, &limit) != 0) return false;
  }
  close_range(3, ~0U, 0);  // the copies above and whatever the test process holds
  for (int fd : run.closedDescriptors) close(fd);
  return true;
}

int exitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

namespace {

pid_t startChild(const ProgramStart& run, const std::string& outPath, const std::string& errPath) {
  const pid_t child = fork();
  if (child != 0) return child;
  if (!prepareChild(run, outPath, errPath)) _exit(127);
  std::vector<char*> argv{const_cast<char*>(run.program.c_str())};
  for (const std::string& argument : run.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  execv(run.program.c_str(), argv.data());
  _exit(127);
}

// Waits for child, killing it once timeoutSeconds (> 0) have passed.
int waitForChild(pid_t child, int timeoutSeconds) {
  int status = 0;
  if (timeoutSeconds <= 0) {
    waitpid(child, &status, 0);
    return status;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

}  // namespace

ProgramResult runProgram(const ProgramStart& run) {
  TempDir capture;
  const std::string outPath = capture / "out";
  const std::string errPath = capture / "err";
  const pid_t child = startChild(run, outPath, errPath);
  if (child < 0) throw std::runtime_error("fork failed");
  ProgramResult result;
  result.exitCode = exitCodeOf(waitForChild(child, run.timeoutSeconds));
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

pid_t startProgram(const ProgramStart& run) { return startChild(run, "/dev/null", "/dev/null"); }

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory,
                         const std::vector<std::string>& environment) {
  ProgramStart start;
  start.program = program;
  start.arguments = arguments;
  start.directory = directory;
  start.environment = environment;
  return runProgram(start);
}

std::optional<bool> runInChild(const std::function<bool()>& setup,
                               const std::function<bool()>& task) {
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    if (!setup()) _exit(kSetupFailed);
    _exit(task() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) == kSetupFailed) {
    return std::nullopt;
  }
  return WEXITSTATUS(status) == 0;
}

std::optional<std::string> textFromChild(const std::function<bool()>& setup,
                                         const std::function<std::string()>& task) {
  TempDir carrier;
  const std::string path = carrier.write("text", "");
  if (chmod(carrier.path().c_str(), 0755) != 0 || chmod(path.c_str(), 0666) != 0) {
    return std::nullopt;
  }
  const std::optional<bool> written = runInChild(setup, [&] {
    const std::string text = task();
    std::FILE* file = std::fopen(path.c_str(), "w");
    return file && std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
           std::fclose(file) == 0;
  });
  if (!written || !*written) return std::nullopt;
  return readFile(path);
}

bool becomeNobody() {
  constexpr uid_t kNobody = 65534;
  if (geteuid() != 0 && geteuid() != kNobody) return false;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

std::optional<bool> runAsNobody(const std::function<bool()>& task) {
  return runInChild(becomeNobody, task);
}

}  // namespace qf
