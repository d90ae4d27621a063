#include "platform/LocalTime.h"

#include "platform/windows/Wide.h"

#include <windows.h>

namespace vantrel::platform {
namespace {

std::string LocaleText(LCTYPE item) {
  wchar_t text[128] = {};
  int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, text, 128);
  return n > 1 ? Utf8FromWide(std::wstring_view(text, static_cast<std::size_t>(n - 1))) : std::string();
}

}  // namespace

LocalTimeFields LocalTimeNow() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::string LocaleMonthName(int month, bool abbreviated) {
  return LocaleText((abbreviated ? LOCALE_SABBREVMONTHNAME1 : LOCALE_SMONTHNAME1) + static_cast<LCTYPE>(month - 1));
}

std::string LocaleDayName(int weekday, bool abbreviated) {
  // Windows counts the days from Monday.
  const LCTYPE fromMonday = static_cast<LCTYPE>((weekday + 6) % 7);
  return LocaleText((abbreviated ? LOCALE_SABBREVDAYNAME1 : LOCALE_SDAYNAME1) + fromMonday);
}

std::string LocaleDayPeriod(bool afternoon) { return LocaleText(afternoon ? LOCALE_S2359 : LOCALE_S1159); }

bool LocaleUses24HourClock() {
  // The time picture: "H" is the 24-hour clock, "h" the 12-hour one.
  std::string picture = LocaleText(LOCALE_STIMEFORMAT);
  bool inQuote = false;
  for (char c : picture) {
    if (c == '\'') inQuote = !inQuote;
    if (!inQuote && c == 'h') return false;
  }
  return true;
}

}  // namespace vantrel::platform
