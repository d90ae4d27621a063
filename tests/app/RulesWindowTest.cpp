// Rules in the window: loaded from data.jl, saved on every change, firing
// on accepted events and listed as action rows.
#include "faces/qt/app/EventListModel.h"
#include "faces/qt/app/MainWindow.h"
#include "log/AutomationDate.h"
#include "log/EventLog.h"
#include "monitor/ScriptedSource.h"
#include "FileHelpers.h"
#include "WindowTestSupport.h"
#include "rules/RuleFile.h"
#include "faces/qt/support/Dialogs.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "faces/qt/tray/TrayIcon.h"

#include <QApplication>
#include <QDir>
#include <QCheckBox>
#include <QMenu>
#include <QFocusEvent>
#include <QLabel>
#include <QKeyEvent>
#include <QAbstractItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTableView>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class RulesWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid() && files_.isValid());
    Dialogs::CaptureForTesting(true);
    clock_.SetLocal(LocalDateTime{2021, 8, 1, 13, 5, 9, 0});
    fs::create_directories(Files() + "/in");
    fs::create_directories(Files() + "/out");
  }
  void TearDown() override {
    window_.reset();
    Dialogs::CaptureForTesting(false);
  }
  std::string Home() const { return home_.path().toStdString(); }
  std::string Files() const { return files_.path().toStdString(); }

  void Start() {
    window_ = std::make_unique<MainWindow>(ScriptedOptions(Home(), source_, true, &clock_));
    window_->Tray().RecordPromptsForTesting(true);
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
    rules_ = window_->findChild<QTreeView*>("超级列表框2")->model();
  }
  void Feed(std::vector<ChangeNotification> batch) {
    source_->Inject(std::move(batch));
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    // The actions run on their own thread; their rows come back after.
    window_->FinishPendingActions();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  RuleList Saved() { return LoadRuleFile(Home() + "/data.jl"); }

  QTemporaryDir home_, files_;
  ManualClock clock_;
  std::unique_ptr<MainWindow> window_;
  ScriptedSource* source_ = nullptr;
  QAbstractItemModel* rules_ = nullptr;
};

TEST_F(RulesWindowTest, RulesOfAnEarlierFileLoadAndFollowTheModeSwitch) {
  std::string global(GlobalPathMarker);
  std::string plain = "新建文件｜√" + Files() + "/in｜【复制文件】" + Files() + "/out\r\n删除文件｜×/x｜【删除文件】\r\n"
                      "新建文件｜√" + global + "｜【删除文件】\r\n";
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(Utf8ToGb18030(plain), RuleFileKey)));
  ASSERT_TRUE(WriteFileAtomically(Home() + "/config.ini", Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n")));
  Start();
  ASSERT_EQ(rules_->rowCount(), 3);
  EXPECT_EQ(rules_->index(0, 2).data().toString().toStdString(), "【复制文件】" + Files() + "/out");
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(1, 0).data(Qt::CheckStateRole).toInt()), Qt::Unchecked);
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(2, 0).data(Qt::CheckStateRole).toInt()), Qt::Checked);

  window_->findChild<QCheckBox*>("选择框_自定义")->click();
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(2, 0).data(Qt::CheckStateRole).toInt()), Qt::Unchecked) << "global-path rules are off in custom-path mode";
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_FALSE(saved[2].enabled);
  std::vector<std::string> roots = source_->Roots();
  EXPECT_NE(std::find(roots.begin(), roots.end(), Files() + "/in"), roots.end()) << "the rules' existing folders are watched";
  EXPECT_NE(std::find(roots.begin(), roots.end(), QDir::homePath().toStdString()), roots.end())
      << "the rule path /x names no folder below the root, so the whole-disk roots are watched for it";

  window_->Tray().TakeIssuedPrompts();
  rules_->setData(rules_->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(2, 0).data(Qt::CheckStateRole).toInt()), Qt::Unchecked);
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "当前监控路径为自定义,无法打开全局路径!");
  rules_->setData(rules_->index(1, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_TRUE(Saved()[1].enabled) << "a tick by the user is saved at once";
}

TEST_F(RulesWindowTest, AddingARulePromptsSavesAndKeepsGlobalRulesOffInCustomMode) {
  Start();
  window_->AddRule("新建文件", std::string(GlobalPathMarker), "【删除文件】");
  window_->AddRule("新建文件", Files() + "/in", "【复制文件】" + Files() + "/out");
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(0, 0).data(Qt::CheckStateRole).toInt()), Qt::Unchecked);
  EXPECT_EQ(static_cast<Qt::CheckState>(rules_->index(1, 0).data(Qt::CheckStateRole).toInt()), Qt::Checked);
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
  clock_.SetLocal(LocalDateTime{2021, 8, 1, 13, 5, 10, 0});
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

