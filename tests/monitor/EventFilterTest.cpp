#include "log/AutomationDate.h"
#include "log/EventList.h"
#include "monitor/EventFilter.h"
#include "text/TextRules.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

class FakeHost : public DispatchHost {
 public:
  FakeHost() { ticked.fill(true); }
  bool TypeBoxTicked(TypeBox box) const override { return ticked[box]; }
  bool CustomPathMode() const override { return custom; }
  const std::string& ProgramDirectory() const override { return programDirectory; }
  bool InLastActionTarget(const std::string& path) const override { return TextContains(path, lastTarget); }
  std::size_t MonitoredPathCount() const override { return rules.size(); }
  const std::string& MonitoredPathAt(std::size_t row) const override { return rules[row]; }
  bool RowListed(std::string_view time, std::string_view eventName, std::string_view path) const override {
    return rows.LatestSecondRepeats(time, eventName, path);
  }
  // What the engine does with an event the filter lets through.
  void Listed(const ChangeEvent& e) {
    const std::string eventName(EventKindName(e.kind));
    rows.Append(clockText, e.name, eventName, e.path);
    calls.push_back("row " + eventName + " " + e.path + (e.newPath.empty() ? "" : " -> " + e.newPath));
    calls.push_back("rules " + eventName + " " + e.path + " " + e.name);
  }

  std::array<bool, kTypeBoxCount> ticked;
  bool custom = false;
  std::string programDirectory = "/opt/vantrel", lastTarget = "/opt/vantrel";
  std::vector<std::string> rules;
  EventList rows;
  std::string clockText = "2021-08-01 13:05:09";
  std::vector<std::string> calls;
};

// An event as the source would decode it, named by its kind's name.
ChangeEvent Event(const char* eventName, const char* name, const char* path) {
  ChangeEvent e;
  e.kind = EventKindOfName(eventName);
  e.code = CodeOfKind(e.kind);
  e.name = name;
  e.path = path;
  return e;
}

class EventFilterTest : public ::testing::Test {
 protected:
  bool Dispatch(const char* eventName, const char* name, const char* path) {
    return Dispatch(Event(eventName, name, path));
  }
  bool Dispatch(const ChangeEvent& e) {
    const std::optional<ChangeEvent> listed = DispatchChangeEvent(e, host_, clock_);
    if (listed) host_.Listed(*listed);
    return listed.has_value();
  }
  ManualClock clock_{LocalDateTime{2021, 8, 1, 13, 5, 9, 0}};
  FakeHost host_;
};

TEST_F(EventFilterTest, AcceptedEventIsListedThenOfferedToTheRules) {
  EXPECT_TRUE(Dispatch("重命名文件", "new.txt", "/home/u/old.txt"));
  ASSERT_EQ(host_.calls.size(), 2u);
  EXPECT_EQ(host_.calls[0], "row 重命名文件 /home/u/old.txt");
  EXPECT_EQ(host_.calls[1], "rules 重命名文件 /home/u/old.txt new.txt") << "the old path and the new name";
}

TEST_F(EventFilterTest, NamesAndTypeBoxes) {
  EXPECT_FALSE(Dispatch("新建文件", "$RECYCLE.BIN", "/home/u/$RECYCLE.BIN"));
  EXPECT_FALSE(Dispatch("更新目录", "u", "/home/u"));
  EXPECT_FALSE(Dispatch("文件属性改变", "a", "/home/u/a"));
  EXPECT_TRUE(Dispatch("", "x", "/home/u/x")) << "a code without a name passes";
  host_.ticked[DispatchHost::FileDeletedBox] = false;
  EXPECT_FALSE(Dispatch("删除文件", "a", "/home/u/a"));
  EXPECT_TRUE(Dispatch("删除目录", "d", "/home/u/d"));
  EXPECT_FALSE(Dispatch("更新文件", "tmp", "/tmp")) << "an update of a directory";
  EXPECT_TRUE(Dispatch("更新文件", "status", "/proc/self/status"));
}

TEST_F(EventFilterTest, RepeatsWithinTheSameSecond) {
  EXPECT_TRUE(Dispatch("新建文件", "a", "/home/u/a"));
  EXPECT_FALSE(Dispatch("新建文件", "a", "/home/u/a"));
  EXPECT_TRUE(Dispatch("删除文件", "b", "/home/u/b"));
  EXPECT_TRUE(Dispatch("删除文件", "a", "/home/u/a")) << "event name and path stand in different rows: a real change";
  EXPECT_FALSE(Dispatch("删除文件", "a", "/home/u/a"));
  EXPECT_TRUE(Dispatch("新建文件", "a", "/home/u/a")) << "made again after its deletion: a new change";
  clock_.SetLocal({2021, 8, 1, 13, 5, 10, 0});
  host_.clockText = "2021-08-01 13:05:10";
  EXPECT_TRUE(Dispatch("新建文件", "a", "/home/u/a")) << "a new second";
}

