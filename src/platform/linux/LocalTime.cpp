#include "platform/LocalTime.h"

#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <sys/time.h>

namespace vantrel::platform {
namespace {

locale_t UserTimeLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    return l ? l : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }();
  return loc;
}

std::string LangInfo(nl_item item) { return nl_langinfo_l(item, UserTimeLocale()); }

}  // namespace

LocalTimeFields LocalTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  // Asked several times for every event: the local fields are worked out
  // once a second (the zone's offset changes only on a second's edge).
  thread_local time_t memoSecs = -1;
  thread_local tm local{};
  if (tv.tv_sec != memoSecs) {
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &local);
    memoSecs = secs;
  }
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,         local.tm_sec,     static_cast<int>(tv.tv_usec / 1000)};
}

std::string LocaleMonthName(int month, bool abbreviated) {
  return LangInfo(static_cast<nl_item>((abbreviated ? ABMON_1 : MON_1) + month - 1));
}

std::string LocaleDayName(int weekday, bool abbreviated) {
  return LangInfo(static_cast<nl_item>((abbreviated ? ABDAY_1 : DAY_1) + weekday));
}

std::string LocaleDayPeriod(bool afternoon) { return LangInfo(afternoon ? PM_STR : AM_STR); }

bool LocaleUses24HourClock() {
  std::string format = LangInfo(T_FMT);
  return format.find("%I") == std::string::npos && format.find("%l") == std::string::npos &&
         format.find("%r") == std::string::npos;
}

}  // namespace vantrel::platform
