#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qf {
namespace {

TEST(Text, NullCStringIsEmpty) {
  const Text text(static_cast<const char*>(nullptr));
  EXPECT_EQ(text.length(), 0u);
  EXPECT_STREQ(text.chars(), "");
  EXPECT_TRUE(text.equals(""));
  EXPECT_FALSE(text.equals(static_cast<const char*>(nullptr)));
}

TEST(Text, HoldsNulBytesAndComparesByLength) {
  const Text text(std::string("a\0b", 3));
  EXPECT_EQ(text.length(), 3u);
  EXPECT_FALSE(text.equals("a"));
  EXPECT_TRUE(text.equals(std::string_view("a\0b", 3)));
  EXPECT_FALSE(text.equals(std::string_view("a\0c", 3)));
}

TEST(Text, AssignAndAppendIgnoreNull) {
  Text text("keep");
  text.assign(static_cast<const char*>(nullptr));
  text.append(static_cast<const char*>(nullptr));
  text.append("");
  EXPECT_TRUE(text.equals("keep"));
  text.assign("new");
  EXPECT_TRUE(text.equals("new"));
}

TEST(Text, ConcatenatesInAllThreeForms) {
  EXPECT_TRUE(("ab" + Text("cd")).equals("abcd"));
  EXPECT_TRUE((Text("ab") + "cd").equals("abcd"));
  EXPECT_TRUE((Text("ab") + Text("cd")).equals("abcd"));
  EXPECT_TRUE((Text("ab") + Text()).equals("ab"));
  EXPECT_TRUE((static_cast<const char*>(nullptr) + Text("x")).equals("x"));
}

TEST(Text, FromIntKeepsTheSign) {
  EXPECT_TRUE(fromInt(-5).equals("-5"));
  EXPECT_TRUE(fromInt(0).equals("0"));
  EXPECT_TRUE(fromInt(3221225472LL).equals("3221225472"));
}

}  // namespace
}  // namespace qf
