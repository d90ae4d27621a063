// The event list as the user sees it: rows from changes, their colours,
// prompts, the log file and the list's commands.
#include "faces/qt/app/EventListModel.h"
#include "faces/qt/app/MainWindow.h"
#include "log/AutomationDate.h"
#include "monitor/ScriptedSource.h"
#include "FileHelpers.h"
#include "WindowTestSupport.h"
#include "faces/qt/support/Desktop.h"
#include "faces/qt/support/Dialogs.h"
#include "faces/qt/support/WindowRecord.h"
#include "faces/qt/support/FileDialogs.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "faces/qt/tray/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QMenu>
#include <QTableView>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

class EventListWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    Dialogs::CaptureForTesting(true);
    clock_.SetLocal(LocalDateTime{2021, 8, 1, 13, 5, 9, 42});
  }
  void TearDown() override {
    window_.reset();
    CaptureDesktopOpensForTesting(nullptr);
    Dialogs::CaptureForTesting(false);
    Dialogs::TakeShown();
  }
  std::string Home() const { return home_.path().toStdString(); }
  void Config(const std::string& utf8) {
    ASSERT_TRUE(WriteFileAtomically(Home() + "/config.ini", Utf8ToGb18030(utf8)));
  }

  void Start() {
    window_ = std::make_unique<MainWindow>(ScriptedOptions(Home(), source_, true, &clock_));
    window_->Tray().RecordPromptsForTesting(true);
    window_->Tray().SetPresenterForTesting([this](const TrayIcon::Prompt& p) { presented_.push_back(p); });
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
    list_ = window_->findChild<QTableView*>("超级列表框1");
  }

  void Feed(std::vector<ChangeNotification> batch) {
    source_->Inject(std::move(batch));
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    window_->FinishPendingActions();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    // Rows reach the view a frame at a time; the test looks at once.
    window_->EventModel().Sync();
  }

  QString Cell(int row, int column) { return list_->model()->index(row, column).data().toString(); }

  QTemporaryDir home_;
  ManualClock clock_;
  std::unique_ptr<MainWindow> window_;
  ScriptedSource* source_ = nullptr;
  QTableView* list_ = nullptr;
  std::vector<TrayIcon::Prompt> presented_;
};

TEST_F(EventListWindowTest, ChangesBecomeColouredRowsWithPromptsAndLogRecords) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n保存日志=真\n[日志颜色]\n 类型=65280\n");
  Start();
  Feed({{SHCNE_CREATE, "/data/a.txt", std::nullopt, 0},
        {SHCNE_RENAMEITEM, "/data/old.txt", "/data/new.txt", 0},
        {SHCNE_CREATE, Home() + "/config.ini", std::nullopt, 0},
        {SHCNE_ATTRIBUTES, "/data/a.txt", std::nullopt, 0}});
  ASSERT_EQ(list_->model()->rowCount(), 2) << "the program's own folder and attribute changes are not listed";
  EXPECT_EQ(Cell(0, 0), "2021-08-01 13:05:09");
  EXPECT_EQ(Cell(0, 2), "新建文件");
  EXPECT_EQ(Cell(1, 1), "new.txt【原:old.txt】");
  EXPECT_EQ(Cell(1, 3), "/data/new.txt");
  EXPECT_EQ(list_->model()->index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 255, 0));
  EXPECT_EQ(list_->model()->index(0, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0x88, 0xFF));
  EXPECT_EQ(list_->verticalHeader()->defaultSectionSize(), 26);

  auto issued = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(issued.size(), 2u);
  EXPECT_EQ(issued[0].title, "新建文件 【a.txt】");
  EXPECT_EQ(issued[1].text, "/data/old.txt");
  ASSERT_EQ(presented_.size(), 1u) << "of one pass's prompts only the last reaches the desktop";
  EXPECT_EQ(presented_[0].title, issued[1].title);

  std::string log;
  ASSERT_TRUE(ReadWholeFile(Home() + "/log/20210801/log.txt", log));
  EXPECT_EQ(Gb18030ToUtf8(log),
            "2021-08-01 13:05:09.042 信息: ┃ a.txt ┃ 新建文件 ┃ /data/a.txt\r\n\r\n"
            "2021-08-01 13:05:09.042 信息: ┃ new.txt【原:old.txt】 ┃ 重命名文件 ┃ /data/new.txt\r\n\r\n");
}

