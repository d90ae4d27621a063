// The rule editor as the user meets it: its controls, checks, pickers,
// drops, and what each add or modify leaves in data.jl.
#include "faces/qt/app/MainWindow.h"
#include "FileHelpers.h"
#include "rules/RuleFile.h"
#include "faces/qt/support/Dialogs.h"
#include "faces/qt/support/FileDialogs.h"
#include "text/Codec.h"
#include "faces/qt/tray/TrayIcon.h"
#include "faces/qt/ui/RuleEditorWindow.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <filesystem>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QDropEvent>
#include <QFileDialog>
#include <QShortcut>
#include <QTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

class RuleEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(In())) && QDir().mkpath(QString::fromStdString(Backup())));
    Dialogs::CaptureForTesting(true);
    window_ = std::make_unique<MainWindow>(ScriptedOptions(Home(), source_));
    window_->Tray().RecordPromptsForTesting(true);
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    FileDialogs::ForgetTestingResults();
    Dialogs::CaptureForTesting(false);
    Dialogs::TakeShown();
  }
  std::string Home() const { return home_.path().toStdString(); }
  // Folders that exist: a path that does not is offered to be made.
  std::string In() const { return Home() + "/in"; }
  std::string Backup() const { return Home() + "/backup"; }
  void Menu(const char* item) {
    for (QAction* a : window_->findChild<QMenu*>("列表右键")->actions())
      if (a->text() == QString::fromUtf8(item)) a->trigger();
  }
  RuleEditorWindow* Editor() { return window_->findChild<RuleEditorWindow*>("RuleEditorWindow"); }
  template <typename W>
  W* Get(const char* name) {
    return Editor()->findChild<W*>(QString::fromUtf8(name));
  }
  QString LastMessage() {
    auto shown = Dialogs::TakeShown();
    return shown.empty() ? QString() : shown.back().text;
  }
  RuleList Saved() { return LoadRuleFile(Home() + "/data.jl"); }

  QTemporaryDir home_;
  std::unique_ptr<MainWindow> window_;
  ScriptedSource* source_ = nullptr;
};

