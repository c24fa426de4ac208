#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/file_system.h"
#include "base/lock_file.h"
#include "batch/dependencies.h"
#include "batch/warning_sink.h"

struct sqlite3;

namespace qf {

/// A file this program wrote (a page or a copied asset), as it was then.
struct WrittenOutput {
  std::string source;  // what it was made from
  bool page = false;
  FileStatus status;
  FileStatus sourceStatus;  // for a copied asset: its source as it was copied
  friend bool operator==(const WrittenOutput&, const WrittenOutput&) = default;
};

/// What a successful compile of a page depended on.
struct PageRecord {
  std::string options;         // everything else that shapes the page, as one text
  long long recordedAtNs = 0;  // fileClockNs() when the compile started
  /// Never null; shared, never changed, with the runs that judged the page.
  std::shared_ptr<const PageDependencies> dependencies = std::make_shared<PageDependencies>();
  /// The last compile failed; the rest is from the last one that succeeded.
  bool failed = false;
  /// The page's links and ids, as the link check encodes them; none when that
  /// compile did not look for them.
  std::optional<std::string> links{};
};

/// The state an incremental build keeps between runs, in an SQLite database:
/// the outputs it wrote and what each page depended on. One run at a time
/// holds it (a lock file beside it). The records live in memory, loaded once;
/// changes to them are written a few at a time (takeDueChanges()), so a run
/// that is killed leaves a usable state behind, or (after holdWrites()) only
/// at commit(). Without a database the records are kept in memory alone. A
/// file is checked for damage when opened, unless this program closed it
/// cleanly and it has not changed since.
///
/// Threads: the records and everything else need one thread at a time, but
/// write() may run beside calls that change the records, so that writing the
/// database need not stop those who record.
class BuildState {
 public:
  BuildState();
  ~BuildState();
  BuildState(const BuildState&) = delete;
  BuildState& operator=(const BuildState&) = delete;

  /// Opens the database at path for this run, creating it and its directory
  /// when missing and waiting up to lockTimeout for another run to finish
  /// with it (warn is told once when that wait has lasted a second). A file
  /// that is no database of this version, or a damaged one, is moved aside
  /// (to path + ".old") and a new one begun; warn is told. False when no
  /// state can be used; warn has then been told why.
  bool open(const std::string& path, const std::string& programVersion,
            std::chrono::milliseconds lockTimeout, const WarningSink& warn);
  /// open() in two steps: lock() takes the lock (making the directory), and
  /// openLocked() then opens the database, perhaps on another thread.
  bool lock(const std::string& path, std::chrono::milliseconds lockTimeout,
            const WarningSink& warn);
  bool openLocked(const std::string& programVersion, const WarningSink& warn);
  bool isOpen() const { return db_ != nullptr; }

  /// The records: as open() found them, with every change made since.
  const std::unordered_map<std::string, WrittenOutput>& outputs() const { return outputs_; }
  const std::unordered_map<std::string, PageRecord>& pages() const { return pages_; }

  /// Records a page's output and what it depended on, replacing older records.
  /// A record that would judge every later run as the stored one does (the
  /// same in all but its time, and no file in it changed within the stored
  /// record's clock tick) is kept as it is and not written again.
  void recordPage(const std::string& output, const WrittenOutput& written,
                  const PageRecord& record);
  /// Forgets what a page depended on (its output stays recorded).
  void forgetPage(const std::string& output);
  /// Marks a page's record as failed: the page is compiled again next run.
  void markFailed(const std::string& output);
  void recordOutput(const std::string& path, const WrittenOutput& written);
  /// Forgets an output and anything recorded for it as a page.
  void forgetOutput(const std::string& path);

  /// From now on, nothing is written before commit().
  void holdWrites() { holding_ = true; }

  /// Records as they stand now, of the paths changed since the last were taken.
  struct Change {
    std::string path;
    std::optional<WrittenOutput> output;  // nullopt: forgotten
    std::optional<PageRecord> page;       // nullopt: none recorded
  };
  using Changes = std::vector<Change>;
  /// The changes since the last were taken, when enough have gathered or
  /// enough time has passed to write them, and no changes taken before wait
  /// to be written (never after holdWrites()). The taker must write() them.
  std::optional<Changes> takeDueChanges();
  /// Writes and commits changes that takeDueChanges() gave. A write that
  /// fails ends the use of the database; failed() then tells it.
  void write(const Changes& changes);
  /// Writes and commits what was recorded since changes were last taken,
  /// after any due changes taken before.
  void commit();
  /// Commits, closes the database and lets the next run have it; the records
  /// stay in memory. The end of the object does this too.
  void close();
  bool failed() const { return failed_; }

 private:
  // How an attempt to use the database file went; problem tells what is
  // wrong with an unusable one.
  enum class Opening { kOpened, kBusy, kUnwritable, kUnusable };
  // check: look through every page of the file for damage first.
  Opening openDatabase(const std::string& path, const std::string& programVersion, bool check,
                       std::string& problem);
  Opening openFile(const std::string& path, const std::string& programVersion, bool check,
                   std::string& problem);
  void leaveNote();
  bool load();
  std::size_t rowCount(const char* table);  // 0 when it cannot be told
  void closeDatabase();
  void touch(const std::string& path);
  Changes takeChanges();
  bool writeRecords(const Change& change);
  std::optional<long long> pathId(const std::string& path);

  void writeHeld(const Changes& changes);  // with writing_ held

  struct Statements;
  struct StoredPath {
    long long id;
    SharedPath path;
  };

  LockFile lock_;
  std::string path_;
  std::atomic<bool> failed_ = false;
  std::atomic<bool> writable_ = false;  // a database is open and has not failed

  // The records, changed by one thread at a time.
  bool holding_ = false;
  std::unordered_set<std::string> dirty_;  // paths whose records changed since last taken
  std::chrono::steady_clock::time_point lastCommit_;
  std::unordered_map<std::string, WrittenOutput> outputs_;
  std::unordered_map<std::string, PageRecord> pages_;

  // The database, used with writing_ held once the records are loaded.
  std::mutex writing_;
  std::condition_variable dueWritten_;
  std::atomic<bool> dueTaken_ = false;  // due changes were taken and wait to be written
  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> statements_;
  bool inTransaction_ = false;
  std::unordered_map<std::string, long long> pageIds_;  // the stored pages' row ids
  std::unordered_map<std::string, long long> pathIds_;  // the stored paths' ids
  std::vector<StoredPath> storedPaths_;                 // those not yet in pathIds_
  std::vector<long long> unusedPaths_;                  // stored paths no page refers to, to delete
};

}  // namespace qf