TEST_F(EventListWindowTest, ColoursChosenFromTheMenuRecolourEveryRowAndLast) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n");
  Start();
  Feed({{SHCNE_CREATE, "/data/a.txt", std::nullopt, 0}});
  window_->LogAction({ActionOutcome::Kind::Done, Operation::Copy, "/backup/a.txt", {}});
  Feed({});
  auto colourOf = [&](int row, int column) { return list_->model()->index(row, column).data(Qt::ForegroundRole).value<QColor>(); };
  auto choose = [&](const char* item) {
    for (QAction* a : window_->findChild<QMenu*>("修改颜色")->actions())
      if (a->text() == QString::fromUtf8(item)) a->trigger();
  };
  choose("类型");  // cancelled: no answer queued
  EXPECT_EQ(colourOf(0, 2), QColor(0xFF, 0, 0)) << "the default colour stays";
  auto config = [&] {
    std::string bytes;
    ReadWholeFile(Home() + "/config.ini", bytes);
    return Gb18030ToUtf8(bytes);
  };
  EXPECT_EQ(config().find("类型"), std::string::npos) << "a cancel writes nothing";

  Dialogs::SetNextColour(0x00FF00);  // green, as a COLORREF
  choose("类型");
  EXPECT_EQ(colourOf(0, 2), QColor(0, 0xFF, 0)) << "rows already listed";
  EXPECT_EQ(colourOf(1, 2), QColor(0, 0, 0xFF)) << "an action row keeps the colour of actions";
  EXPECT_NE(config().find(" 类型=65280"), std::string::npos) << "written with its leading blank";
  Dialogs::SetNextColour(0x808080);
  choose("执行");
  for (int column = 0; column < 4; ++column) EXPECT_EQ(colourOf(1, column), QColor(0x80, 0x80, 0x80));
  Feed({{SHCNE_CREATE, "/data/b.txt", std::nullopt, 0}});
  EXPECT_EQ(colourOf(2, 2), QColor(0, 0xFF, 0)) << "new rows take the chosen colour";
}

// Settings are not read from the disk for every row, yet another program's
// edit of config.ini, in place or by replacing it, reaches the next rows.
TEST_F(EventListWindowTest, AnotherProgramsEditOfTheSettingsReachesTheNextRows) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n");
  Start();
  auto typeColourOfNewRow = [&](const std::string& path) {
    Feed({{SHCNE_CREATE, path, std::nullopt, 0}});
    return list_->model()->index(list_->model()->rowCount() - 1, 2).data(Qt::ForegroundRole).value<QColor>();
  };
  auto waitFor = [&](const QColor& colour, const char* how) {
    QElapsedTimer timer;
    timer.start();
    int n = 0;
    QColor seen;
    while ((seen = typeColourOfNewRow("/data/" + std::string(how) + std::to_string(n++))) != colour &&
           timer.elapsed() < 5000)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(seen, colour) << how;
  };
  EXPECT_EQ(typeColourOfNewRow("/data/first"), QColor(0xFF, 0, 0));
  WriteInPlace(Home() + "/config.ini",
               Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n[日志颜色]\r\n类型=65280\r\n"));
  waitFor(QColor(0, 0xFF, 0), "in-place");
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n[日志颜色]\n类型=16711680\n");
  waitFor(QColor(0, 0, 0xFF), "replaced");
}

// New rows are followed while the last row is in view; a person who
// scrolled up to read keeps their place.
TEST_F(EventListWindowTest, NewRowsAreFollowedOnlyFromTheBottom) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n");
  Start();
  int n = 0;
  auto more = [&](int rows) {
    std::vector<ChangeNotification> batch;
    for (int i = 0; i < rows; ++i) batch.push_back({SHCNE_CREATE, "/data/r" + std::to_string(n++), std::nullopt, 0});
    Feed(std::move(batch));
    // The view lays out and scrolls in its own turn.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  };
  QScrollBar* bar = list_->verticalScrollBar();
  more(200);
  ASSERT_GT(bar->maximum(), 0) << "the rows fit: nothing to scroll";
  EXPECT_EQ(bar->value(), bar->maximum()) << "followed";
  bar->setValue(bar->maximum() / 2);
  const int reading = bar->value();
  more(20);
  EXPECT_EQ(bar->value(), reading) << "scrolled up, the view stays";
  bar->setValue(bar->maximum());
  more(20);
  EXPECT_EQ(bar->value(), bar->maximum()) << "back at the bottom, followed again";
}

TEST_F(EventListWindowTest, CustomModeWithoutRulesListsNothing) {
  Start();
  Feed({{SHCNE_CREATE, "/data/a.txt", std::nullopt, 0}});
  EXPECT_EQ(list_->model()->rowCount(), 0);
}