TEST_F(RuleEditorTest, AddingChecksTheInputsAsksAndSaves) {
  Menu("添加监控");
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->windowTitle(), "添加监控");
  EXPECT_FALSE(Get<QCheckBox>("选择框1")->isVisible()) << "custom-path mode offers no global path";
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->placeholderText(), RuleEditorWindow::kCueText);
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "监控路径未输入!");
  EXPECT_EQ(Get<QLabel>("标签_状态")->text(), "监控路径未输入!") << "the refusal stays readable in the editor";
  Get<QLineEdit>("编辑框1")->setText(QString::fromStdString(In()));
  Get<QPushButton>("按钮3")->click();
  EXPECT_TRUE(LastMessage().startsWith("目标文件夹未输入!")) << "a copy needs somewhere to go";
  Get<QRadioButton>("单选框_移动")->click();
  Get<QPushButton>("按钮3")->click();
  EXPECT_TRUE(LastMessage().startsWith("目标文件夹未输入!")) << "so does a move";
  EXPECT_TRUE(Saved().empty()) << "a rule without a target is never saved";

  Get<QRadioButton>("单选框_删除")->click();
  EXPECT_EQ(Get<QLabel>("标签_路径")->text(), "删除文件∶");
  EXPECT_EQ(Get<QLabel>("标签5")->text(), "小提示∶ 删除文件不需要选择路径");
  EXPECT_FALSE(Get<QLineEdit>("编辑框2")->isEnabled()) << "what a deletion does not use cannot be reached";
  EXPECT_FALSE(Get<QPushButton>("按钮2")->isEnabled());
  EXPECT_FALSE(Get<QLineEdit>("编辑框3")->isEnabled());
  auto* events = Get<QComboBox>("组合框1");
  events->setCurrentIndex(3);
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QApplication::sendEvent(events, &down);
  EXPECT_EQ(events->currentText(), "新建目录") << "the arrow key steps over the separator";
  events->setCurrentIndex(3);
  Dialogs::SetNextAnswer(false);
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage().toStdString(), "监控事件∶重命名文件\r\n\r\n监控路径∶" + In() + "\r\n\r\n执行操作∶删除文件");
  EXPECT_TRUE(Saved().empty()) << "cancelled";
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  ASSERT_EQ(Saved().size(), 1u);
  EXPECT_EQ(Saved()[0], (MonitorRule{"重命名文件", In(), "【删除文件】拖放文件/文件夹到此自动获取路径", true}))
      << "a deletion stores what earlier versions stored";
  Dialogs::SetNextAnswer(true);
  Dialogs::SetNextAnswer(false);
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "监控列表中已有相同的监控, 是否仍要添加?");
  EXPECT_EQ(Saved().size(), 1u) << "no duplicate without asking";

  Get<QRadioButton>("单选框_执行")->click();
  EXPECT_FALSE(Get<QComboBox>("组合框2")->isHidden());
  EXPECT_TRUE(Get<QLineEdit>("编辑框3")->isEnabled());
  FileDialogs::SetNextBrowseResultForTesting("/usr/bin/tool");
  Get<QPushButton>("按钮2")->click();
  EXPECT_EQ(FileDialogs::LastBrowse()->title, "选择要执行的程序");
  Get<QLineEdit>("编辑框3")->setText("#路径");
  Get<QComboBox>("组合框2")->setCurrentIndex(1);
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  ASSERT_EQ(Saved().size(), 2u);
  EXPECT_EQ(Saved()[1].actionText, "【执行程序】/usr/bin/tool§#路径§1");
  auto* rules = window_->findChild<QTreeView*>("超级列表框2");
  EXPECT_EQ(rules->model()->index(1, 2).data().toString(), "【执行程序】/usr/bin/tool    参数: #路径    方式: 隐藏窗口")
      << "the list spells out what data.jl keeps in one field";

  Get<QLineEdit>("编辑框3")->setText("a｜b");
  Get<QPushButton>("按钮3")->click();
  EXPECT_TRUE(LastMessage().startsWith("路径和参数中不能含有")) << "the rule file would be cut there";
  EXPECT_EQ(Saved().size(), 2u);
}

TEST_F(RuleEditorTest, ModifyingWritesTheSameRuleClosesAndNeverAddsItTwice) {
  window_->AddRule("新建文件", "/a", "【复制文件】/out");
  window_->AddRule("删除文件", "/b", "【执行程序】/bin/x§#文件名§3");
  window_->AddRule("新建目录", "/c", "【删除文件】");
  auto* view = window_->findChild<QTreeView*>("超级列表框2");
  window_->Tray().TakeIssuedPrompts();
  Menu("修改选中");
  EXPECT_EQ(window_->Tray().TakeIssuedPrompts().back().text, "未选中需要修改项!");
  EXPECT_TRUE(window_->findChild<QLabel*>("状态栏")->text().contains("未选中需要修改项!"))
      << "also where the user looks, tray or not";

  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("修改选中");
  EXPECT_EQ(Editor()->windowTitle(), "修改事件类型-1");
  EXPECT_EQ(Get<QPushButton>("按钮3")->text(), "保存修改");
  EXPECT_EQ(Get<QComboBox>("组合框1")->currentText(), "删除文件");
  EXPECT_TRUE(Get<QRadioButton>("单选框_执行")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/b");
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->palette().color(QPalette::Text), QColor(0x00, 0x88, 0xFF))
      << "a loaded value is drawn as a value, not as the grey hint";
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text(), "/bin/x");
  EXPECT_EQ(Get<QLineEdit>("编辑框3")->text(), "#文件名");
  EXPECT_EQ(Get<QComboBox>("组合框2")->currentIndex(), 3);
  Get<QLineEdit>("编辑框1")->setText(QString::fromStdString(In()));
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[1], (MonitorRule{"删除文件", In(), "【执行程序】/bin/x§#文件名§3", true}));
  EXPECT_FALSE(Editor()->isVisible()) << "done with this rule, so 添加 cannot repeat it";
  EXPECT_TRUE(window_->findChild<QLabel*>("状态栏")->text().contains("修改事件成功!"));
  Menu("添加监控");
  EXPECT_EQ(Editor()->windowTitle(), "添加监控");
  EXPECT_TRUE(Get<QLineEdit>("编辑框1")->text().isEmpty()) << "an empty form, not the rule just saved";
  Editor()->close();

  // A deletion rule of an earlier version: its stored hint is no target.
  view->setCurrentIndex(view->model()->index(2, 0));
  Menu("修改选中");
  EXPECT_TRUE(Get<QLineEdit>("编辑框2")->text().isEmpty());

  // The row being modified goes away meanwhile: nothing else is overwritten.
  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("修改选中");
  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("删除选中");
  Get<QLineEdit>("编辑框1")->setText(QString::fromStdString(Backup()));
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "要修改的监控已被删除, 修改未保存。");
  saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[1].monitoredPath, "/c") << "the rule now in its place is untouched";

  window_->AddRule("新建文件", std::string(GlobalPathMarker), "【删除文件】");
  view->setCurrentIndex(view->model()->index(2, 0));
  Menu("修改选中");
  EXPECT_FALSE(Get<QLineEdit>("编辑框1")->isEnabled()) << "a global-path rule";
  view->setCurrentIndex(view->model()->index(0, 0));
  Menu("修改选中");
  EXPECT_TRUE(Get<QLineEdit>("编辑框1")->isEnabled()) << "the next rule's path can be changed again";
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/a");
}

