#include "base/lock_file.h"

#include <gtest/gtest.h>

#include "base/test_util.h"

namespace qf {
namespace {

using std::chrono::milliseconds;

TEST(LockFile, OneHolderAtATime) {
  TempDir dir;
  const std::string path = dir / "state.lock";
  LockFile first;
  ASSERT_EQ(first.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked);
  EXPECT_TRUE(first.isLocked());

  LockFile second;
  int told = 0;
  EXPECT_EQ(second.lock(path, milliseconds(200), milliseconds(20), [&] { ++told; }),
            LockFile::Result::kHeldElsewhere);
  EXPECT_FALSE(second.isLocked());
  EXPECT_EQ(told, 1) << "a long wait is told once";

  first.release();
  EXPECT_EQ(second.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked);
  {
    LockFile third;
    EXPECT_EQ(third.lock(path, milliseconds(0), milliseconds(0), {}),
              LockFile::Result::kHeldElsewhere);
  }
  second.release();
  {
    LockFile fourth;
    EXPECT_EQ(fourth.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked);
  }
  LockFile fifth;
  EXPECT_EQ(fifth.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked)
      << "the end of a holder frees the lock";
}

TEST(LockFile, AHolderLeavesANoteForTheNext) {
  TempDir dir;
  const std::string path = dir / "state.lock";
  {
    LockFile lock;
    EXPECT_EQ(lock.note(), "") << "not locked";
    EXPECT_FALSE(lock.setNote("x"));
    ASSERT_EQ(lock.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked);
    EXPECT_EQ(lock.note(), "");
    EXPECT_TRUE(lock.setNote("a longer first note"));
    EXPECT_TRUE(lock.setNote("second"));
    EXPECT_EQ(lock.note(), "second") << "a note replaces the last one whole";
  }
  LockFile next;
  ASSERT_EQ(next.lock(path, milliseconds(0), milliseconds(0), {}), LockFile::Result::kLocked);
  EXPECT_EQ(next.note(), "second");
  EXPECT_TRUE(next.setNote(""));
  EXPECT_EQ(next.note(), "");
  EXPECT_FALSE(next.setNote(std::string(1001, 'x')));
  EXPECT_FALSE(next.setNote("two\nlines"));
  EXPECT_EQ(next.note(), "");
}

TEST(LockFile, AFileThatCannotBeMadeIsNoWait) {
  TempDir dir;
  LockFile lock;
  int told = 0;
  EXPECT_EQ(
      lock.lock(dir / "missing/state.lock", milliseconds(5000), milliseconds(0), [&] { ++told; }),
      LockFile::Result::kUnopenable);
  EXPECT_EQ(told, 0);
  EXPECT_FALSE(lock.isLocked());
}

}  // namespace
}  // namespace qf
