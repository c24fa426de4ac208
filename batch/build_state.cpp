#include "batch/build_state.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "base/directory.h"
#include "base/path.h"
#include "batch/run_messages.h"

namespace qf {

namespace {

// Raised whenever the tables change meaning; a state of another format is
// moved aside, never read.
constexpr char kStateFormat[] = "4";

constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS outputs(path TEXT PRIMARY KEY, source TEXT NOT NULL,
  page INTEGER NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,
  modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL, source_device INTEGER NOT NULL,
  source_inode INTEGER NOT NULL, source_size INTEGER NOT NULL, source_modified_ns INTEGER NOT NULL,
  source_changed_ns INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS pages(output TEXT PRIMARY KEY, options TEXT NOT NULL,
  recorded_at_ns INTEGER NOT NULL, dates TEXT NOT NULL, files TEXT NOT NULL,
  failed INTEGER NOT NULL, links TEXT);
)";

// Commits come at most this often, or after this many records, whichever first.
constexpr auto kCommitInterval = std::chrono::milliseconds(200);
constexpr std::size_t kCommitRecords = 500;

// How long a run waits for another run's lock before it says so.
constexpr auto kWaitBeforeTelling = std::chrono::seconds(1);

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Statement& reset() {
    sqlite3_reset(statement_);
    return *this;
  }
  Statement& bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& text) {
    if (text) return bind(index, *text);
    sqlite3_bind_null(statement_, index);
    return *this;
  }
  Statement& bind(int index, long long value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bindStatus(int first, const FileStatus& status) {
    return bind(first, static_cast<long long>(status.identity.device))
        .bind(first + 1, static_cast<long long>(status.identity.inode))
        .bind(first + 2, status.size)
        .bind(first + 3, status.modifiedNs)
        .bind(first + 4, status.changedNs);
  }
  /// SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }
  bool run() { return step() == SQLITE_DONE; }

  std::string text(int column) const {
    const auto* chars = sqlite3_column_text(statement_, column);
    return chars ? std::string(reinterpret_cast<const char*>(chars),
                               static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  std::optional<std::string> optionalText(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return text(column);
  }
  long long number(int column) const { return sqlite3_column_int64(statement_, column); }
  FileStatus status(int first) const {
    FileStatus status;
    status.identity.device = static_cast<dev_t>(number(first));
    status.identity.inode = static_cast<ino_t>(number(first + 1));
    status.regular = true;
    status.size = number(first + 2);
    status.modifiedNs = number(first + 3);
    status.changedNs = number(first + 4);
    return status;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string joinDates(const std::vector<std::pair<std::string, std::string>>& dates) {
  std::string joined;
  for (const auto& [name, text] : dates) joined += name + "=" + text + "\n";
  return joined;
}

std::vector<std::pair<std::string, std::string>> splitDates(const std::string& joined) {
  std::vector<std::pair<std::string, std::string>> dates;
  std::size_t start = 0;
  for (std::size_t end; (end = joined.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = joined.substr(start, end - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      dates.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  return dates;
}

// A page's files, one a line: "kind device inode size modified changed
// length path", the path last and counted, so any byte may be in it.
std::string joinFiles(const std::vector<Dependency>& files) {
  std::string joined;
  for (const Dependency& file : files) {
    const FileStatus& status = file.status;
    joined += std::to_string(static_cast<int>(file.kind)) + " " +
              std::to_string(static_cast<unsigned long long>(status.identity.device)) + " " +
              std::to_string(static_cast<unsigned long long>(status.identity.inode)) + " " +
              std::to_string(status.size) + " " + std::to_string(status.modifiedNs) + " " +
              std::to_string(status.changedNs) + " " + std::to_string(file.path.size()) + " ";
    joined += file.path;
    joined += '\n';
  }
  return joined;
}

// Reads a number and the blank after it from the front of text.
template <typename Number>
bool takeNumber(std::string_view& text, Number& number) {
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (failure != std::errc() || end == text.data() + text.size() || *end != ' ') return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

// False when the text is not what joinFiles writes.
bool splitFiles(std::string_view text, std::vector<Dependency>& files) {
  while (!text.empty()) {
    unsigned kind = 0;
    unsigned long long device = 0, inode = 0;
    std::size_t length = 0;
    FileStatus status;
    if (!takeNumber(text, kind) || !takeNumber(text, device) || !takeNumber(text, inode) ||
        !takeNumber(text, status.size) || !takeNumber(text, status.modifiedNs) ||
        !takeNumber(text, status.changedNs) || !takeNumber(text, length) ||
        kind > static_cast<unsigned>(DependencyKind::kMissing) || length >= text.size() ||
        text[length] != '\n') {
      return false;
    }
    const auto dependencyKind = static_cast<DependencyKind>(kind);
    if (dependencyKind == DependencyKind::kRead || dependencyKind == DependencyKind::kIncluded) {
      status.identity = {static_cast<dev_t>(device), static_cast<ino_t>(inode)};
      status.regular = true;
    } else {
      status = FileStatus{};
    }
    files.push_back({dependencyKind, std::string(text.substr(0, length)), status});
    text.remove_prefix(length + 1);
  }
  return true;
}

// Takes the lock file's lock, polling until timeout. Another run may have
// replaced the lock file meanwhile; the lock counts only on the file the path
// still names.
int lockExclusively(const std::string& path, std::chrono::milliseconds timeout,
                    const std::function<void()>& waiting) {
  const auto start = std::chrono::steady_clock::now();
  bool told = !waiting;
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    ::close(fd);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= timeout) return -2;
    if (!told && waited >= kWaitBeforeTelling) {
      waiting();
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void moveAside(const std::string& path) {
  std::rename(path.c_str(), (path + ".old").c_str());
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

std::uint64_t pathHash(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

}  // namespace

// The statements a run repeats, prepared once.
struct BuildState::Statements {
  explicit Statements(sqlite3* db)
      : insertOutput(db,
                     "INSERT OR REPLACE INTO outputs "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"),
        deleteOutput(db, "DELETE FROM outputs WHERE path=?1"),
        insertPage(db, "INSERT OR REPLACE INTO pages VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
        deletePage(db, "DELETE FROM pages WHERE output=?1") {}

  Statement insertOutput;
  Statement deleteOutput;
  Statement insertPage;
  Statement deletePage;
};

BuildState::BuildState() = default;

BuildState::~BuildState() {
  commit();
  closeDatabase();
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool BuildState::open(const std::string& path, const std::string& programVersion,
                      std::chrono::milliseconds lockTimeout, std::string& warning,
                      const std::function<void()>& waiting) {
  warning.clear();
  const std::string directory = directoryOf(path);
  if (!directory.empty() && !makeDirectories(directory)) {
    warning = run_messages::stateDirectoryUnwritable(directory);
    return false;
  }
  lockFd_ = lockExclusively(path + ".lock", lockTimeout, waiting);
  if (lockFd_ == -2) {
    warning = run_messages::stateInUse(path);
    return false;
  }
  if (lockFd_ < 0) {
    warning = run_messages::stateUnwritable(path);
    return false;
  }
  std::string problem;
  if (openDatabase(path, programVersion, problem) && load(problem)) return true;
  closeDatabase();
  if (busy_) {
    warning = run_messages::stateInUse(path);
    return false;
  }
  if (problem.empty()) {
    warning = run_messages::stateUnwritable(path);
    return false;
  }
  moveAside(path);
  warning = run_messages::stateMovedAside(path, problem);
  outputs_.clear();
  pages_.clear();
  std::string again;
  if (openDatabase(path, programVersion, again) && load(again)) return true;
  closeDatabase();
  warning = run_messages::stateUnwritable(path);
  return false;
}

// problem stays empty when the file could not be opened or written at all
// (nothing to move aside); it says what is wrong with a file that opened.
bool BuildState::openDatabase(const std::string& path, const std::string& programVersion,
                              std::string& problem) {
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  {
    Statement check(db_, "PRAGMA quick_check");
    const int code = check.step();
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
      busy_ = true;
      return false;
    }
    if (code != SQLITE_ROW) {
      problem = "is not a usable database";
      return false;
    }
    if (check.text(0) != "ok") {
      problem = "is damaged";
      return false;
    }
  }
  if (!execute("PRAGMA journal_mode=WAL") || !execute("PRAGMA synchronous=NORMAL") ||
      !execute(kSchema)) {
    return false;
  }
  Statement format(db_, "SELECT value FROM meta WHERE key='format'");
  Statement version(db_, "SELECT value FROM meta WHERE key='program'");
  if (format.step() != SQLITE_ROW) {
    Statement count(db_, "SELECT count(*) FROM outputs");
    if (count.step() != SQLITE_ROW || count.number(0) != 0) {
      problem = "has no format mark";
      return false;
    }
    Statement mark(db_, "INSERT OR REPLACE INTO meta VALUES('format', ?1), ('program', ?2)");
    return mark.bind(1, std::string(kStateFormat)).bind(2, programVersion).run();
  }
  if (format.text(0) != kStateFormat || version.step() != SQLITE_ROW ||
      version.text(0) != programVersion) {
    problem = "was written by another version";
    return false;
  }
  return true;
}

bool BuildState::load(std::string& problem) {
  Statement outputs(db_,
                    "SELECT path, source, page, device, inode, size, modified_ns, changed_ns, "
                    "source_device, source_inode, source_size, source_modified_ns, "
                    "source_changed_ns FROM outputs");
  Statement pages(db_,
                  "SELECT output, options, recorded_at_ns, dates, files, failed, links FROM pages");
  int code;
  while ((code = outputs.step()) == SQLITE_ROW) {
    const bool page = outputs.number(2) != 0;
    outputs_[outputs.text(0)] = WrittenOutput{outputs.text(1), page, outputs.status(3),
                                              page ? FileStatus{} : outputs.status(8)};
  }
  if (code != SQLITE_DONE) return (problem = "is damaged", false);
  while ((code = pages.step()) == SQLITE_ROW) {
    PageRecord& page = pages_[pages.text(0)];
    page.options = pages.text(1);
    page.recordedAtNs = pages.number(2);
    page.dependencies.dates = splitDates(pages.text(3));
    if (!splitFiles(pages.text(4), page.dependencies.files)) return (problem = "is damaged", false);
    page.failed = pages.number(5) != 0;
    page.links = pages.optionalText(6);
  }
  if (code != SQLITE_DONE) return (problem = "is damaged", false);
  lastCommit_ = std::chrono::steady_clock::now();
  statements_ = std::make_unique<Statements>(db_);
  return true;
}

bool BuildState::execute(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void BuildState::closeDatabase() {
  statements_.reset();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  inTransaction_ = false;
}

void BuildState::recordPage(const std::string& output, const WrittenOutput& written,
                            const PageRecord& record) {
  outputs_[output] = written;
  pages_[output] = record;
  touch(output);
}

void BuildState::forgetPage(const std::string& output) {
  pages_.erase(output);
  touch(output);
}

void BuildState::markFailed(const std::string& output) {
  const auto page = pages_.find(output);
  if (page == pages_.end()) return;
  page->second.failed = true;
  touch(output);
}

void BuildState::recordOutput(const std::string& path, const WrittenOutput& written) {
  outputs_[path] = written;
  dirty_.insert(path);
}

void BuildState::forgetOutput(const std::string& path) {
  outputs_.erase(path);
  forgetPage(path);
}

void BuildState::touch(const std::string& path) {
  dirty_.insert(path);
  if (!holding_ && (dirty_.size() >= kCommitRecords ||
                    std::chrono::steady_clock::now() - lastCommit_ >= kCommitInterval)) {
    commit();
  }
}

// Each path written is stored as the records hold it now, or deleted.
void BuildState::writeChanges() {
  if (!inTransaction_) inTransaction_ = execute("BEGIN IMMEDIATE");
  for (const std::string& path : dirty_) {
    const auto output = outputs_.find(path);
    bool ok = output == outputs_.end() ? statements_->deleteOutput.reset().bind(1, path).run()
                                       : statements_->insertOutput.reset()
                                             .bind(1, path)
                                             .bind(2, output->second.source)
                                             .bind(3, output->second.page ? 1LL : 0LL)
                                             .bindStatus(4, output->second.status)
                                             .bindStatus(9, output->second.sourceStatus)
                                             .run();
    const auto page = pages_.find(path);
    const PageRecord* record = page == pages_.end() ? nullptr : &page->second;
    ok = ok && (record ? statements_->insertPage.reset()
                             .bind(1, path)
                             .bind(2, record->options)
                             .bind(3, record->recordedAtNs)
                             .bind(4, joinDates(record->dependencies.dates))
                             .bind(5, joinFiles(record->dependencies.files))
                             .bind(6, record->failed ? 1LL : 0LL)
                             .bind(7, record->links)
                             .run()
                       : statements_->deletePage.reset().bind(1, path).run());
    if (!ok) failed_ = true;
  }
  dirty_.clear();
}

void BuildState::commit() {
  if (!db_) {
    dirty_.clear();
    return;
  }
  if (!failed_) writeChanges();
  if (failed_) {
    // A state that may be half written is dropped, not trusted.
    if (inTransaction_) execute("ROLLBACK");
    closeDatabase();
    return;
  }
  if (inTransaction_ && !execute("COMMIT")) {
    failed_ = true;
    execute("ROLLBACK");
    closeDatabase();
    return;
  }
  inTransaction_ = false;
  lastCommit_ = std::chrono::steady_clock::now();
}

std::string defaultStatePath(const std::string& sourceDirectory, const std::string& cacheHome,
                             const std::string& home) {
  std::string base;
  if (!cacheHome.empty() && cacheHome[0] == '/') {
    base = withTrailingSlash(cacheHome);
  } else if (!home.empty()) {
    base = withTrailingSlash(home) + ".cache/";
  } else {
    return {};
  }
  std::string directory = sourceDirectory;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  std::string name = fileNameOf(directory);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(pathHash(directory)));
  return base + "quillforge/" + (name.empty() ? "root" : name) + "-" + hash + ".sqlite";
}

}  // namespace qf