// 撤销 on an action row takes back that action, once, and lists and logs
// it; a copy changed since stays, and the refusal is a failed row.
TEST_F(RulesWindowTest, AnActionRowIsTakenBackFromItsMenu) {
  Start();
  window_->Core().SetSaveLog(true);
  const std::string in = Files() + "/in", out = Files() + "/out";
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  for (const char* name : {"a.txt", "b.txt"}) {
    ASSERT_TRUE(WriteFileAtomically(in + "/" + name, name));
    Feed({{SHCNE_CREATE, in + "/" + name, std::nullopt, 0}});
    clock_.SetLocal(LocalDateTime{2021, 8, 1, 13, 5, name[0] == 'a' ? 10 : 11, 0});
  }
  EventList& rows = window_->EventRows();
  ASSERT_EQ(rows.RowCount(), 4u);
  ASSERT_EQ(rows.Cell(1, 2), "复制文件");
  auto* events = window_->findChild<QTableView*>("超级列表框1");
  auto* menu = window_->findChild<QMenu*>("右键菜单");
  QAction* undo = menu->findChild<QAction*>("撤销");
  ASSERT_NE(undo, nullptr);
  auto choose = [&](int row) {
    events->setCurrentIndex(events->model()->index(row, 0));
    emit menu->aboutToShow();
  };
  choose(0);
  EXPECT_FALSE(undo->isEnabled()) << "an event row is no action";
  ASSERT_TRUE(WriteFileAtomically(out + "/b.txt", "changed by the user"));
  choose(3);
  ASSERT_TRUE(undo->isEnabled());
  undo->trigger();
  EXPECT_EQ(Read(out + "/b.txt"), "changed by the user") << "changed since: left alone";
  choose(1);
  undo->trigger();
  EXPECT_FALSE(fs::exists(out + "/a.txt"));
  EXPECT_EQ(Read(in + "/a.txt"), "a.txt");
  ASSERT_EQ(rows.RowCount(), 6u) << "each take-back listed";
  EXPECT_EQ(rows.Cell(4, 2), "撤销失败");
  EXPECT_EQ(window_->Core().Colours().CellColourAt(4, 0)->background, EventLog::kFailedBackground);
  EXPECT_EQ(rows.Cell(5, 2), "撤销");
  EXPECT_NE(std::string(rows.Cell(5, 3)).find(out + "/a.txt"), std::string::npos);
  EXPECT_TRUE(window_->findChild<QLabel*>("状态栏")->text().contains("已撤销复制"));
  choose(1);
  EXPECT_FALSE(undo->isEnabled()) << "taken back once only";
  choose(5);
  EXPECT_FALSE(undo->isEnabled()) << "a take-back is not taken back";
  const std::string log = Gb18030ToUtf8(Read(Home() + "/log/20210801/log.txt"));
  EXPECT_NE(log.find("撤销】已撤销复制: 删除了 " + out + "/a.txt"), std::string::npos) << log;
}

