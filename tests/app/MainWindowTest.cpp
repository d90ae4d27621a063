#include "faces/qt/app/MainWindow.h"
#include "faces/shared/RuntimeError.h"
#include "monitor/ScriptedSource.h"
#include "WindowTestSupport.h"
#include "faces/qt/support/Dialogs.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"

#include <QAccessible>
#include <QAction>
#include <QKeyEvent>
#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QScreen>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>
#include <QTableView>
#include <QTreeView>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    Dialogs::CaptureForTesting(true);
  }
  void TearDown() override {
    window_.reset();
    Dialogs::CaptureForTesting(false);
    Dialogs::TakeShown();
  }

  std::string Config() const { return home_.path().toStdString() + "/config.ini"; }
  void WriteConfig(const std::string& utf8) { ASSERT_TRUE(WriteFileAtomically(Config(), Utf8ToGb18030(utf8))); }
  std::string Read(const char* section, const char* key) { return ReadSetting(Config(), section, key, "<missing>"); }

  MainWindow& Start(bool sourceStarts = true) {
    window_ = std::make_unique<MainWindow>(ScriptedOptions(home_.path().toStdString(), source_, sourceStarts));
    started_ = window_->OnMainWindowCreated();
    if (started_) window_->show();
    QApplication::processEvents();
    return *window_;
  }

  template <typename T>
  T* Find(const char* name) {
    return window_->findChild<T*>(QString::fromUtf8(name));
  }
  QCheckBox* Box(const char* name) { return Find<QCheckBox>(name); }
  QAction* TrayPromptItem() { return window_->托盘右键->actions()[0]; }

  QTemporaryDir home_;
  std::unique_ptr<MainWindow> window_;
  ScriptedSource* source_ = nullptr;
  bool started_ = false;
};

TEST_F(MainWindowTest, HasEveryControlAndMenuItemByItsFormName) {
  Start();
  EXPECT_EQ(window_->windowTitle(), "Vantrel");
  // The program's own icon, not the system's generic one, here and on the
  // editor (the mark's blue ground beside its white stroke).
  window_->OpenRuleEditorForAdd();
  for (QWidget* w : {static_cast<QWidget*>(window_.get()), window_->findChild<QWidget*>("RuleEditorWindow")}) {
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowIcon().pixmap(32, 32).toImage().pixelColor(4, 16), QColor(0x20, 0x70, 0xC0)) << w->objectName().toStdString();
  }
  const std::pair<const char*, const char*> boxes[] = {
      {"选择框_创建文件", "新建文件"}, {"选择框_删除文件", "删除文件"},   {"选择框_重命名文件", "重命名文件"},
      {"选择框_更新文件", "更新文件"}, {"选择框_创建目录", "新建目录"},   {"选择框_删除目录", "删除目录"},
      {"选择框_重命名目录", "重命名目录"}, {"选择框_全盘", "全盘监控"},   {"选择框_自定义", "自定义路径"},
      {"选择框_保存日志", "保存日志"}, {"选择框_托盘提示", "托盘提示"}};
  for (const auto& [name, caption] : boxes) {
    ASSERT_TRUE(Box(name)) << name;
    EXPECT_EQ(Box(name)->text().toStdString(), caption);
  }
  EXPECT_EQ(Find<QGroupBox>("分组框1")->title(), "全局事件类型");
  EXPECT_EQ(Find<QGroupBox>("分组框2")->title(), "监控设置");
  auto* events = Find<QTableView>("超级列表框1");
  auto* rules = Find<QTreeView>("超级列表框2");
  ASSERT_TRUE(events && rules);
  EXPECT_EQ(events->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(events->model()->headerData(3, Qt::Horizontal).toString(), "事件路径");
  EXPECT_EQ(rules->model()->headerData(2, Qt::Horizontal).toString(), "执行操作");

  auto captions = [](QMenu* m) {
    QStringList list;
    for (QAction* a : m->actions()) list << a->text();
    return list.join(",");
  };
  EXPECT_EQ(captions(window_->右键菜单), "导出列表,定位目录,复制路径,撤销,修改颜色,清空列表");
  EXPECT_EQ(captions(window_->findChild<QMenu*>("修改颜色")), "时间,名称,类型,路径,执行,失败");
  EXPECT_EQ(captions(window_->列表右键), "添加监控,修改选中,删除选中,全部开启,全部关闭,反向选中,清空监控");
  EXPECT_EQ(captions(window_->托盘右键), "关闭提示,显示窗口,退出程序");
}

