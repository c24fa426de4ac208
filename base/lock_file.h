#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace qf {

/// An exclusive lock on a lock file (an advisory lock, so only other takers
/// of this lock are kept out), held until release() or the object's end.
class LockFile {
 public:
  enum class Result {
    kLocked,
    kHeldElsewhere,  // another holder kept it past the timeout
    kUnopenable,     // the lock file could not be opened or made
  };

  LockFile() = default;
  ~LockFile() { release(); }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  /// Takes the lock of the file at path (made when missing), trying again
  /// until timeout has passed; waiting (may be empty) is called once when the
  /// wait has lasted tellAfter. Another taker may replace the file meanwhile:
  /// each try opens what the path names then.
  Result lock(const std::string& path, std::chrono::milliseconds timeout,
              std::chrono::milliseconds tellAfter, const std::function<void()>& waiting);
  bool isLocked() const { return fd_ >= 0; }

  /// While locked: the line (up to 1000 bytes) a holder left for the next
  /// one in the lock file; "" when none was left or it cannot be read.
  std::string note() const;
  /// While locked: leaves note (one line, up to 1000 bytes) in place of the
  /// last one; false when that fails, when no note may be left.
  bool setNote(std::string_view note);
  void release();

 private:
  int fd_ = -1;
};

}  // namespace qf
