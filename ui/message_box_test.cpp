#include "ui/message_box.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

struct FailureBoxCase {
  const char* name;
  CompileResult failure;
  const char* caption;
  const char* text;
};

const FailureBoxCase kFailureBoxCases[] = {
    {"in the page",
     {false, "Error: Bad directive.", "/site/page.src", 12},
     "/site/page.src line 12",
     "/site/page.src:12: Error: Bad directive."},
    {"two files deep",
     {false,
      "Error: Unknown directive after #.",
      "/site/inner.inc",
      3,
      {{"/site/outer.inc", 1}, {"/site/page.src", 7}}},
     "/site/inner.inc line 3",
     "In file included from /site/outer.inc:1,\n"
     "                 from /site/page.src:7:\n"
     "/site/inner.inc:3: Error: Unknown directive after #."},
    {"before the input is known",
     {false, "Error: Unknown error.", "None", 0},
     "None line 0",
     "None:0: Error: Unknown error."},
};

TEST(FailureBox, CaptionNamesThePlaceAndTextGivesTheIncludeChain) {
  for (const FailureBoxCase& c : kFailureBoxCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureCaption(c.failure), c.caption);
    EXPECT_EQ(failureText(c.failure), c.text);
  }
}

}  // namespace
}  // namespace qf