TEST_F(RuleEditorTest, TheGlobalPathBoxFollowsTheModeAndFillsThePath) {
  Menu("添加监控");
  window_->findChild<QCheckBox*>("选择框_全盘")->click();
  ASSERT_TRUE(Get<QCheckBox>("选择框1")->isVisible());
  Get<QCheckBox>("选择框1")->click();
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text().toStdString(), std::string(GlobalPathMarker));
  EXPECT_FALSE(Get<QLineEdit>("编辑框1")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("按钮1")->isEnabled());
  Editor()->DropPath("/dropped", Editor());
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text().toStdString(), std::string(GlobalPathMarker)) << "ignored while disabled";
  Get<QCheckBox>("选择框1")->click();
  EXPECT_TRUE(Get<QLineEdit>("编辑框1")->text().isEmpty()) << "the hint shows again";
  window_->findChild<QCheckBox*>("选择框_自定义")->click();
  EXPECT_FALSE(Get<QCheckBox>("选择框1")->isVisible());
}

TEST_F(RuleEditorTest, PickersKeepWhatACancelLeavesAndDropsFillTheRightBox) {
  Menu("添加监控");
  FileDialogs::SetNextBrowseResultForTesting("/picked/in");
  Get<QPushButton>("按钮1")->click();
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/picked/in");
  EXPECT_TRUE(FileDialogs::LastBrowse()->includeFiles);
  EXPECT_EQ(FileDialogs::LastBrowse()->title, "选择需要监控的文件/文件夹");
  EXPECT_EQ(FileDialogs::LastBrowse()->initialPath, QDir::homePath()) << "nothing chosen yet: the home folder";
  FileDialogs::SetNextBrowseResultForTesting("");
  Get<QPushButton>("按钮1")->click();
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/picked/in") << "a cancel changes nothing";
  FileDialogs::SetNextBrowseResultForTesting(QString::fromStdString(Home()));
  Get<QPushButton>("按钮2")->click();
  EXPECT_FALSE(FileDialogs::LastBrowse()->includeFiles) << "copy targets are folders";
  EXPECT_EQ(FileDialogs::LastBrowse()->title, "选择目标文件夹") << "it chooses a target, not what to watch";
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text().toStdString(), Home());
  FileDialogs::SetNextBrowseResultForTesting("");
  Get<QPushButton>("按钮2")->click();
  EXPECT_EQ(FileDialogs::LastBrowse()->initialPath.toStdString(), Home()) << "it opens at the current value";
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text().toStdString(), Home()) << "and a cancel keeps it";
  EXPECT_FALSE(Get<QLineEdit>("编辑框2")->isReadOnly()) << "it takes typing, checked as the path above it is";
  EXPECT_FALSE(Get<QLineEdit>("编辑框3")->isEnabled()) << "a copy takes no parameters";

  auto* target = Get<QLineEdit>("编辑框2");
  Editor()->DropPath("/docs/report.txt", target);
  EXPECT_EQ(target->text(), "/docs/") << "a file's folder, with its separator";
  Editor()->DropPath("/backup2", Get<QLineEdit>("编辑框3"));
  EXPECT_EQ(target->text(), "/backup2") << "dropped on the parameters, it still fills the target";
  Editor()->DropPath("/old.files", target);
  EXPECT_EQ(target->text(), "/") << "a folder with a dot counts as a file";
  Get<QRadioButton>("单选框_移动")->click();
  Editor()->DropPath("/docs/Tool.lnk", target);
  EXPECT_EQ(target->text(), "/docs/") << "for a move, a shortcut's own folder";

  // A shortcut copied from Windows, dropped while a program is chosen.
  std::string lnk = Home() + "/Tool.lnk";
  std::string bytes = std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46\x08\0\0\0", 24);
  bytes.append(0x4C - bytes.size(), '\0');
  bytes += std::string("\x08\0", 2) + "C:\\t.exe";
  Put(lnk, bytes);
  Get<QRadioButton>("单选框_执行")->click();
  Editor()->DropPath(QString::fromStdString(lnk), target);
  EXPECT_EQ(target->text(), "C:\\t.exe");
  Editor()->DropPath(QString::fromStdString(Home() + "/Tool.LNK"), target);
  EXPECT_EQ(target->text().toStdString(), Home() + "/Tool.LNK") << "only .lnk is resolved";
  Get<QRadioButton>("单选框_删除")->click();
  FileDialogs::SetNextBrowseResultForTesting("/never");
  Get<QPushButton>("按钮2")->click();
  Editor()->DropPath("/never", target);
  EXPECT_NE(target->text(), "/never") << "a deletion takes no target";

  // Real drop events, several items at once, on the window away from the target.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/x/a.txt"), QUrl::fromLocalFile("/x/b.txt")});
  QPoint at = Get<QLabel>("标签3")->geometry().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Editor(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Editor(), &drop);
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/x/a.txt\r\n/x/b.txt\r\n");
  QMimeData one;
  one.setUrls({QUrl::fromLocalFile("/y/prog")});
  Get<QRadioButton>("单选框_执行")->click();
  QDragEnterEvent enterTarget(target->geometry().center(), Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Editor(), &enterTarget);
  QDropEvent onTarget(target->geometry().center(), Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Editor(), &onTarget);
  EXPECT_EQ(target->text(), "/y/prog");
}

