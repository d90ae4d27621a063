#pragma once
// The local wall clock and what the user's locale says about writing times.
// Texts are UTF-8.
#include <string>

namespace vantrel::platform {

struct LocalTimeFields {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTimeFields LocalTimeNow();

// month 1..12; weekday 0 = Sunday .. 6 = Saturday.
std::string LocaleMonthName(int month, bool abbreviated);
std::string LocaleDayName(int weekday, bool abbreviated);
// The marker of times before noon or after it ("AM", "上午").
std::string LocaleDayPeriod(bool afternoon);
// Whether the user's locale writes times on a 24-hour clock.
bool LocaleUses24HourClock();

}  // namespace vantrel::platform
