// The engine without any face: a scripted stream of changes on a real tree
// gives the rows, the log records, the repeat test's drops, the rules'
// actions, and our own changes' echoes used up.
#include "engine/Engine.h"
#include "log/AutomationDate.h"
#include "monitor/ScriptedSource.h"
#include "EngineTurns.h"
#include "rules/RuleFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <algorithm>
#include <filesystem>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home_);
    fs::create_directories(in_ + "/bak");
    fs::create_directories(out_);
    ASSERT_TRUE(WriteFileAtomically(home_ + "/config.ini", Utf8ToGb18030("[监控设置]\r\n保存日志=真\r\n")));
  }

  void Start(std::size_t rowLimit = 0) {
    Engine::Options options;
    options.home = home_;
    options.rowLimit = rowLimit;
    options.clock = &clock_;
    options.sourceFactory = [this](const std::vector<std::string>&, std::string&) {
      auto made = std::make_unique<ScriptedSource>();
      source_ = made.get();
      return made;
    };
    EngineFace face;
    face.prompt = [this](const std::string& title, const std::string& text, PromptKind kind) {
      prompts_.push_back({title, text, kind});
    };
    face.actionReported = [this](const std::string& report) { actions_.push_back(report); };
    engine_ = std::make_unique<Engine>(std::move(options), std::move(face));
    std::string error;
    ASSERT_TRUE(engine_->StartSource(error)) << error;
    engine_->Start();
  }
  // Feeds changes and lets the engine handle them and their actions.
  void Feed(std::vector<ChangeNotification> batch) {
    source_->Inject(std::move(batch));
    engine_->DrainSource();
    engine_->FinishPendingActions();
  }
  std::string LogText() { return Gb18030ToUtf8(Read(home_ + "/log/20210801/log.txt")); }

  struct Prompted {
    std::string title, text;
    PromptKind kind;
  };
  TestDir temp_;
  std::string home_ = temp_.Path() + "/home", in_ = temp_.Path() + "/in", out_ = temp_.Path() + "/out";
  ManualClock clock_{LocalDateTime{2021, 8, 1, 13, 5, 9, 0}};
  std::unique_ptr<Engine> engine_;
  ScriptedSource* source_ = nullptr;
  std::vector<Prompted> prompts_;
  std::vector<std::string> actions_;
};