// A person with only a keyboard: every control in reading order, nothing
// that traps focus, Enter adds, Escape closes.
TEST_F(RuleEditorTest, AKeyboardAloneAddsARuleFromTheFirstControlToEnter) {
  Menu("添加监控");
  QApplication::setActiveWindow(Editor());
  auto* events = Get<QComboBox>("组合框1");
  events->setFocus();
  auto press = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QWidget* focus = QApplication::focusWidget();
    QKeyEvent down(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(focus, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(focus, &up);
  };
  auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
  ASSERT_EQ(focused(), "组合框1");
  press(Qt::Key_Down);
  EXPECT_EQ(focused(), "组合框1") << "choosing an event keeps the focus";
  EXPECT_EQ(events->currentText(), "删除文件");

  std::vector<QString> order{focused()};
  for (int i = 0; i < 13; ++i) {
    press(Qt::Key_Tab);
    order.push_back(focused());
  }
  const std::vector<QString> expected{"组合框1", "编辑框1", "按钮1", "单选框_复制", "编辑框2", "按钮2", "按钮_试一试",
                                      "按钮3", "组合框1", "编辑框1", "按钮1", "单选框_复制", "编辑框2", "按钮2"};
  EXPECT_EQ(order, expected) << "in copy mode the parameters and the mode are out of the way";
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(focused(), "编辑框2") << "and Shift+Tab goes back without bouncing";

  events->setFocus();
  press(Qt::Key_Tab);
  ASSERT_EQ(focused(), "编辑框1");
  for (QChar c : QString::fromStdString(In())) press(0, Qt::NoModifier, QString(c));
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text().toStdString(), In());
  press(Qt::Key_Tab);
  press(Qt::Key_Tab);
  ASSERT_EQ(focused(), "单选框_复制");
  press(Qt::Key_Tab);
  press(Qt::Key_Tab);
  ASSERT_EQ(focused(), "按钮2");
  FileDialogs::SetNextBrowseResultForTesting(QString::fromStdString(Backup()));
  press(Qt::Key_Return);
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text().toStdString(), Backup()) << "Enter on a button presses it";
  Dialogs::SetNextAnswer(true);
  events->setFocus();
  press(Qt::Key_Return);
  ASSERT_EQ(Saved().size(), 1u) << "Enter anywhere else adds";
  EXPECT_EQ(Saved()[0], (MonitorRule{"删除文件", In(), "【复制文件】" + Backup(), true}));
  EXPECT_TRUE(Get<QLabel>("标签_状态")->text().contains("添加监控成功!")) << "told in the editor itself";

  press(Qt::Key_Escape);
  EXPECT_FALSE(Editor()->isVisible()) << "Escape closes the editor";
}

