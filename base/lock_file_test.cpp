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
