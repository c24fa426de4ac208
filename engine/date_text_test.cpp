#include "engine/date_text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace qf {
namespace {

TEST(DateText, EnglishTwelveHourTextsWhateverTheLocale) {
  struct Case {
    int year, month, day, weekday, hour, minute;
    const char* expected;  // weekday month day year time
  };
  const Case cases[] = {
      {2026, 0, 7, 3, 13, 7, "Wednesday January 07 2026 01:07 PM"},
      {2025, 11, 31, 3, 0, 5, "Wednesday December 31 2025 12:05 AM"},
      {2024, 1, 29, 4, 12, 0, "Thursday February 29 2024 12:00 PM"},
      {2023, 6, 2, 0, 23, 59, "Sunday July 02 2023 11:59 PM"},
      {2022, 8, 10, 6, 9, 5, "Saturday September 10 2022 09:05 AM"},
  };
  // A process locale with other names must not leak into the texts.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (const Case& c : cases) {
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month;
    local.tm_mday = c.day;
    local.tm_wday = c.weekday;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    const DateTexts t = formatDate(local);
    EXPECT_EQ(t.weekday + " " + t.month + " " + t.day + " " + t.year + " " + t.time, c.expected);
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace qf