TEST_F(RuleEditorTest, TheEditorOpensOverTheMainWindow) {
  window_->move(300, 200);
  Menu("添加监控");
  QPoint editor = Editor()->frameGeometry().center(), main = window_->frameGeometry().center();
  EXPECT_LE((editor - main).manhattanLength(), 4) << "centred over the window it belongs to";
}

// The real dialog behind the monitored path's 选择: a folder is what people
// watch, so a folder is an answer even though files are shown beside it.
TEST_F(RuleEditorTest, TheMonitoredPathsPickerChoosesAFolder) {
  const QString folder = QString::fromStdString(Home()) + "/watched";
  ASSERT_TRUE(QDir().mkpath(folder));
  Menu("添加监控");
  bool dialogSeen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    dialogSeen = true;
    EXPECT_EQ(dialog->windowTitle(), "选择需要监控的文件/文件夹");
    dialog->setDirectory(QString::fromStdString(Home()));
    dialog->selectFile(folder);
    QMetaObject::invokeMethod(dialog, "accept");
    // A dialog that took the folder for a place to open would still be up.
    QTimer::singleShot(500, dialog, [dialog] { dialog->reject(); });
  });
  Get<QPushButton>("按钮1")->click();
  ASSERT_TRUE(dialogSeen);
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), folder);
}

// 试一试 lists what the rule in the form would do to the files already in
// its folder and to the listed changes, and does nothing.
TEST_F(RuleEditorTest, TryingARuleListsWhatItWouldDoAndDoesNothing) {
  for (const char* name : {"a.pdf", "b.txt"}) Put(In() + "/" + name, name);
  Put(Backup() + "/a.pdf", "taken");
  Menu("添加监控");
  Get<QLineEdit>("编辑框1")->setText(QString::fromStdString(In() + "/*.pdf"));
  Get<QLineEdit>("编辑框2")->setText(QString::fromStdString(Backup()));
  Dialogs::TakeShown();
  Get<QPushButton>("按钮_试一试")->click();
  const auto shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "试一试");
  const std::string text = shown[0].text.toStdString();
  EXPECT_NE(text.find(In() + "/a.pdf  →  复制到 " + Backup() + "/a("), std::string::npos) << text;
  EXPECT_EQ(text.find("b.txt"), std::string::npos) << "not a PDF";
  EXPECT_EQ(Read(Backup() + "/a.pdf"), "taken");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Backup()), std::filesystem::directory_iterator()), 1)
      << "nothing copied";
  EXPECT_TRUE(Saved().empty()) << "nor any rule added";
  Get<QLineEdit>("编辑框1")->setText("下载");
  Get<QPushButton>("按钮_试一试")->click();
  EXPECT_TRUE(Dialogs::TakeShown().back().text.contains("不是完整路径")) << "a path no rule could use is told";
}