TEST_F(MainWindowTest, FirstStartWithoutConfigFile) {
  Start();
  for (const char* name : {"选择框_创建文件", "选择框_删除文件", "选择框_重命名文件", "选择框_更新文件", "选择框_创建目录",
                           "选择框_删除目录", "选择框_重命名目录", "选择框_自定义", "选择框_托盘提示"})
    EXPECT_TRUE(Box(name)->isChecked()) << name;
  EXPECT_FALSE(Box("选择框_全盘")->isChecked());
  EXPECT_FALSE(Box("选择框_保存日志")->isChecked());
  EXPECT_EQ(TrayPromptItem()->text(), "关闭提示");
  EXPECT_EQ(window_->size(), QSize(1010, 800));
  EXPECT_EQ(window_->pos(), QPoint(455, 140)) << "centred on the 1920 x 1080 screen";
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Config()))) << "loading writes nothing";
}

TEST_F(MainWindowTest, LoadingOnlyTicksAndOnlyTheExactTrueText) {
  WriteConfig("[监控类型]\n新建文件=假\n删除文件=true\n更新文件=1\n[监控设置]\n全盘监控=真\n自定义路径=真\n托盘提示=假\n保存日志=真\n");
  Start();
  EXPECT_FALSE(Box("选择框_创建文件")->isChecked());
  EXPECT_FALSE(Box("选择框_删除文件")->isChecked());
  EXPECT_FALSE(Box("选择框_更新文件")->isChecked());
  EXPECT_TRUE(Box("选择框_重命名文件")->isChecked());
  EXPECT_TRUE(Box("选择框_全盘")->isChecked() && Box("选择框_自定义")->isChecked()) << "both stay ticked";
  EXPECT_TRUE(source_->Roots().empty()) << "with both ticked the custom-path mode decides";
  EXPECT_FALSE(Box("选择框_托盘提示")->isChecked());
  EXPECT_EQ(TrayPromptItem()->text(), "开启提示");
  EXPECT_TRUE(Box("选择框_保存日志")->isChecked());
}

TEST_F(MainWindowTest, CheckBoxesWriteTheirKeysAtOnce) {
  Start();
  Box("选择框_创建文件")->click();
  EXPECT_EQ(Read("监控类型", "新建文件"), "假");
  Box("选择框_保存日志")->click();
  EXPECT_EQ(Read("监控设置", "保存日志"), "真");
  Box("选择框_托盘提示")->click();
  EXPECT_EQ(Read("监控设置", "托盘提示"), "假");
  EXPECT_EQ(TrayPromptItem()->text(), "开启提示");
  TrayPromptItem()->trigger();
  EXPECT_TRUE(Box("选择框_托盘提示")->isChecked());
  EXPECT_EQ(Read("监控设置", "托盘提示"), "真");
  EXPECT_EQ(TrayPromptItem()->text(), "关闭提示");
}

TEST_F(MainWindowTest, ModeBoxesSwitchAsAPairAndSteerTheWatchedFolders) {
  Start();
  EXPECT_TRUE(source_->Roots().empty());
  Box("选择框_全盘")->click();
  EXPECT_FALSE(Box("选择框_自定义")->isChecked());
  EXPECT_EQ(Read("监控设置", "全盘监控"), "真");
  EXPECT_EQ(Read("监控设置", "自定义路径"), "假");
  const auto& roots = source_->Roots();
  EXPECT_NE(std::find(roots.begin(), roots.end(), QDir::homePath().toStdString()), roots.end());
  Box("选择框_全盘")->click();
  EXPECT_TRUE(Box("选择框_自定义")->isChecked());
  EXPECT_EQ(Read("监控设置", "全盘监控"), "假");
  EXPECT_EQ(Read("监控设置", "自定义路径"), "真");
  EXPECT_TRUE(source_->Roots().empty());
  Box("选择框_自定义")->click();
  EXPECT_TRUE(Box("选择框_全盘")->isChecked());
  EXPECT_EQ(Read("监控设置", "全盘监控"), "真");
}