TEST_F(EngineTest, AStreamGivesRowsRecordsDropsAndActionsAndOurEchoesFireNothing) {
  Start();
  // The copies land inside the watched folder, the case where a rule would
  // copy its own copies again.
  engine_->Rules().Add("新建文件", in_, "【复制文件】" + in_ + "/bak");
  Put(in_ + "/a.txt", "a");
  Feed({{SHCNE_CREATE, in_ + "/a.txt", std::nullopt, 0}});
  Feed({{SHCNE_CREATE, in_ + "/a.txt", std::nullopt, 0}});  // the same second: a repeat
  EXPECT_EQ(Read(in_ + "/bak/a.txt"), "a");
  ASSERT_EQ(actions_.size(), 1u);
  EXPECT_EQ(actions_[0], "复制文件】" + in_ + "/bak/a.txt");

  clock_.SetLocal({2021, 8, 1, 13, 5, 10, 0});
  Feed({{SHCNE_CREATE, in_ + "/bak/a.txt", std::nullopt, 0}});  // the copy's own echo
  EXPECT_EQ(actions_.size(), 1u) << "our own change fires no rule";
  EXPECT_FALSE(fs::exists(in_ + "/bak/a(1).txt"));
  Put(in_ + "/bak/a.txt.2", "x");
  clock_.SetLocal({2021, 8, 1, 13, 5, 11, 0});
  Feed({{SHCNE_CREATE, in_ + "/bak/a.txt", std::nullopt, 0}});  // somebody else's, later
  EXPECT_EQ(actions_.size(), 2u) << "the echo was used up: the next change there is the user's";

  EventList& rows = engine_->Events();
  ASSERT_EQ(rows.RowCount(), 5u) << "three events (the repeat dropped) and two actions";
  EXPECT_EQ(rows.Cell(0, 2), "新建文件");
  EXPECT_EQ(rows.Cell(1, 1), "【执行操作】");
  const std::string log = LogText();
  EXPECT_NE(log.find("2021-08-01 13:05:09.000 信息: ┃ a.txt ┃ 新建文件 ┃ " + in_ + "/a.txt\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("【执行操作】 ┃ 复制文件】" + in_ + "/bak/a.txt\r\n"), std::string::npos) << log;
}

TEST_F(EngineTest, TurnsInWatchingAreToldAtOnceAndAnEndedSourceIsKnown) {
  Start();
  // Losses within a minute are gathered; a turn in how changes are watched
  // is news each time.
  source_->Tell({SourceReport::QueueOverflow, 1, {}});
  source_->Tell({SourceReport::QueueOverflow, 1, {}});
  source_->Tell({SourceReport::WatchChanged, 1, "监控助手已退出 (信号 9), 期间的变动可能未被看到"});
  source_->Tell({SourceReport::WatchChanged, 1, "监控助手已重新启动, 全盘监控已恢复"});
  engine_->DrainSource();
  std::string log = LogText();
  EXPECT_NE(log.find("监控 ┃ 监控助手已退出 (信号 9)"), std::string::npos) << log;
  EXPECT_NE(log.find("监控 ┃ 监控助手已重新启动, 全盘监控已恢复"), std::string::npos) << log;
  EXPECT_EQ(log.find("溢出 2 次"), std::string::npos) << "the second overflow waits for its minute: " << log;
  auto losses = [this] {
    const std::string text = LogText();
    std::size_t count = 0;
    for (std::size_t at = text.find("变动丢失"); at != std::string::npos; at = text.find("变动丢失", at + 1)) ++count;
    return count;
  };
  EXPECT_EQ(losses(), 1u);
  ASSERT_TRUE(engine_->NextDeadline());
  clock_.Advance(*engine_->NextDeadline() - std::chrono::milliseconds(1));
  engine_->Work(std::chrono::milliseconds(10));
  EXPECT_EQ(losses(), 1u) << "not before its minute, on the engine's own clock";
  clock_.Advance(std::chrono::milliseconds(1));
  engine_->Work(std::chrono::milliseconds(10));
  EXPECT_EQ(losses(), 2u) << "told once its minute is up: " << LogText();
  EXPECT_FALSE(engine_->SourceEnded());
  source_->Tell({SourceReport::SourceEnded, 1, "监控助手与 inotify 都无法启动"});
  engine_->DrainSource();
  EXPECT_TRUE(engine_->SourceEnded()) << "what a service manager's restart hangs on";
}

// A source that brings more than each turn takes, for a long while: the
// engine holds what waits, not everything it ever took.
TEST_F(EngineTest, ChangesFasterThanTheTurnsHoldOnlyWhatWaits) {
  Start();
  std::size_t injected = 0, handled = 0;
  for (int round = 0; round < 50; ++round) {
    std::vector<ChangeNotification> batch;
    for (int i = 0; i < 100; ++i)
      batch.push_back({SHCNE_CREATE, in_ + "/f" + std::to_string(injected++), std::nullopt, 0});
    source_->Inject(std::move(batch));
    // A turn without time left takes one change.
    for (int i = 0; i < 60; ++i, ++handled) engine_->Work(std::chrono::milliseconds(0));
    ASSERT_LE(engine_->ChangesHeld(), 2 * (injected - handled) + 100) << "round " << round;
  }
  engine_->DrainSource();
  engine_->Work();
  EXPECT_EQ(engine_->ChangesHeld(), 0u);
}

TEST_F(EngineTest, TheModeSwitchWritesBothKeysAndTurnsGlobalRulesOff) {
  Start();
  engine_->SetWholeDisk(true);
  engine_->Rules().Add("新建文件", std::string(GlobalPathMarker), "【删除文件】");
  ASSERT_TRUE(engine_->Rules().Rules()[0].enabled);
  engine_->SetCustomPath(true);
  EXPECT_FALSE(engine_->Rules().Rules()[0].enabled);
  EXPECT_FALSE(LoadRuleFile(home_ + "/data.jl")[0].enabled) << "saved at once";
  EXPECT_EQ(ReadSetting(home_ + "/config.ini", "监控设置", "全盘监控", ""), "假");
  EXPECT_EQ(ReadSetting(home_ + "/config.ini", "监控设置", "自定义路径", ""), "真");
  engine_->Rules().SetEnabledByUser(0, true);
  EXPECT_FALSE(engine_->Rules().Rules()[0].enabled) << "a global-path rule stays off in custom-path mode";
  ASSERT_FALSE(prompts_.empty());
  EXPECT_EQ(prompts_.back().text, "当前监控路径为自定义,无法打开全局路径!");
  EXPECT_EQ(prompts_.back().kind, PromptKind::Info);
}

// A face that shows no list keeps few rows, and the repeat test loses
// nothing by it: the list goes only when a new second begins.
TEST_F(EngineTest, ALimitedListStillDropsRepeatsOfTheCurrentSecond) {
  Start(3);
  engine_->SetWholeDisk(true);
  for (int i = 0; i < 3; ++i) Feed({{SHCNE_CREATE, "/data/f" + std::to_string(i), std::nullopt, 0}});
  Feed({{SHCNE_CREATE, "/data/f0", std::nullopt, 0}});
  EXPECT_EQ(engine_->Events().RowCount(), 3u) << "a repeat in the same second, limit or not";
  clock_.SetLocal({2021, 8, 1, 13, 5, 10, 0});
  Feed({{SHCNE_CREATE, "/data/f0", std::nullopt, 0}});
  EXPECT_EQ(engine_->Events().RowCount(), 1u) << "a new second, and the list was past its limit";
  Feed({{SHCNE_CREATE, "/data/f0", std::nullopt, 0}});
  EXPECT_EQ(engine_->Events().RowCount(), 1u);
  const std::string log = LogText();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2 * 4) << "every listed row was logged";
}

TEST_F(EngineTest, ReloadTakesTheRulesAndSettingsAsTheFilesNowHoldThem) {
  Start();
  SaveRuleFile(home_ + "/data.jl", {{"新建文件", in_, "【复制文件】" + out_, true}});
  ASSERT_TRUE(WriteSetting(home_ + "/config.ini", "监控类型", "新建文件", "假"));
  engine_->Reload();
  ASSERT_EQ(engine_->Rules().Rules().size(), 1u);
  EXPECT_FALSE(engine_->CurrentSettings().types[DispatchHost::FileCreatedBox]);
  Put(in_ + "/b.txt", "b");
  Feed({{SHCNE_CREATE, in_ + "/b.txt", std::nullopt, 0}});
  EXPECT_EQ(engine_->Events().RowCount(), 0u) << "new files are no longer listed";
  ASSERT_TRUE(WriteSetting(home_ + "/config.ini", "监控类型", "新建文件", "真"));
  engine_->Reload();
  clock_.SetLocal({2021, 8, 1, 13, 5, 10, 0});
  Feed({{SHCNE_CREATE, in_ + "/b.txt", std::nullopt, 0}});
  EXPECT_EQ(Read(out_ + "/b.txt"), "b");
}

// The count of actions a quit left undone is told once; a value this
// program never wrote (an edit, a damaged file) is taken as absent and goes.
TEST_F(EngineTest, ACountOfActionsNotDoneIsToldOnceAndADamagedOneGoes) {
  const struct {
    const char* stored;
    bool told;
  } cases[] = {{"2", true}, {"-3", false}, {"abc", false}, {"12x", false}, {"0", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    ASSERT_TRUE(WriteSetting(home_ + "/config.ini", "上次退出", "未执行", c.stored));
    prompts_.clear();
    Start();
    const bool told = std::any_of(prompts_.begin(), prompts_.end(),
                                  [](const Prompted& p) { return p.text.find("上次退出时有 ") != std::string::npos; });
    EXPECT_EQ(told, c.told);
    const std::string now = ReadSetting(home_ + "/config.ini", "上次退出", "未执行", "absent");
    EXPECT_EQ(now, c.told || std::string(c.stored) == "0" ? "0" : "absent");
    engine_.reset();
  }
}

// What changed in a rule's folder while the program was stopped is listed
// at the next start, once each, as found then; with 启动时补做=总是 the rules
// act on it, and a later start finds nothing again, nor copies twice.
// Running: what was heard is kept as seen; what the kernel dropped is found
// once the rules' folders are looked at again after the loss, and only it.
TEST_F(EngineTest, WhatALossDroppedIsFoundOnceTheFoldersAreLookedAtAgain) {
  ASSERT_TRUE(WriteFileAtomically(home_ + "/config.ini",
                                  Utf8ToGb18030("[监控设置]\r\n保存日志=真\r\n启动时补做=总是\r\n")));
  ASSERT_TRUE(SaveRuleFile(home_ + "/data.jl", {{"新建文件", in_, "【复制文件】" + out_, true}}));
  Put(in_ + "/b.txt", "b");
  Start();
  auto found = [&] { return MarkedRows(engine_->Events(), "【重新查看发现】"); };
  Put(in_ + "/heard.txt", "heard");
  Feed({{SHCNE_CREATE, in_ + "/heard.txt", std::nullopt, 0}});
  Put(in_ + "/lost.txt", "lost");
  fs::remove(in_ + "/b.txt");
  source_->Tell({SourceReport::QueueOverflow, 1, {}});
  Feed({});
  EXPECT_EQ(found(), (std::vector<std::string>{"删除文件 " + in_ + "/b.txt", "新建文件 " + in_ + "/lost.txt"}));
  EXPECT_EQ(Read(out_ + "/lost.txt"), "lost");
  EXPECT_EQ(Read(out_ + "/heard.txt"), "heard");
  EXPECT_FALSE(fs::exists(out_ + "/heard(1).txt")) << "what was heard is not found again";
  source_->Tell({SourceReport::QueueOverflow, 1, {}});
  Feed({});
  EXPECT_EQ(found().size(), 2u) << "found once";
}

}  // namespace
}  // namespace vantrel
