#include "batch/build_state.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/directory.h"
#include "base/path.h"
#include "batch/file_list_codec.h"
#include "batch/run_messages.h"
#include "batch/sqlite_statement.h"

namespace qf {

namespace {

// Raised whenever the tables change meaning; a state of another format is
// moved aside, never read.
constexpr char kStateFormat[] = "6";

// What a page depended on: its files in one run of bytes (file_list_codec)
// naming the paths stored once, its dates in rows of their own, in the order
// reported (position), found by the page's id.
constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS outputs(path TEXT PRIMARY KEY, source TEXT NOT NULL,
  page INTEGER NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,
  modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL, source_device INTEGER NOT NULL,
  source_inode INTEGER NOT NULL, source_size INTEGER NOT NULL, source_modified_ns INTEGER NOT NULL,
  source_changed_ns INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS pages(id INTEGER PRIMARY KEY, output TEXT NOT NULL UNIQUE,
  options TEXT NOT NULL, recorded_at_ns INTEGER NOT NULL, failed INTEGER NOT NULL, links TEXT,
  files BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS paths(id INTEGER PRIMARY KEY, path TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS page_dates(page INTEGER NOT NULL, position INTEGER NOT NULL,
  name TEXT NOT NULL, text TEXT NOT NULL, PRIMARY KEY(page, position)) WITHOUT ROWID;
)";

constexpr char kDamaged[] = "is damaged";

// Commits come at most this often, or after this many records, whichever first.
constexpr auto kCommitInterval = std::chrono::milliseconds(200);
constexpr std::size_t kCommitRecords = 500;

// How long a run waits for another run's lock before it says so.
constexpr auto kWaitBeforeTelling = std::chrono::seconds(1);

// Binds a status to five parameters from first on.
SqliteStatement& bindStatus(SqliteStatement& statement, int first, const FileStatus& status) {
  return statement.bind(first, static_cast<long long>(status.identity.device))
      .bind(first + 1, static_cast<long long>(status.identity.inode))
      .bind(first + 2, status.size)
      .bind(first + 3, status.modifiedNs)
      .bind(first + 4, status.changedNs);
}

// The status in five columns from first on, of a regular file.
FileStatus statusAt(const SqliteStatement& row, int first) {
  FileStatus status;
  status.identity.device = static_cast<dev_t>(row.number(first));
  status.identity.inode = static_cast<ino_t>(row.number(first + 1));
  status.regular = true;
  status.size = row.number(first + 2);
  status.modifiedNs = row.number(first + 3);
  status.changedNs = row.number(first + 4);
  return status;
}

// A database file's status as a note in the lock file.
std::string noteOf(const FileStatus& status) {
  return std::to_string(status.identity.device) + " " + std::to_string(status.identity.inode) +
         " " + std::to_string(status.size) + " " + std::to_string(status.modifiedNs) + " " +
         std::to_string(status.changedNs);
}

// The note that a clean close of the database at path left, if the file has
// not changed since; "" when it has a log of unfinished writes.
std::string unchangedNote(const std::string& path) {
  const auto status = statusOf(path);
  if (!status || statusOf(path + "-wal")) return {};
  return noteOf(*status);
}

void moveAside(const std::string& path) {
  std::rename(path.c_str(), (path + ".old").c_str());
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

}  // namespace

// The statements a run repeats, prepared once.
struct BuildState::Statements {
  explicit Statements(sqlite3* db)
      : insertOutput(db,
                     "INSERT OR REPLACE INTO outputs "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"),
        deleteOutput(db, "DELETE FROM outputs WHERE path=?1"),
        insertPage(db,
                   "INSERT INTO pages(output, options, recorded_at_ns, failed, links, files) "
                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
        updatePage(db,
                   "UPDATE pages SET options=?2, recorded_at_ns=?3, failed=?4, links=?5, "
                   "files=?6 WHERE id=?1"),
        deletePage(db, "DELETE FROM pages WHERE id=?1"),
        insertDate(db, "INSERT INTO page_dates VALUES(?1, ?2, ?3, ?4)"),
        deleteDates(db, "DELETE FROM page_dates WHERE page=?1"),
        insertPath(db, "INSERT INTO paths(path) VALUES(?1)"),
        deletePath(db, "DELETE FROM paths WHERE id=?1") {}

  SqliteStatement insertOutput;
  SqliteStatement deleteOutput;
  SqliteStatement insertPage;
  SqliteStatement updatePage;
  SqliteStatement deletePage;
  SqliteStatement insertDate;
  SqliteStatement deleteDates;
  SqliteStatement insertPath;
  SqliteStatement deletePath;
};

BuildState::BuildState() = default;

BuildState::~BuildState() { close(); }

void BuildState::close() {
  commit();
  const bool clean = db_ != nullptr;
  closeDatabase();
  if (clean) leaveNote();
  lock_.release();
}

// A clean close leaves the file's status in the lock file, so that the next
// run can skip the check of every page while the file is unchanged; only when
// its times lie before the clock's present tick, so that any later change
// gives it other times.
void BuildState::leaveNote() {
  const auto status = statusOf(path_);
  const long long now = fileClockNs();
  if (status && status->modifiedNs < now && status->changedNs < now && !statusOf(path_ + "-wal")) {
    lock_.setNote(noteOf(*status));
  }
}

bool BuildState::open(const std::string& path, const std::string& programVersion,
                      std::chrono::milliseconds lockTimeout, const WarningSink& warn) {
  return lock(path, lockTimeout, warn) && openLocked(programVersion, warn);
}

bool BuildState::lock(const std::string& path, std::chrono::milliseconds lockTimeout,
                      const WarningSink& warn) {
  const auto tell = [&warn](const std::string& line) {
    if (warn) warn(line);
  };
  const std::string directory = directoryOf(path);
  if (!directory.empty() && !makeDirectories(directory)) {
    tell(run_messages::stateDirectoryUnwritable(directory));
    return false;
  }
  const auto waiting = [&] { tell(run_messages::waitingForState(path)); };
  switch (lock_.lock(path + ".lock", lockTimeout, kWaitBeforeTelling, waiting)) {
    case LockFile::Result::kLocked:
      break;
    case LockFile::Result::kHeldElsewhere:
      tell(run_messages::stateInUse(path));
      return false;
    case LockFile::Result::kUnopenable:
      tell(run_messages::stateUnwritable(path));
      return false;
  }
  path_ = path;
  return true;
}

bool BuildState::openLocked(const std::string& programVersion, const WarningSink& warn) {
  const auto tell = [&warn](const std::string& line) {
    if (warn) warn(line);
  };
  const std::string& path = path_;
  // A run that is killed leaves no note behind.
  const std::string note = lock_.note();
  const bool unchanged = !note.empty() && note == unchangedNote(path);
  if (!note.empty()) lock_.setNote("");
  std::string problem;
  switch (openDatabase(path, programVersion, !unchanged, problem)) {
    case Opening::kOpened:
      return true;
    case Opening::kBusy:
      tell(run_messages::stateInUse(path));
      return false;
    case Opening::kUnwritable:
      tell(run_messages::stateUnwritable(path));
      return false;
    case Opening::kUnusable:
      break;
  }
  moveAside(path);
  tell(run_messages::stateMovedAside(path, problem));
  if (openDatabase(path, programVersion, true, problem) == Opening::kOpened) return true;
  tell(run_messages::stateUnwritable(path));
  return false;
}

BuildState::Opening BuildState::openDatabase(const std::string& path,
                                             const std::string& programVersion, bool check,
                                             std::string& problem) {
  const Opening opening = openFile(path, programVersion, check, problem);
  if (opening == Opening::kOpened && load()) return Opening::kOpened;
  closeDatabase();
  outputs_.clear();
  pages_.clear();
  pageIds_.clear();
  pathIds_.clear();
  storedPaths_.clear();
  unusedPaths_.clear();
  if (opening != Opening::kOpened) return opening;
  problem = kDamaged;
  return Opening::kUnusable;
}

BuildState::Opening BuildState::openFile(const std::string& path, const std::string& programVersion,
                                         bool check, std::string& problem) {
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    return Opening::kUnwritable;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (check) {
    SqliteStatement quickCheck(db_, "PRAGMA quick_check");
    switch (quickCheck.step()) {
      case SqliteStatement::Step::kRow:
        break;
      case SqliteStatement::Step::kBusy:
        return Opening::kBusy;
      default:
        problem = "is not a usable database";
        return Opening::kUnusable;
    }
    if (quickCheck.textView(0) != "ok") {
      problem = kDamaged;
      return Opening::kUnusable;
    }
  }
  if (!executeSql(db_, "PRAGMA journal_mode=WAL") ||
      !executeSql(db_, "PRAGMA synchronous=NORMAL") || !executeSql(db_, kSchema)) {
    return Opening::kUnwritable;
  }
  SqliteStatement format(db_, "SELECT value FROM meta WHERE key='format'");
  SqliteStatement version(db_, "SELECT value FROM meta WHERE key='program'");
  if (format.step() != SqliteStatement::Step::kRow) {
    SqliteStatement count(db_, "SELECT count(*) FROM outputs");
    if (count.step() != SqliteStatement::Step::kRow || count.number(0) != 0) {
      problem = "has no format mark";
      return Opening::kUnusable;
    }
    SqliteStatement mark(db_, "INSERT OR REPLACE INTO meta VALUES('format', ?1), ('program', ?2)");
    return mark.bind(1, std::string_view(kStateFormat)).bind(2, programVersion).run()
               ? Opening::kOpened
               : Opening::kUnwritable;
  }
  if (format.textView(0) != kStateFormat || version.step() != SqliteStatement::Step::kRow ||
      version.textView(0) != programVersion) {
    problem = "was written by another version";
    return Opening::kUnusable;
  }
  return Opening::kOpened;
}

// False when a table cannot be read through or holds what this program never
// writes.
bool BuildState::load() {
  using Step = SqliteStatement::Step;
  SqliteStatement outputs(db_,
                          "SELECT path, source, page, device, inode, size, modified_ns, "
                          "changed_ns, source_device, source_inode, source_size, "
                          "source_modified_ns, source_changed_ns FROM outputs");
  outputs_.reserve(rowCount("outputs"));
  const std::size_t pageCount = rowCount("pages");
  pages_.reserve(pageCount);
  pageIds_.reserve(pageCount);
  Step step;
  while ((step = outputs.step()) == Step::kRow) {
    const bool page = outputs.number(2) != 0;
    outputs_[outputs.text(0)] = WrittenOutput{outputs.text(1), page, statusAt(outputs, 3),
                                              page ? FileStatus{} : statusAt(outputs, 8)};
  }
  if (step != Step::kDone) return false;

  std::vector<StoredPath> paths;
  SqliteStatement pathRows(db_, "SELECT id, path FROM paths ORDER BY id");
  while ((step = pathRows.step()) == Step::kRow) {
    paths.push_back({pathRows.number(0), pathRows.text(1)});
  }
  if (step != Step::kDone) return false;
  std::vector<char> used(paths.size(), 0);
  const auto pathOf = [&paths, &used](long long id) -> const SharedPath* {
    const auto path =
        std::lower_bound(paths.begin(), paths.end(), id,
                         [](const StoredPath& stored, long long id) { return stored.id < id; });
    if (path == paths.end() || path->id != id) return nullptr;
    used[static_cast<std::size_t>(path - paths.begin())] = 1;
    return &path->path;
  };

  // Pages in the order of their ids, in which the rows of their dates come.
  std::vector<std::pair<long long, PageDependencies*>> pageIds;
  SqliteStatement pages(db_,
                        "SELECT id, output, options, recorded_at_ns, failed, links, files "
                        "FROM pages ORDER BY id");
  while ((step = pages.step()) == Step::kRow) {
    std::string output = pages.text(1);
    pageIds_.emplace(output, pages.number(0));
    PageRecord& page = pages_[std::move(output)];
    auto dependencies = std::make_shared<PageDependencies>();
    if (!decodeFileList(pages.bytesView(6), pathOf, dependencies->files)) return false;
    pageIds.emplace_back(pages.number(0), dependencies.get());
    page.dependencies = std::move(dependencies);
    page.options = pages.text(2);
    page.recordedAtNs = pages.number(3);
    page.failed = pages.number(4) != 0;
    page.links = pages.optionalText(5);
  }
  if (step != Step::kDone) return false;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (used[i]) {
      storedPaths_.push_back(std::move(paths[i]));
    } else {
      unusedPaths_.push_back(paths[i].id);
    }
  }

  std::size_t cursor = 0;
  const auto pageOf = [&pageIds, &cursor](long long id) -> PageDependencies* {
    while (cursor < pageIds.size() && pageIds[cursor].first < id) ++cursor;
    return cursor < pageIds.size() && pageIds[cursor].first == id ? pageIds[cursor].second
                                                                  : nullptr;
  };
  SqliteStatement dates(db_, "SELECT page, name, text FROM page_dates ORDER BY page, position");
  while ((step = dates.step()) == Step::kRow) {
    PageDependencies* record = pageOf(dates.number(0));
    if (!record) return false;
    record->dates.emplace_back(dates.text(1), dates.text(2));
  }
  if (step != Step::kDone) return false;

  lastCommit_ = std::chrono::steady_clock::now();
  statements_ = std::make_unique<Statements>(db_);
  writable_ = true;
  return true;
}

std::size_t BuildState::rowCount(const char* table) {
  SqliteStatement count(db_, (std::string("SELECT count(*) FROM ") + table).c_str());
  return count.step() == SqliteStatement::Step::kRow ? static_cast<std::size_t>(count.number(0))
                                                     : 0;
}

void BuildState::closeDatabase() {
  writable_ = false;
  statements_.reset();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  inTransaction_ = false;
}

namespace {

// True when every file the record read had its status before the record's
// clock tick, so a later time would judge it no differently.
bool isSettled(const PageRecord& record) {
  return std::all_of(record.dependencies->files.begin(), record.dependencies->files.end(),
                     [&](const Dependency& file) {
                       return file.status.modifiedNs < record.recordedAtNs &&
                              file.status.changedNs < record.recordedAtNs;
                     });
}

bool judgesAlike(const PageRecord& stored, const PageRecord& record) {
  return !stored.failed && !record.failed && stored.options == record.options &&
         stored.links == record.links && stored.recordedAtNs <= record.recordedAtNs &&
         *stored.dependencies == *record.dependencies && isSettled(stored);
}

}  // namespace

void BuildState::recordPage(const std::string& output, const WrittenOutput& written,
                            const PageRecord& record) {
  const auto storedOutput = outputs_.find(output);
  const auto storedPage = pages_.find(output);
  if (storedOutput != outputs_.end() && storedOutput->second == written &&
      storedPage != pages_.end() && judgesAlike(storedPage->second, record)) {
    return;
  }
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

void BuildState::touch(const std::string& path) { dirty_.insert(path); }

std::optional<BuildState::Changes> BuildState::takeDueChanges() {
  // One batch at a time, so that batches are written in the order taken.
  if (holding_ || dueTaken_ || dirty_.empty() ||
      (dirty_.size() < kCommitRecords &&
       std::chrono::steady_clock::now() - lastCommit_ < kCommitInterval)) {
    return std::nullopt;
  }
  dueTaken_ = true;
  return takeChanges();
}

BuildState::Changes BuildState::takeChanges() {
  Changes changes;
  if (!writable_) {
    dirty_.clear();
    return changes;
  }
  changes.reserve(dirty_.size());
  for (const std::string& path : dirty_) {
    Change& change = changes.emplace_back();
    change.path = path;
    if (const auto output = outputs_.find(path); output != outputs_.end()) {
      change.output = output->second;
    }
    if (const auto page = pages_.find(path); page != pages_.end()) change.page = page->second;
  }
  dirty_.clear();
  lastCommit_ = std::chrono::steady_clock::now();
  return changes;
}

// Each path is stored as the change holds it, or deleted.
bool BuildState::writeRecords(const Change& change) {
  Statements& s = *statements_;
  const std::string& path = change.path;
  if (!change.output) {
    if (!s.deleteOutput.reset().bind(1, path).run()) return false;
  } else {
    const WrittenOutput& written = *change.output;
    s.insertOutput.reset().bind(1, path).bind(2, written.source).bind(3, written.page ? 1LL : 0LL);
    bindStatus(s.insertOutput, 4, written.status);
    bindStatus(s.insertOutput, 9, written.sourceStatus);
    if (!s.insertOutput.run()) return false;
  }
  // A stored page keeps its row and id; its dates are replaced.
  const auto stored = pageIds_.find(path);
  if (stored != pageIds_.end() && !s.deleteDates.reset().bind(1, stored->second).run()) {
    return false;
  }
  if (!change.page) {
    if (stored == pageIds_.end()) return true;
    if (!s.deletePage.reset().bind(1, stored->second).run()) return false;
    pageIds_.erase(stored);
    return true;
  }
  const PageRecord& record = *change.page;
  const std::optional<std::string> files = encodeFileList(
      record.dependencies->files, [this](const std::string& file) { return pathId(file); });
  if (!files) return false;
  const bool isNew = stored == pageIds_.end();
  SqliteStatement& row = isNew ? s.insertPage : s.updatePage;
  row.reset();
  if (isNew) {
    row.bind(1, path);
  } else {
    row.bind(1, stored->second);
  }
  if (!row.bind(2, record.options)
           .bind(3, record.recordedAtNs)
           .bind(4, record.failed ? 1LL : 0LL)
           .bindOrNull(5, record.links)
           .bindBytes(6, *files)
           .run()) {
    return false;
  }
  const long long pageId =
      isNew ? pageIds_.emplace(path, sqlite3_last_insert_rowid(db_)).first->second : stored->second;
  long long position = 0;
  for (const auto& [name, text] : record.dependencies->dates) {
    if (!s.insertDate.reset()
             .bind(1, pageId)
             .bind(2, position++)
             .bind(3, name)
             .bind(4, text)
             .run()) {
      return false;
    }
  }
  return true;
}

// The id of a stored path, storing it when new; nullopt when that fails.
std::optional<long long> BuildState::pathId(const std::string& path) {
  if (!storedPaths_.empty()) {
    // Made at the first write: a run that writes no page needs none.
    for (const StoredPath& stored : storedPaths_) pathIds_.emplace(stored.path.str(), stored.id);
    storedPaths_.clear();
  }
  const auto known = pathIds_.find(path);
  if (known != pathIds_.end()) return known->second;
  if (!statements_->insertPath.reset().bind(1, path).run()) return std::nullopt;
  const long long id = sqlite3_last_insert_rowid(db_);
  pathIds_.emplace(path, id);
  return id;
}

void BuildState::write(const Changes& changes) {
  std::unique_lock<std::mutex> guard(writing_);
  // Let go of the batch however the write ends, so commit() waits no longer.
  struct Release {
    BuildState& state;
    ~Release() {
      state.dueTaken_ = false;
      state.dueWritten_.notify_all();
    }
  } release{*this};
  writeHeld(changes);
}

void BuildState::commit() {
  std::unique_lock<std::mutex> guard(writing_);
  dueWritten_.wait(guard, [this] { return !dueTaken_; });
  writeHeld(takeChanges());
}

void BuildState::writeHeld(const Changes& changes) {
  if (!db_) return;
  if (!inTransaction_) inTransaction_ = executeSql(db_, "BEGIN IMMEDIATE");
  for (const long long id : unusedPaths_) {
    if (!statements_->deletePath.reset().bind(1, id).run()) failed_ = true;
  }
  unusedPaths_.clear();
  for (const Change& change : changes) {
    if (failed_) break;
    if (!writeRecords(change)) failed_ = true;
  }
  if (!failed_ && inTransaction_ && !executeSql(db_, "COMMIT")) failed_ = true;
  if (failed_) {
    // A state that may be half written is dropped, not trusted.
    if (inTransaction_) executeSql(db_, "ROLLBACK");
    closeDatabase();
    return;
  }
  inTransaction_ = false;
}

}  // namespace qf
