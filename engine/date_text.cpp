#include "engine/date_text.h"

#include <cstdio>

namespace qf {

namespace {

const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};

std::string twoDigits(int value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", value);
  return digits;
}

}  // namespace

DateTexts formatDate(const std::tm& local) {
  DateTexts texts;
  texts.weekday = kWeekdays[((local.tm_wday % 7) + 7) % 7];
  texts.month = kMonths[((local.tm_mon % 12) + 12) % 12];
  texts.day = twoDigits(local.tm_mday);
  texts.year = std::to_string(local.tm_year + 1900L);
  const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  texts.time =
      twoDigits(hour12) + ":" + twoDigits(local.tm_min) + (local.tm_hour < 12 ? " AM" : " PM");
  return texts;
}

}  // namespace qf
