#include "log/AutomationDate.h"


#include <cmath>

namespace vantrel {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

constexpr long long kEpochOffset = DaysFromCivil(1899, 12, 30);

}  // namespace

double ToAutomationDate(const LocalDateTime& t) {
  double days = static_cast<double>(
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) - kEpochOffset);
  double frac = (t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0) / 86400.0;
  // Before the epoch the fraction still counts forward within the day.
  return days >= 0 ? days + frac : days - frac;
}

bool FromAutomationDate(double value, LocalDateTime& out) {
  if (!std::isfinite(value) || value < -657434.0 || value >= 2958466.0) return false;
  double whole = std::trunc(value);
  long long secs = std::llround(std::fabs(value - whole) * 86400.0);
  long long days = static_cast<long long>(whole);
  if (secs >= 86400) {
    secs -= 86400;
    days += value < 0 ? -1 : 1;
  }
  LocalDateTime t;
  CivilFromDays(days + kEpochOffset, t.year, t.month, t.day);
  if (t.year < 100 || t.year > 9999) return false;
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  out = t;
  return true;
}

}  // namespace vantrel