TEST_F(EventListWindowTest, ExportWritesTheWholeListThroughTheSaveDialog) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n");
  Start();
  Feed({{SHCNE_CREATE, "/data/a.txt", std::nullopt, 0}, {SHCNE_DELETE, "/data/b.txt", std::nullopt, 0}});
  QString target = home_.filePath("export.txt");
  ASSERT_TRUE(WriteFileAtomically(target.toStdString(), "old content that must go"));
  FileDialogs::SetNextSavePathForTesting(target);
  window_->ExportEventList();
  auto request = FileDialogs::LastRequest();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->title, "选择保存日志路径");
  EXPECT_EQ(request->defaultName, "20210801-事件.txt");
  EXPECT_EQ(FileDialogs::DialogFilter(request->filter), "文本文件(*.txt)");
  EXPECT_EQ(request->initialDirectory.toStdString(), Home());
  EXPECT_TRUE(request->overwritePrompt);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(target.toStdString(), bytes));
  EXPECT_EQ(Gb18030ToUtf8(bytes),
            "2021-08-01 13:05:09 ┃ a.txt ┃ 新建文件 ┃ /data/a.txt\r\n2021-08-01 13:05:09 ┃ b.txt ┃ 删除文件 ┃ /data/b.txt\r\n");

  FileDialogs::SetNextSavePathForTesting(home_.filePath("no/such/dir/x.txt"));
  window_->Tray().TakeIssuedPrompts();
  window_->ExportEventList();
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 1u) << "a failed export is reported";
  EXPECT_TRUE(prompts[0].text.contains("导出列表失败"));

  FileDialogs::SetNextSavePathForTesting(QString());
  window_->ExportEventList();
  EXPECT_TRUE(window_->Tray().TakeIssuedPrompts().empty()) << "cancelling writes and reports nothing";
}

TEST_F(EventListWindowTest, LocateCopyAndClear) {
  Config("[监控设置]\n全盘监控=真\n自定义路径=假\n");
  Start();
  std::vector<QString> opened;
  CaptureDesktopOpensForTesting(&opened);
  window_->OpenEventFolder();
  window_->CopyEventPath();
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].text, "未选中需要定位项!");
  EXPECT_EQ(prompts[1].text, "未选中需要复制项!");

  Feed({{SHCNE_CREATE, "/data/in/a.txt", std::nullopt, 0}});
  window_->Events().LogAction("复制文件", "/backup/a.txt");
  window_->EventModel().Sync();
  list_->selectRow(0);
  window_->OpenEventFolder();
  list_->selectRow(1);
  window_->OpenEventFolder();
  EXPECT_EQ(opened, (std::vector<QString>{"/data/in/", "/backup/"}));
  window_->Tray().TakeIssuedPrompts();
  CaptureDesktopOpensForTesting(&opened, false);
  window_->OpenEventFolder();
  prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 1u) << "without an opener the user is told";
  EXPECT_TRUE(prompts[0].text.contains("没有可用的桌面打开程序"));

  list_->selectRow(0);
  window_->CopyEventPath();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "/data/in/a.txt");
  auto shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "路径已复制到剪辑板!");

  Dialogs::SetNextAnswer(false);
  window_->ClearEventList();
  EXPECT_EQ(list_->model()->rowCount(), 2);
  Dialogs::SetNextAnswer(true);
  window_->ClearEventList();
  EXPECT_EQ(list_->model()->rowCount(), 0);
  shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].text, "是否要清空列表?");
  EXPECT_EQ(shown[1].caption, "提示");
  Feed({{SHCNE_CREATE, "/data/in/a.txt", std::nullopt, 0}});
  EXPECT_EQ(list_->model()->rowCount(), 1) << "a cleared list is no longer a source of repeats";
}

TEST(WindowRecord, TheRecordReplacesTheSelectionAndGoesToTheFileOnlyWhenAsked) {
  QTemporaryDir dir;
  const ManualClock clock(LocalDateTime{2021, 8, 1, 9, 5, 3, 7});
  LogOutput log(dir.path().toStdString(), clock);
  log.SetLogFile(dir.path().toStdString() + "/log", "log");
  QPlainTextEdit box("before [old] after");
  QTextCursor cursor = box.textCursor();
  cursor.setPosition(7);
  cursor.setPosition(12, QTextCursor::KeepAnchor);
  box.setTextCursor(cursor);
  WriteWindowRecord(log, &box, "记录", 0, false);
  EXPECT_EQ(box.toPlainText(), "before 2021-08-01 09:05:03.007 信息:记录\n after");
  EXPECT_FALSE(QFile::exists(dir.filePath("log/log.txt")));
  WriteWindowRecord(log, nullptr, "only the file", 1, true);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(dir.path().toStdString() + "/log/log.txt", bytes));
  EXPECT_EQ(bytes, "2021-08-01 09:05:03.007 " + Utf8ToGb18030("警告") + ":only the file\r\n");
}

TEST(TrayIconText, CutByStoredBytesNeverInsideACharacter) {
  EXPECT_EQ(TrayIcon::CutToAnsiBytes(std::string(70, 't'), 63), std::string(63, 't'));
  std::string chinese;
  for (int i = 0; i < 40; ++i) chinese += "中";
  std::string cut = TrayIcon::CutToAnsiBytes(chinese, 63);
  EXPECT_EQ(cut.size(), 31u * 3) << "31 characters of two bytes each";
  EXPECT_EQ(TrayIcon::CutToAnsiBytes("short", 63), "short");
  EXPECT_EQ(TrayIcon::CutToAnsiBytes(std::string(300, 'x'), 255).size(), 255u);
}

}  // namespace
}  // namespace vantrel
