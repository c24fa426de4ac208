#include "base/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qf {
namespace {

TEST(PercentDecoded, DecodesEscapesAndRefusesBrokenOnes) {
  const struct {
    std::string_view text;
    std::optional<std::string> decoded;
  } cases[] = {
      {"plain", "plain"},     {"a%20b", "a b"},
      {"%2f%2F", "//"},       {"%00", std::string("\0", 1)},
      {"100%", std::nullopt}, {"%4", std::nullopt},
      {"%zz", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(percentDecoded(c.text), c.decoded) << c.text;
}

}  // namespace
}  // namespace qf
