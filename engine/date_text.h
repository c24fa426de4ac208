#pragma once

#include <ctime>
#include <string>

namespace qf {

/// The date and time texts of the built-in symbols, in English whatever the
/// process locale.
struct DateTexts {
  std::string weekday;  // "Wednesday"
  std::string month;    // "January"
  std::string day;      // "05"
  std::string year;     // "2026"
  std::string time;     // "09:05 PM"
};

DateTexts formatDate(const std::tm& local);

}  // namespace qf