// Both pickers choose the folder they stand in, with nothing selected, and
// speak Chinese in every column.
TEST_F(RuleEditorTest, ThePickersChooseTheFolderTheyStandIn) {
  const QString folder = QString::fromStdString(Backup());
  ASSERT_TRUE(QDir().mkpath(folder + "/里面"));
  Menu("添加监控");
  Get<QLineEdit>("编辑框2")->setText(folder);
  for (const char* button : {"按钮2", "按钮1"}) {
    Get<QLineEdit>("编辑框1")->setText(folder);
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen = true;
      QApplication::processEvents();
      auto* buttons = dialog->findChild<QDialogButtonBox*>();
      ASSERT_NE(buttons, nullptr);
      QPushButton* choose = buttons->button(dialog->fileMode() == QFileDialog::Directory ? QDialogButtonBox::Open
                                                                                           : QDialogButtonBox::Open);
      if (!choose) choose = buttons->button(QDialogButtonBox::Save);
      ASSERT_NE(choose, nullptr);
      EXPECT_EQ(choose->text(), "选择");
      EXPECT_TRUE(choose->isEnabled()) << button << ": the folder it stands in can be chosen";
      auto* files = dialog->findChild<QAbstractItemView*>("treeView");
      if (files && files->model()) {
        // Wait for the folder's listing, then read the type of the one inside.
        for (int i = 0; i < 200 && files->model()->rowCount(files->rootIndex()) == 0; ++i) {
          QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        const QModelIndex inner = files->model()->index(0, 2, files->rootIndex());
        EXPECT_EQ(inner.data().toString(), "文件夹") << button;
      }
      choose->click();
      QTimer::singleShot(500, dialog, [dialog] { dialog->reject(); });
    });
    Get<QPushButton>(button)->click();
    ASSERT_TRUE(seen) << button;
  }
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text(), folder);
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), folder);
}

// The Menu key and Shift+F10 open a list's menu at its current row, not
// wherever the pointer happens to be.
TEST_F(RuleEditorTest, TheKeyboardOpensTheRuleListsMenuAtItsCurrentRow) {
  for (int i = 0; i < 5; ++i) window_->AddRule("新建文件", "/r" + std::to_string(i), "【删除文件】");
  auto* view = window_->findChild<QTreeView*>("超级列表框2");
  auto* menu = window_->findChild<QMenu*>("列表右键");
  view->setFocus();
  view->setCurrentIndex(view->model()->index(3, 0));
  QCursor::setPos(0, 0);
  const QPoint row = view->viewport()->mapToGlobal(view->visualRect(view->currentIndex()).center());
  for (bool shiftF10 : {false, true}) {
    if (shiftF10) {
      QShortcut* shortcut = nullptr;
      for (QShortcut* s : view->findChildren<QShortcut*>())
        if (s->key() == QKeySequence(Qt::SHIFT | Qt::Key_F10)) shortcut = s;
      ASSERT_NE(shortcut, nullptr) << "Shift+F10 is bound on the list";
      emit shortcut->activated();
    } else {
      QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), view->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(view, &key);
    }
    QApplication::processEvents();
    ASSERT_TRUE(menu->isVisible()) << (shiftF10 ? "Shift+F10" : "Menu key");
    EXPECT_LE(std::abs(menu->pos().y() - row.y()), 26) << "at the current row";
    EXPECT_TRUE(menu->findChild<QAction*>("修改选中")->isEnabled());
    menu->hide();
  }
  view->clearSelection();
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), view->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(view->viewport(), &click);
  QApplication::processEvents();
  EXPECT_FALSE(menu->findChild<QAction*>("修改选中")->isEnabled()) << "nothing selected, nothing to modify";
  EXPECT_FALSE(menu->findChild<QAction*>("删除选中")->isEnabled());
  menu->hide();
}

}  // namespace
}  // namespace vantrel
