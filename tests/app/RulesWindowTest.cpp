// Rules in the window: loaded from data.jl, saved on every change, firing
// on accepted events and listed as action rows.
#include "app/EventListModel.h"
#include "app/MainWindow.h"
#include "app/ProgramDir.h"
#include "log/Clock.h"
#include "monitor/ScriptedSource.h"
#include "WindowTestSupport.h"
#include "rules/RuleFile.h"
#include "support/Dialogs.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "tray/TrayIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <filesystem>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class RulesWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid() && files_.isValid());
    SetProgramDirForTesting(Home());
    Dialogs::CaptureForTesting(true);
    SetClockForTesting([] { return LocalDateTime{2021, 8, 1, 13, 5, 9, 0}; });
    fs::create_directories(Files() + "/in");
    fs::create_directories(Files() + "/out");
  }
  void TearDown() override {
    window_.reset();
    SetClockForTesting(nullptr);
    Dialogs::CaptureForTesting(false);
  }
  std::string Home() const { return home_.path().toStdString(); }
  std::string Files() const { return files_.path().toStdString(); }

  void Start() {
    window_ = std::make_unique<MainWindow>(ScriptedOptions(source_));
    window_->Tray().RecordPromptsForTesting(true);
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
    rules_ = static_cast<QStandardItemModel*>(window_->findChild<QTreeView*>("超级列表框2")->model());
  }
  void Feed(std::vector<ChangeNotification> batch) {
    source_->Inject(std::move(batch));
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
  }
  RuleList Saved() { return LoadRuleFile(Home() + "/data.jl"); }

  QTemporaryDir home_, files_;
  std::unique_ptr<MainWindow> window_;
  ScriptedSource* source_ = nullptr;
  QStandardItemModel* rules_ = nullptr;
};

TEST_F(RulesWindowTest, RulesOfAnEarlierFileLoadAndFollowTheModeSwitch) {
  std::string global(GlobalPathMarker);
  std::string plain = "新建文件｜√" + Files() + "/in｜【复制文件】" + Files() + "/out\r\n删除文件｜×/x｜【删除文件】\r\n"
                      "新建文件｜√" + global + "｜【删除文件】\r\n";
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(Utf8ToGb18030(plain), RuleFileKey)));
  ASSERT_TRUE(WriteFileAtomically(Home() + "/config.ini", Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n")));
  Start();
  ASSERT_EQ(rules_->rowCount(), 3);
  EXPECT_EQ(rules_->item(0, 2)->text().toStdString(), "【复制文件】" + Files() + "/out");
  EXPECT_EQ(rules_->item(1, 0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(rules_->item(2, 0)->checkState(), Qt::Checked);

  window_->findChild<QCheckBox*>("选择框_自定义")->click();
  EXPECT_EQ(rules_->item(2, 0)->checkState(), Qt::Unchecked) << "global-path rules are off in custom-path mode";
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_FALSE(saved[2].enabled);
  EXPECT_EQ(source_->Roots(), (std::vector<std::string>{Files() + "/in"})) << "the rules' existing folders are watched";

  window_->Tray().TakeIssuedPrompts();
  rules_->item(2, 0)->setCheckState(Qt::Checked);
  EXPECT_EQ(rules_->item(2, 0)->checkState(), Qt::Unchecked);
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "当前监控路径为自定义,无法打开全局路径!");
  rules_->item(1, 0)->setCheckState(Qt::Checked);
  EXPECT_TRUE(Saved()[1].enabled) << "a tick by the user is saved at once";
}

TEST_F(RulesWindowTest, AddingARulePromptsSavesAndKeepsGlobalRulesOffInCustomMode) {
  Start();
  window_->AddRule("新建文件", std::string(GlobalPathMarker), "【删除文件】");
  window_->AddRule("新建文件", Files() + "/in", "【复制文件】" + Files() + "/out");
  EXPECT_EQ(rules_->item(0, 0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(rules_->item(1, 0)->checkState(), Qt::Checked);
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[1].title, "添加监控成功!");
  EXPECT_EQ(prompts[1].text.toStdString(), Files() + "/in");
  EXPECT_EQ(Saved().size(), 2u);
}

TEST_F(RulesWindowTest, AFailedSaveIsReported) {
  Start();
  fs::create_directories(Home() + "/data.jl/blocked");  // a folder where the file belongs
  window_->Tray().TakeIssuedPrompts();
  window_->AddRule("新建文件", "/x", "【删除文件】");
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].title, "添加监控成功!");
  EXPECT_TRUE(prompts[1].text.startsWith("保存监控规则失败")) << prompts[1].text.toStdString();
  EXPECT_TRUE(fs::is_directory(Home() + "/data.jl/blocked")) << "what was there is untouched";
}

TEST_F(RulesWindowTest, ACopyRuleFiresOnceAndItsOwnCopyFiresNothing) {
  Start();
  // The target lies inside the monitored folder, the worst case for loops.
  fs::create_directories(Files() + "/in/bak");
  window_->AddRule("新建文件", Files() + "/in", "【复制文件】" + Files() + "/in/bak");
  std::string file = Files() + "/in/a.txt";
  ASSERT_TRUE(WriteFileAtomically(file, "content"));
  Feed({{SHCNE_CREATE, file, std::nullopt, 0}});
  std::string copy = Files() + "/in/bak/a.txt";
  ASSERT_TRUE(fs::exists(copy));
  // A second later, so that the copy's event is no repeat of the action row.
  SetClockForTesting([] { return LocalDateTime{2021, 8, 1, 13, 5, 10, 0}; });
  Feed({{SHCNE_CREATE, copy, std::nullopt, 0}});
  EventList& rows = window_->EventRows();
  ASSERT_EQ(rows.RowCount(), 3u) << "two event rows and one action row";
  EXPECT_EQ(rows.Cell(1, 1), "【执行操作】");
  EXPECT_EQ(rows.Cell(1, 2), "复制文件");
  EXPECT_EQ(rows.Cell(1, 3), copy);
  EXPECT_EQ(rows.Cell(2, 3), copy);
  EXPECT_FALSE(fs::exists(Files() + "/in/bak/a(1).txt"));
  EXPECT_EQ(window_->LastActionTarget(), Files() + "/in/bak");
}

}  // namespace
}  // namespace vantrel
