#include "monitor/WriteTracker.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

class WriteTrackerTest : public ::testing::Test {
 protected:
  std::vector<std::pair<std::uint32_t, std::string>> Take() {
    std::vector<std::pair<std::uint32_t, std::string>> got;
    for (auto& n : out_) got.emplace_back(n.code, *n.item1);
    out_.clear();
    return got;
  }
  using Got = std::vector<std::pair<std::uint32_t, std::string>>;
  std::vector<ChangeNotification> out_;
  WriteTracker t_{out_};
};

TEST_F(WriteTrackerTest, CreateWaitsForCloseAndAbsorbsItsOwnWritesAndAttributes) {
  t_.Created("/a", 0, 7);
  t_.Written("/a", 10, 7);
  t_.AttributesChanged("/a", 7);
  EXPECT_TRUE(Take().empty());
  t_.Closed("/a", 7);
  EXPECT_EQ(Take(), (Got{{SHCNE_CREATE, "/a"}}));
  EXPECT_EQ(out_.size(), 0u);
  t_.Expire(100000);
  EXPECT_TRUE(Take().empty()) << "nothing left behind once reported";
  EXPECT_EQ(t_.NextDeadline(), std::nullopt);
}

TEST_F(WriteTrackerTest, QuietSecondAndFiveSecondCap) {
  t_.Created("/quiet", 0, 0);
  t_.Created("/busy", 0, 0);
  for (std::int64_t now = 100; now <= 6000; now += 100) {
    t_.Written("/busy", now, 0);
    t_.Expire(now);
    for (auto& [code, path] : Take()) {
      EXPECT_EQ(now, path == "/quiet" ? 1000 : 5000) << path;
      EXPECT_EQ(code, SHCNE_CREATE);
    }
  }
  t_.Expire(7100);
  EXPECT_EQ(Take(), (Got{{SHCNE_UPDATEITEM, "/busy"}})) << "writes after the create are an update";
}

TEST_F(WriteTrackerTest, LaterEventsNeverOvertakeTheCreate) {
  t_.Created("/f", 0, 0);
  t_.Settle("/f");
  EXPECT_EQ(Take(), (Got{{SHCNE_CREATE, "/f"}}));
  t_.Written("/f", 5, 0);
  t_.Created("/f", 6, 0);
  EXPECT_EQ(Take(), (Got{{SHCNE_UPDATEITEM, "/f"}})) << "an update of the old file comes before the new create";
  t_.AttributesChanged("/other", 0);
  EXPECT_EQ(Take(), (Got{{SHCNE_ATTRIBUTES, "/other"}}));
  // Made and removed before anyone could look: its removal as a folder says
  // what it was.
  t_.Created("/gone", 7, 0);
  t_.Settle("/gone", true);
  EXPECT_EQ(Take(), (Got{{SHCNE_MKDIR, "/gone"}}));
}

TEST_F(WriteTrackerTest, HeldFilesFollowTheirFolderWhenItMoves) {
  t_.Created("/d/x", 0, 0);
  t_.Created("/dd/y", 0, 0);
  t_.MoveTree("/d", "/e");
  t_.Closed("/d/x", 0);
  EXPECT_TRUE(Take().empty());
  t_.Closed("/e/x", 0);
  EXPECT_EQ(Take(), (Got{{SHCNE_CREATE, "/e/x"}}));
  t_.Expire(1000);
  EXPECT_EQ(Take(), (Got{{SHCNE_CREATE, "/dd/y"}})) << "a folder sharing the prefix is not moved";
}

TEST_F(WriteTrackerTest, ManyEntriesExpireInOrder) {
  for (int i = 0; i < 1000; ++i) t_.Created("/f" + std::to_string(i), i, 0);
  t_.Written("/f0", 900, 0);
  t_.Expire(1500);
  auto got = Take();
  ASSERT_EQ(got.size(), 500u);
  EXPECT_EQ(got.front().second, "/f1");
  t_.Expire(2000);
  got = Take();
  ASSERT_EQ(got.size(), 500u);
  EXPECT_EQ(got[399].second, "/f900");
  EXPECT_EQ(got[400].second, "/f0") << "a write moved its deadline to 1900";
  EXPECT_EQ(got.back().second, "/f999");
}

}  // namespace
}  // namespace vantrel