TEST_F(MainWindowTest, ProportionalLayoutAtDesignSizeAndAfterResizing) {
  Start();
  auto at = [&](const char* name) { return Box(name)->pos(); };
  EXPECT_EQ(at("选择框_全盘"), QPoint(32, 34));
  EXPECT_EQ(at("选择框_自定义"), QPoint(146, 34));
  EXPECT_EQ(at("选择框_保存日志"), QPoint(261, 34));
  EXPECT_EQ(at("选择框_托盘提示"), QPoint(377, 34));
  EXPECT_EQ(at("选择框_创建文件"), QPoint(32, 16));
  EXPECT_EQ(at("选择框_更新文件"), QPoint(377, 16));
  EXPECT_EQ(at("选择框_重命名文件"), QPoint(261, 16));
  EXPECT_EQ(at("选择框_删除目录"), QPoint(146, 48));
  auto* events = Find<QTableView>("超级列表框1");
  auto* rules = Find<QTreeView>("超级列表框2");
  EXPECT_EQ(events->geometry(), QRect(8, 276, 994, 492));
  EXPECT_EQ(Find<QLabel>("状态栏")->geometry(), QRect(8, 772, 560, 22)) << "margins of 8 on every side";
  EXPECT_EQ(Find<QLabel>("监控状态")->geometry(), QRect(572, 772, 430, 22));
  EXPECT_EQ(events->columnWidth(3), events->viewport()->width() - 180 - 200 - 100) << "the header reaches the edge";
  EXPECT_EQ(rules->columnWidth(2), rules->viewport()->width() - 150 - 500);

  window_->resize(1500, 1000);
  QApplication::processEvents();
  EXPECT_EQ(events->geometry(), QRect(static_cast<int>(1500 * 8 / 1010.0), static_cast<int>(1000 * 276 / 800.0),
                                      static_cast<int>(1500 * 994 / 1010.0), static_cast<int>(1000 * 492 / 800.0)));
  EXPECT_EQ(events->columnWidth(3), events->viewport()->width() - 180 - 200 - 100);
  EXPECT_EQ(rules->width(), events->width());

  // Below the design size the lists give up room and the rest keeps its
  // height, down to the smallest size everything stays readable at.
  window_->resize(600, 300);
  QApplication::processEvents();
  EXPECT_EQ(window_->size(), QSize(kReadableWidth, kReadableHeight));
  for (const char* group : {"分组框1", "分组框2"}) EXPECT_EQ(Find<QWidget>(group)->height(), 80) << group;
  EXPECT_EQ(Find<QLabel>("状态栏")->geometry().bottom(), kReadableHeight - 7) << "the status line stays in the window";
  EXPECT_GE(rules->height(), 3 * 26) << "three rules in sight";
  EXPECT_GE(events->height(), 6 * 26);
  EXPECT_LT(rules->geometry().bottom(), events->geometry().top());
  EXPECT_LT(Find<QWidget>("分组框1")->geometry().bottom(), rules->geometry().top());
  EXPECT_LT(events->geometry().bottom(), Find<QLabel>("状态栏")->geometry().top());
  EXPECT_LE(Box("选择框_删除目录")->geometry().bottom(), Find<QWidget>("分组框1")->height()) << "the boxes stay inside";
}

