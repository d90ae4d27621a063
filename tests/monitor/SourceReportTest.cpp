#include "monitor/SourceReport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

TEST(LossNotices, TheFirstIsToldAtOnceTheRestOfAMinuteTogetherWithCounts) {
  LossNotices notices;
  const auto t0 = std::chrono::steady_clock::now();
  auto first = notices.Add({SourceReport::QueueOverflow, 1, {}}, t0);
  ASSERT_TRUE(first);
  EXPECT_NE(first->find("溢出"), std::string::npos) << *first;
  EXPECT_FALSE(notices.Due());

  EXPECT_FALSE(notices.Add({SourceReport::NoPath, 40, {}}, t0 + 1s));
  EXPECT_FALSE(notices.Add({SourceReport::NoPath, 2, {}}, t0 + 2s));
  EXPECT_FALSE(notices.Add({SourceReport::QueueOverflow, 1, {}}, t0 + 3s));
  ASSERT_TRUE(notices.Due());
  EXPECT_EQ(*notices.Due(), t0 + 60s);
  EXPECT_FALSE(notices.Take(t0 + 59s));

  auto gathered = notices.Take(t0 + 60s);
  ASSERT_TRUE(gathered);
  EXPECT_NE(gathered->find("42 个变动"), std::string::npos) << *gathered;
  EXPECT_NE(gathered->find("溢出"), std::string::npos) << *gathered;
  EXPECT_FALSE(notices.Due()) << "nothing is told twice";
  EXPECT_FALSE(notices.Take(t0 + 200s));
  EXPECT_FALSE(notices.Add({SourceReport::PathTooLong, 1, "/deep"}, t0 + 61s)) << "a minute after the last notice";
  auto later = notices.Take(t0 + 120s);
  ASSERT_TRUE(later);
  EXPECT_EQ(*later, SourceReportText({SourceReport::PathTooLong, 1, "/deep"}));
}

}  // namespace
}  // namespace vantrel
