#include "ui/message_box.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

struct BoxTextCase {
  const char* text;
  const char* caption;
  const char* shown;
};

const BoxTextCase kBoxTextCases[] = {
    {"You haven't specified a directory to search for files!", "Quillforge 1.3a",
     "You haven't specified a directory to search for files!"},
    {"Error: Bad directive.", "/site/page.src line 12",
     "Error: Bad directive.\n\n/site/page.src, line 12"},
    {"Error: x", "/a line b/c.src line -1", "Error: x\n\n/a line b/c.src, line -1"},
    {"Error: Unknown error.", "None line 0", "Error: Unknown error.\n\nNone, line 0"},
    {"Text", "caption line ", "Text"},
    {"Text", "caption line 1a", "Text"},
};

TEST(MessageBoxText, NamesTheFailurePlaceBelowTheMessage) {
  for (const BoxTextCase& c : kBoxTextCases) {
    SCOPED_TRACE(c.caption);
    EXPECT_EQ(messageBoxText(c.text, c.caption), c.shown);
  }
}

}  // namespace
}  // namespace qf