// A name made on Windows (GB18030 bytes) renamed: the row shows the path
// that is really on disk and the rule acts on it; a failure says why in
// the interface's language.
TEST_F(RulesWindowTest, ARenamedGb18030NameIsShownAndActedOnWhereItIs) {
  Start();
  const std::string in = Files() + "/in", out = Files() + "/out";
  window_->AddRule("重命名文件", in, "【复制文件】" + out);
  const std::string oldPath = in + "/" + Utf8ToGb18030("报告.txt"), newPath = in + "/" + Utf8ToGb18030("报告.txt.r");
  WriteInPlace(newPath, "report");
  Feed({{SHCNE_RENAMEITEM, oldPath, newPath, 0}});
  EventList& rows = window_->EventRows();
  ASSERT_EQ(rows.RowCount(), 2u);
  EXPECT_EQ(rows.Cell(0, 3), newPath);
  EXPECT_EQ(rows.Cell(1, 2), "复制文件") << std::string(rows.Cell(1, 3));
  EXPECT_EQ(Read(out + "/" + Utf8ToGb18030("报告.txt.r")), "report");

  clock_.SetLocal(LocalDateTime{2021, 8, 1, 13, 5, 10, 0});
  Feed({{SHCNE_RENAMEITEM, in + "/gone.txt", in + "/gone2.txt", 0}});
  ASSERT_EQ(rows.RowCount(), 4u);
  EXPECT_EQ(rows.Cell(3, 2), "复制文件失败");
  EXPECT_NE(std::string(rows.Cell(3, 3)).find("(没有那个文件或目录)"), std::string::npos) << std::string(rows.Cell(3, 3));
}

// The rule list's menu, each command followed by its save.
class RuleCommandsTest : public RulesWindowTest {
 protected:
  void StartWith(bool wholeDisk) {
    std::string global(GlobalPathMarker);
    std::string plain = "新建文件｜√/a｜【删除文件】\r\n删除文件｜×" + global + "｜【删除文件】\r\n"
                        "新建文件｜√" + global + "｜【删除文件】\r\n更新文件｜×/d｜【删除文件】\r\n";
    ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(Utf8ToGb18030(plain), RuleFileKey)));
    if (wholeDisk) {
      ASSERT_TRUE(WriteFileAtomically(Home() + "/config.ini", Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n")));
    }
    Start();
    view_ = window_->findChild<QTreeView*>("超级列表框2");
  }
  void Select(int row) { view_->setCurrentIndex(rules_->index(row, 0)); }
  void Run(const char* item) {
    QMenu* menu = window_->findChild<QMenu*>("列表右键");
    for (QAction* a : menu->actions())
      if (a->text() == QString::fromUtf8(item)) a->trigger();
  }
  // The ticks as saved, row by row.
  std::string SavedTicks() {
    std::string ticks;
    for (const MonitorRule& r : Saved()) ticks += r.enabled ? '1' : '0';
    return ticks;
  }
  QTreeView* view_ = nullptr;
};

TEST_F(RuleCommandsTest, EnableDisableAndInvertKeepGlobalRulesOffInCustomMode) {
  StartWith(false);
  // Loading keeps what the file says; the custom-path rule applies to changes.
  Run("全部开启");
  EXPECT_EQ(SavedTicks(), "1011") << "global-path rows are not switched on in custom-path mode";
  Run("反向选中");
  EXPECT_EQ(SavedTicks(), "0000") << "an enabled global-path row is switched off";
  Run("反向选中");
  EXPECT_EQ(SavedTicks(), "1001") << "a disabled global-path row stays off";
  Run("全部关闭");
  EXPECT_EQ(SavedTicks(), "0000");
}

TEST_F(RuleCommandsTest, InWholeDiskModeEveryRowIsSwitchedOn) {
  StartWith(true);
  Run("全部开启");
  EXPECT_EQ(SavedTicks(), "1111");
  Run("反向选中");
  EXPECT_EQ(SavedTicks(), "0000");
}

