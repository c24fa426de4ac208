#include "base/pending_changes.h"

#include <gtest/gtest.h>

#include <chrono>

namespace qf {
namespace {

using std::chrono::milliseconds;

// A save that ended (closed after writing, or renamed into place) is due
// after the short wait, unless it follows a batch closely (a burst) or a
// write is still under way.
TEST(PendingChanges, ACompletedWriteAfterAQuietSpellSettlesQuickly) {
  struct Case {
    const char* what;
    bool complete;
    bool justAfterABatch;
    bool quick;
  };
  const Case cases[] = {
      {"a completed write", true, false, true},
      {"a write still under way", false, false, false},
      {"a completed write in a burst", true, true, false},
      {"a write under way in a burst", false, true, false},
  };
  for (const Case& c : cases) {
    PendingChanges pending(milliseconds(1000), milliseconds(5000), milliseconds(0));
    if (c.justAfterABatch) {
      pending.add("before");
      pending.take();
    }
    pending.add("page.src", c.complete);
    const auto left = pending.remaining(PendingChanges::Clock::now());
    if (c.quick) {
      EXPECT_EQ(left.count(), 0) << c.what;
    } else {
      EXPECT_GT(left.count(), 500) << c.what;
    }
  }
}

TEST(PendingChanges, TheLatestChangeDecides) {
  PendingChanges pending(milliseconds(1000), milliseconds(5000), milliseconds(0));
  pending.add("page.src", true);
  pending.add("other.src", false);
  EXPECT_GT(pending.remaining(PendingChanges::Clock::now()).count(), 500);
  pending.add("other.src", true);
  EXPECT_EQ(pending.remaining(PendingChanges::Clock::now()).count(), 0);
  EXPECT_EQ(pending.take().paths, (std::vector<std::string>{"other.src", "page.src"}));
}

}  // namespace
}  // namespace qf
