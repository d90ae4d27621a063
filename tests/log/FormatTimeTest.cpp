#include "log/AutomationDate.h"
#include "log/FormatTime.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vantrel {
namespace {

const double kT = ToAutomationDate({2021, 8, 1, 13, 5, 9, 0});

TEST(FormatTime, CallersResults) {
  EXPECT_EQ(FormatTime(kT, 1, 0, 2), "2021-08-01 13:05:09");
  EXPECT_EQ(FormatTime(kT, 3, 1, 2), "20210801");
  EXPECT_EQ(FormatTimePictures(kT, "yyyyMM\\", std::nullopt), "202108\\");
  EXPECT_EQ(FormatTimePictures(kT, "yyyy-MM-dd", std::nullopt), "2021-08-01");
}

TEST(FormatTime, StylesPartsAndClocks) {
  EXPECT_EQ(FormatTime(kT, 0, 0, 2), "2021年08月01日 13时05分09秒");
  EXPECT_EQ(FormatTime(kT, 0, 0, 1), "2021年08月01日 01时05分09秒");
  EXPECT_EQ(FormatTime(kT, 2, 2, 2), "08/01");
  EXPECT_EQ(FormatTime(kT, 1, 4, 2), "13:05");
  EXPECT_EQ(FormatTime(kT, 1, 5, 2), "05:09");
  EXPECT_EQ(FormatTime(kT, 3, 0, 2), "20210801130509");
  EXPECT_EQ(FormatTime(kT, 2, 0, 2), "2021/08/01 13/05/09");
  EXPECT_EQ(FormatTime(kT, 1, 3, 1), "01:05:09") << "no AM/PM marker on the 12-hour clock";
  EXPECT_EQ(FormatTime(kT, 0, 2, 2), "08月01日");
}

TEST(FormatTime, OutOfRangeArgumentsFallBack) {
  EXPECT_EQ(FormatTime(kT, 7, 0, 2), FormatTime(kT, 0, 0, 2));
  EXPECT_EQ(FormatTime(kT, -1, 0, 2), FormatTime(kT, 0, 0, 2));
  EXPECT_EQ(FormatTime(kT, 1, 6, 2), FormatTime(kT, 1, 0, 2));
  EXPECT_EQ(FormatTime(1e12, 1, 0, 2), "");
}

TEST(FormatTimePictures, ShortPicturesAndLiterals) {
  EXPECT_EQ(FormatTimePictures(kT, "dd", std::nullopt), "");
  EXPECT_EQ(FormatTimePictures(kT, std::nullopt, std::nullopt), "");
  EXPECT_EQ(FormatTimePictures(kT, std::nullopt, "hh:mm", true), "13:05");
  EXPECT_EQ(FormatTimePictures(kT, "'yyyy' yyyy", std::nullopt), "yyyy 2021");
  EXPECT_EQ(FormatTimePictures(ToAutomationDate({2021, 8, 1, 0, 5, 9, 0}), std::nullopt, "hh:mm"), "12:05");
}

TEST(AutomationDate, RoundTripsAndRoundsToTheSecond) {
  LocalDateTime t;
  ASSERT_TRUE(FromAutomationDate(kT, t));
  EXPECT_EQ(t.year, 2021);
  EXPECT_EQ(t.hour, 13);
  EXPECT_EQ(t.second, 9);
  ASSERT_TRUE(FromAutomationDate(ToAutomationDate({2021, 12, 31, 23, 59, 59, 700}), t));
  EXPECT_EQ(t.year, 2022) << "rounded up across midnight and the year";
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(ToAutomationDate({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  ASSERT_TRUE(FromAutomationDate(2.5, t));
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.year, 1900);
  EXPECT_EQ(t.hour, 12);
}

TEST(FormatTime, NowOnAClockOfOnesOwn) {
  const ManualClock clock(LocalDateTime{2021, 8, 1, 13, 5, 9, 0});
  EXPECT_EQ(FormatTime(clock.Local(), 1, 0, 2), "2021-08-01 13:05:09");
  EXPECT_NE(FormatTime(std::nullopt, 1, 0, 2), "2021-08-01 13:05:09") << "an absent time is the system's now";
}

TEST(FormatTime, NowIsTruncatedLikeTheLogRecordsSoTheDayNeverRunsAhead) {
  const LocalDateTime now{2021, 8, 1, 23, 59, 59, 600};
  EXPECT_EQ(FormatTime(now, 1, 0, 2), "2021-08-01 23:59:59");
  EXPECT_EQ(FormatTime(now, 3, 1, 2), "20210801") << "the log folder and export name of the same day";
}

TEST(LocaleUses24Hour, FollowsLcTime) {
  // The C locale, which the tests run in unless told otherwise, writes %H.
  if (std::getenv("LC_ALL") == nullptr && std::getenv("LC_TIME") == nullptr && std::getenv("LANG") == nullptr) {
    EXPECT_EQ(LocaleUses24Hour(), 1);
  }
  int uses = LocaleUses24Hour();
  EXPECT_TRUE(uses == 0 || uses == 1);
  EXPECT_EQ(FormatTime(kT, 1, 3, 0), uses ? "13:05:09" : "01:05:09");
}

}  // namespace
}  // namespace vantrel