TEST_F(RuleCommandsTest, DeleteSelectedAndClearAfterTheQuestion) {
  StartWith(false);
  Run("删除选中");
  EXPECT_EQ(Saved().size(), 4u) << "nothing selected, nothing deleted";
  Select(2);
  Run("删除选中");
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[2].monitoredPath, "/d");
  EXPECT_EQ(rules_->rowCount(), 3);
  Dialogs::SetNextAnswer(false);
  Run("清空监控");
  EXPECT_EQ(Saved().size(), 3u) << "No keeps the list";
  Dialogs::SetNextAnswer(true);
  Run("清空监控");
  EXPECT_EQ(rules_->rowCount(), 0);
  EXPECT_EQ(fs::file_size(Home() + "/data.jl"), 0u);
  auto shown = Dialogs::TakeShown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().text, "是否要清空监控列表?") << "the question names the list that goes";
}

std::string PlainRuleFile(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return Rc4Transform(bytes, RuleFileKey);
}

bool Told(std::vector<TrayIcon::Prompt> prompts, const std::string& text) {
  for (const TrayIcon::Prompt& p : prompts)
    if (p.text.contains(QString::fromStdString(text))) return true;
  return false;
}

TEST_F(RulesWindowTest, AnUnreadableRuleFileIsNeverReplacedAndChangesWaitUntilItCanBeRead) {
  std::string file = Home() + "/data.jl";
  std::string plain = Utf8ToGb18030("新建文件｜√/a｜【删除文件】\r\n删除文件｜×/b｜【删除文件】\r\n");
  ASSERT_TRUE(WriteFileAtomically(file, Rc4Transform(plain, RuleFileKey)));
  ::chmod(Home().c_str(), 0755);
  ::chmod(file.c_str(), 0600);
  // Root reads anything, so it reads as another user would; anyone else
  // loses the permission instead.
  const bool root = ::geteuid() == 0;
  auto lock = [&](bool locked) {
    if (root) {
      ::setfsuid(locked ? 65534 : 0);
    } else {
      ::chmod(file.c_str(), locked ? 0 : 0600);
    }
  };
  lock(true);
  Start();
  EXPECT_EQ(rules_->rowCount(), 0);
  EXPECT_TRUE(Told(window_->Tray().TakeIssuedPrompts(), "无法读取监控规则文件"));
  window_->AddRule("新建文件", "/c", "【删除文件】");
  window_->findChild<QCheckBox*>("选择框_全盘")->click();
  EXPECT_EQ(rules_->rowCount(), 0) << "the change is refused";
  EXPECT_TRUE(Told(window_->Tray().TakeIssuedPrompts(), "规则列表不能修改"));
  lock(false);
  EXPECT_EQ(PlainRuleFile(file), plain) << "the earlier rules are all still there";

  window_->AddRule("新建文件", "/c", "【删除文件】");
  ASSERT_EQ(rules_->rowCount(), 3) << "once readable, its rules come first";
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[0].monitoredPath, "/a");
  EXPECT_EQ(saved[2].monitoredPath, "/c");
}