TEST_F(EventFilterTest, ABusySecondDropsNoRealChange) {
  // What sed -i, an editor's safe save or find -delete does within one second.
  EXPECT_TRUE(Dispatch("新建文件", "a.txt", "/w/a.txt"));
  EXPECT_TRUE(Dispatch("重命名文件", "b.txt", "/w/a.txt"));
  EXPECT_TRUE(Dispatch("新建文件", "c.txt", "/w/c.txt"));
  EXPECT_TRUE(Dispatch("重命名文件", "d.txt", "/w/c.txt")) << "every name and path already stand in some row";
  for (int i = 0; i < 20000; ++i) {
    std::string path = "/w/burst/f" + std::to_string(i);
    ASSERT_TRUE(Dispatch("新建文件", "f", path.c_str()));
  }
  for (int i = 0; i < 20000; ++i) {
    std::string path = "/w/burst/f" + std::to_string(i);
    ASSERT_TRUE(Dispatch("删除文件", "f", path.c_str())) << path;
  }
  EXPECT_EQ(host_.rows.RowCount(), 40004u);
}

TEST_F(EventFilterTest, WholeDiskScope) {
  EXPECT_FALSE(Dispatch("新建文件", "config.ini", "/opt/vantrel/config.ini"));
  host_.lastTarget = "/backup";
  EXPECT_FALSE(Dispatch("新建文件", "a", "/backup/a"));
  EXPECT_TRUE(Dispatch("新建文件", "a", "/data/a"));
  host_.rules = {"/nowhere"};
  EXPECT_TRUE(Dispatch("新建文件", "b", "/data/b")) << "rule paths do not matter in whole-disk mode";
}

TEST_F(EventFilterTest, InCustomModeAMoveAcrossTheRulePathsIsACreationOrADeletion) {
  host_.custom = true;
  host_.rules = {"/in"};
  auto move = [&](std::uint32_t code, const char* from, const char* to) {
    ChangeEvent e;
    e.code = code;
    e.kind = KindOfCode(code);
    e.path = from;
    e.newPath = to;
    e.name = std::string(to).substr(std::string(to).rfind('/') + 1);
    host_.calls.clear();
    return Dispatch(e);
  };
  EXPECT_TRUE(move(SHCNE_RENAMEFOLDER, "/elsewhere/photos", "/in/photos"));
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"row 新建目录 /in/photos", "rules 新建目录 /in/photos photos"}));
  EXPECT_TRUE(move(SHCNE_RENAMEITEM, "/in/a.txt", "/elsewhere/b.txt"));
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"row 删除文件 /in/a.txt", "rules 删除文件 /in/a.txt a.txt"}));
  EXPECT_FALSE(move(SHCNE_RENAMEITEM, "/elsewhere/a", "/other/a"));
  EXPECT_TRUE(move(SHCNE_RENAMEITEM, "/in/t1", "/in/sub/t2"));
  EXPECT_EQ(host_.calls[0], "row 重命名文件 /in/t1 -> /in/sub/t2") << "inside, a rename stays a rename";
  host_.custom = false;
  EXPECT_TRUE(move(SHCNE_RENAMEITEM, "/elsewhere/x", "/other/y"));
  EXPECT_EQ(host_.calls[0], "row 重命名文件 /elsewhere/x -> /other/y") << "whole-disk mode sees every rename";
}

TEST_F(EventFilterTest, CustomScopeIsContainmentOfAnyRulePath) {
  host_.custom = true;
  EXPECT_FALSE(Dispatch("新建文件", "a", "/data/a")) << "no rules, nothing listed";
  host_.rules = {"/data"};
  host_.lastTarget = "/data2";
  EXPECT_TRUE(Dispatch("新建文件", "a", "/data2/a")) << "containment, and no last-target test";
  EXPECT_TRUE(Dispatch("新建文件", "b", "/x/data/b"));
  EXPECT_FALSE(Dispatch("新建文件", "c", "/other/c"));
  host_.rules.push_back("/opt");
  EXPECT_FALSE(Dispatch("新建文件", "d", "/opt/vantrel/d")) << "the program's own folder stays out";
  EXPECT_TRUE(PathInCustomScope("/opt/x", host_));
  EXPECT_FALSE(PathInCustomScope("", host_));
}

}  // namespace
}  // namespace vantrel