TEST_F(MainWindowTest, SavedSizePlacesTheWindow) {
  Start();
  window_->PlaceMainWindow("1200*900");
  EXPECT_EQ(window_->size(), QSize(1200, 900));
  EXPECT_EQ(window_->pos(), QPoint(360, 90));
  window_->PlaceMainWindow("abc*def");
  EXPECT_EQ(window_->size(), QSize(1010, 800)) << "raised to the minimum";
  EXPECT_EQ(window_->pos(), QPoint(455, 140));
  window_->PlaceMainWindow("1300");
  EXPECT_EQ(window_->size(), QSize(1010, 800)) << "no '*': nothing happens";
  window_->PlaceMainWindow("3000*900");
  EXPECT_TRUE(window_->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowTest, SavedSizeIsUsedAtStartUp) {
  WriteConfig("[程序尺寸]\nXY=1200*900\n");
  Start();
  EXPECT_EQ(window_->size(), QSize(1200, 900));
}

TEST(TaskbarThickness, EdgesOfTheScreen) {
  QRect screen(0, 0, 1920, 1080);
  EXPECT_EQ(TaskbarThickness(screen, QRect(0, 0, 1920, 1040)), 40);
  EXPECT_EQ(TaskbarThickness(screen, QRect(0, 32, 1920, 1048)), 32);
  EXPECT_EQ(TaskbarThickness(screen, QRect(60, 0, 1860, 1080)), 60) << "a panel on the left edge";
  EXPECT_EQ(TaskbarThickness(screen, QRect(60, 32, 1860, 1048)), 0);
  EXPECT_EQ(TaskbarThickness(screen, screen), 0);
}

TEST_F(MainWindowTest, CloseQuestionNoKeepsEverythingAndWritesNothing) {
  Start();
  Dialogs::SetNextAnswer(false);
  EXPECT_FALSE(window_->close());
  auto shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "是否要退出程序?");
  EXPECT_EQ(shown[0].caption, "提示:");
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Config())));
  EXPECT_TRUE(source_->Started());

  Dialogs::SetNextAnswer(true);
  window_->resize(1111, 888);
  EXPECT_TRUE(window_->close());
  EXPECT_EQ(Read("程序尺寸", "XY"), "1111*888");
}

TEST_F(MainWindowTest, MinimisingWithoutATrayLeavesTheWindowReachable) {
  Start();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  window_->showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(window_->isVisible());
  window_->ShowMainWindow();
  EXPECT_FALSE(window_->isMinimized());
}

TEST_F(MainWindowTest, ALaterCopyBringsAVisibleWindowForwardAndLeavesAHiddenOneHidden) {
  Start();
  window_->hide();
  window_->ComeForward();
  EXPECT_FALSE(window_->isVisible()) << "a window in the tray stays there";
  window_->show();
  window_->showMinimized();
  QApplication::processEvents();
  window_->ComeForward();
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindowTest, ABoxSwitchedByKeyboardOrScreenReaderIsSavedLikeAClick) {
  Start();
  auto* created = window_->findChild<QCheckBox*>("选择框_创建文件");
  QAccessibleInterface* access = QAccessible::queryAccessibleInterface(created);
  ASSERT_NE(access, nullptr);
  ASSERT_NE(access->actionInterface(), nullptr);
  access->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_FALSE(created->isChecked());
  EXPECT_EQ(Read("监控类型", "新建文件"), "假") << "a screen reader's toggle is saved";

  auto* saveLog = window_->findChild<QCheckBox*>("选择框_保存日志");
  saveLog->setFocus();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
  QApplication::sendEvent(saveLog, &press);
  QApplication::sendEvent(saveLog, &release);
  EXPECT_TRUE(saveLog->isChecked());
  EXPECT_EQ(Read("监控设置", "保存日志"), "真") << "so is the keyboard's";

  window_->findChild<QCheckBox*>("选择框_全盘")->click();
  EXPECT_EQ(Read("监控设置", "全盘监控"), "真");
  EXPECT_EQ(Read("监控设置", "自定义路径"), "假") << "the pair follows once, written by the clicked box";
}