TEST_F(RulesWindowTest, FifosInPlaceOfTheStoredFilesNeitherHangTheStartNorAreReplaced) {
  ASSERT_EQ(::mkfifo((Home() + "/data.jl").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((Home() + "/config.ini").c_str(), 0600), 0);
  Start();
  auto prompts = window_->Tray().TakeIssuedPrompts();
  EXPECT_TRUE(Told(prompts, "无法读取监控规则文件"));
  EXPECT_TRUE(Told(prompts, "无法读取设置文件"));
  window_->AddRule("新建文件", "/c", "【删除文件】");
  EXPECT_TRUE(fs::is_fifo(Home() + "/data.jl"));
  EXPECT_TRUE(fs::is_fifo(Home() + "/config.ini"));
}

TEST_F(RulesWindowTest, RulesOfOtherVersionsAreListedKeptByteForByteAndNeverAct) {
  std::string in = Files() + "/in", out = Files() + "/out";
  std::string plain = Utf8ToGb18030("; written by hand\r\n新建文件｜√" + in + "｜【复制文件】" + out + "｜2024\r\n"
                                    "更新文件｜√" + in + "｜\r\n新建文件｜×" + in + "｜【删除文件】\r\n");
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(plain, RuleFileKey)));
  // Leftovers of saves a kill cut short go; the user's backups stay.
  ASSERT_TRUE(WriteFileAtomically(Home() + "/.vantrel-Ab12Cd34", "torn"));
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl.backup", "mine"));
  Start();
  EXPECT_FALSE(fs::exists(Home() + "/.vantrel-Ab12Cd34"));
  EXPECT_EQ(Read(Home() + "/data.jl.backup"), "mine");
  ASSERT_EQ(rules_->rowCount(), 3);
  EXPECT_EQ(rules_->index(0, 2).data().toString().toStdString(), "【复制文件】" + out + "｜2024");

  ASSERT_TRUE(WriteFileAtomically(in + "/a.txt", "a"));
  Feed({{SHCNE_CREATE, in + "/a.txt", std::nullopt, 0}});
  EXPECT_EQ(window_->EventRows().RowCount(), 1u) << "listed, but no rule acted";
  EXPECT_TRUE(fs::is_empty(out));

  rules_->setData(rules_->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  rules_->setData(rules_->index(2, 0), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_EQ(PlainRuleFile(Home() + "/data.jl"), plain) << "every line saved back as it was";
}

// Quitting in the middle of a burst loses nothing silently: every action
// done has its record, every event whose rules never ran is written to the
// log as not done, and the next start tells how many.
TEST_F(RulesWindowTest, QuittingMidBurstRecordsEveryActionAndEveryJobNotDone) {
  ASSERT_TRUE(WriteFileAtomically(Home() + "/config.ini", Utf8ToGb18030("[监控设置]\r\n保存日志=真\r\n")));
  const std::string in = Files() + "/in", out = Files() + "/out";
  constexpr int kFiles = 3000;
  std::vector<ChangeNotification> burst;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = in + "/f" + std::to_string(i);
    WriteInPlace(path, std::to_string(i));
    burst.push_back({SHCNE_CREATE, path, std::nullopt, 0});
  }
  Start();
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  source_->Inject(std::move(burst));
  auto copied = [&] { return EntriesIn(out); };
  for (int i = 0; i < 2000 && copied() < 100; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
  ASSERT_LT(copied(), std::size_t{kFiles}) << "the burst was over before the quit";
  window_.reset();

  const std::string log = Gb18030ToUtf8(Read(Home() + "/log/20210801/log.txt"));
  const std::size_t notDone = ExpectEveryCopyAccountedFor(log, copied(), kFiles);
  EXPECT_EQ(Occurrences(log, "┃ 新建文件 ┃ "), std::size_t{kFiles}) << "every change was listed";
  EXPECT_EQ(ReadSetting(Home() + "/config.ini", "上次退出", "未执行", ""), std::to_string(notDone));

  Start();
  auto prompts = window_->Tray().TakeIssuedPrompts();
  EXPECT_TRUE(Told(prompts, "上次退出时有 " + std::to_string(notDone) + " 个事件的规则尚未执行"));
  window_.reset();
  Start();
  EXPECT_FALSE(Told(window_->Tray().TakeIssuedPrompts(), "上次退出时有")) << "told once";
}

TEST_F(RulesWindowTest, StartRemovesWhatAKilledCopyLeftInARuleTarget) {
  const std::string out = Files() + "/out";
  std::string plain = "新建文件｜√" + Files() + "/in｜【复制文件】" + out + "\r\n";
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(Utf8ToGb18030(plain), RuleFileKey)));
  WriteInPlace(out + "/.vantrel-Part1al9", std::string(1 << 20, 'p'));
  WriteInPlace(out + "/report.pdf", "mine");
  WriteInPlace(out + "/.vantrel-notes", "mine too");
  Start();
  EXPECT_FALSE(fs::exists(out + "/.vantrel-Part1al9"));
  EXPECT_EQ(Read(out + "/report.pdf"), "mine");
  EXPECT_EQ(Read(out + "/.vantrel-notes"), "mine too");
}

// The rule list as a keyboard meets it, and rules read from data.jl that can
// never act: kept as they were, marked with why.
TEST_F(RulesWindowTest, TheRuleListFromTheKeyboardAndRulesThatCanNeverActMarked) {
  const std::string plain = "新建文件｜√~/下载｜【复制文件】" + Files() + "/out\r\n新建文件｜√" + Files() +
                            "/in/*.pdf｜【复制文件】" + Files() + "/out\r\n";
  ASSERT_TRUE(WriteFileAtomically(Home() + "/data.jl", Rc4Transform(Utf8ToGb18030(plain), RuleFileKey)));
  Start();
  auto* view = window_->findChild<QTreeView*>("超级列表框2");
  ASSERT_EQ(rules_->rowCount(), 2);
  EXPECT_TRUE(rules_->index(0, 1).data().toString().startsWith("⚠")) << "a rule whose ~ no path holds";
  EXPECT_TRUE(rules_->index(0, 1).data(Qt::ToolTipRole).toString().contains("~"));
  EXPECT_EQ(rules_->index(1, 1).data().toString().toStdString(), Files() + "/in/*.pdf") << "a pattern is no fault";
  EXPECT_FALSE(rules_->index(1, 1).data(Qt::ToolTipRole).isValid());

  auto key = [&](int k) {
    QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier, k == Qt::Key_Space ? " " : "");
    QApplication::sendEvent(view, &down);
    QApplication::processEvents();
  };
  view->setFocus(Qt::TabFocusReason);
  QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(view, &focus);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(0, {})) << "the focus selects the current rule";
  key(Qt::Key_Down);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
  key(Qt::Key_Space);
  EXPECT_FALSE(Saved()[1].enabled) << "Space unticks, and it is saved";
  key(Qt::Key_Space);
  EXPECT_TRUE(Saved()[1].enabled);
  key(Qt::Key_Return);
  auto* editor = window_->findChild<QWidget*>("RuleEditorWindow");
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->windowTitle(), "修改事件类型-1") << "Enter opens the current rule";
  editor->close();
  // Delete asks; the menu's 删除选中 does not, and both say what went.
  Dialogs::TakeShown();
  key(Qt::Key_Delete);
  ASSERT_EQ(rules_->rowCount(), 2) << "no answer is No";
  EXPECT_TRUE(Dialogs::TakeShown().back().text.contains("/in/*.pdf"));
  Dialogs::SetNextAnswer(true);
  key(Qt::Key_Delete);
  ASSERT_EQ(rules_->rowCount(), 1);
  EXPECT_TRUE(window_->findChild<QLabel*>("状态栏")->text().contains("已删除监控:"));
  view->setCurrentIndex(rules_->index(0, 0));
  for (QAction* a : window_->findChild<QMenu*>("列表右键")->actions())
    if (a->text() == "删除选中") a->trigger();
  EXPECT_EQ(rules_->rowCount(), 0);
  EXPECT_TRUE(window_->findChild<QLabel*>("状态栏")->text().contains("~/下载")) << "what went, by its path";
  EXPECT_TRUE(Saved().empty());
  key(Qt::Key_Return);
  EXPECT_EQ(editor->windowTitle(), "添加监控") << "Enter on the empty list opens the editor for a first rule";
}

}  // namespace
}  // namespace vantrel