TEST_F(MainWindowTest, RegistrationFailureIsReportedAndEndsStartUp) {
  Start(false);
  EXPECT_FALSE(started_);
  auto shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.startsWith("注册shell监视函数失败！\n")) << "and then why";
  EXPECT_TRUE(shown[0].text.contains("refused"));
  EXPECT_EQ(shown[0].icon, Dialogs::Icon::Error);
}

TEST_F(MainWindowTest, WhenWholeDiskWatchingCannotStartTheMessageSaysHowToInstallTheHelper) {
  for (const char* error : {"fanotify: fanotify_init: Operation not permitted (needs CAP_SYS_ADMIN); fanotify through "
                            "the watch helper: lacks CAP_SYS_ADMIN and CAP_DAC_READ_SEARCH",
                            "inotify: inotify_init1: Too many open files"}) {
    MainWindow::Options options;
    options.home = home_.path().toStdString();
    options.sourceFactory = [error](std::string& why) -> std::unique_ptr<ChangeSource> {
      why = error;
      return nullptr;
    };
    window_ = std::make_unique<MainWindow>(options);
    EXPECT_FALSE(window_->OnMainWindowCreated());
    auto shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), 1u);
    const QString text = shown[0].text;
    EXPECT_TRUE(text.contains(error)) << text.toStdString();
    EXPECT_FALSE(text.contains("setcap")) << "the program itself is never to be given capabilities";
    const bool advised = text.contains("sudo cmake --install build") && text.contains("scripts/run.sh") &&
                         text.contains("--watch-backend inotify");
    EXPECT_EQ(advised, std::string(error).rfind("fanotify", 0) == 0) << text.toStdString();
  }
}

TEST_F(MainWindowTest, EveryNotificationReachesTheWindowInOrder) {
  Start();
  std::vector<ChangeEvent> seen;
  window_->SetEventObserver([&](const ChangeEvent& e) { seen.push_back(e); });
  std::vector<ChangeNotification> batch;
  for (int i = 0; i < 2000; ++i) batch.push_back({SHCNE_CREATE, "/tmp/f" + std::to_string(i), std::nullopt, 0});
  batch.push_back({SHCNE_RENAMEFOLDER, "/tmp/old", "/tmp/new", 0});
  batch.push_back({SHCNE_CREATE, "", std::nullopt, 0});
  source_->Inject(batch);
  for (int i = 0; i < 200 && seen.size() < 2001; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_EQ(seen.size(), 2001u) << "the item without a name is dropped, nothing else";
  EXPECT_EQ(seen[0].path, "/tmp/f0");
  EXPECT_EQ(seen[0].kind, EventKind::FileCreated);
  EXPECT_EQ(seen[1999].path, "/tmp/f1999");
  EXPECT_EQ(seen[2000].kind, EventKind::FolderRenamed);
  EXPECT_EQ(seen[2000].name, "new");
}

// A desktop with neither a tray nor a notification service (the offscreen
// platform here has neither): a prompt still reaches the window.
TEST_F(MainWindowTest, WithoutATrayOrNotificationServicePromptsReachTheStatusLine) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  Start();
  WriteConfig("[监控设置]\r\n自定义路径=假\r\n全盘监控=真\r\n");
  window_.reset();
  Start();
  source_->Inject({{SHCNE_CREATE, "/tmp/arrived.txt", std::nullopt, 0}});
  auto* status = Find<QLabel>("状态栏");
  QElapsedTimer waited;
  waited.start();
  while (!status->text().contains("arrived.txt") && waited.elapsed() < 3000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  EXPECT_TRUE(status->text().contains("新建文件 【arrived.txt】")) << status->text().toStdString();
}

TEST_F(MainWindowTest, AnExceptionInAHandlerReachesTheRuntimeErrorHandler) {
  Start();
  QTimer::singleShot(0, window_.get(), [] { throw RuntimeError(7, "boom"); });
  QApplication::processEvents();
  auto shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "错误代码:7\n错误信息:boom");
  EXPECT_EQ(shown[0].caption, "提示:");
  EXPECT_TRUE(window_->isVisible()) << "the program goes on";
}

}  // namespace
}  // namespace vantrel
