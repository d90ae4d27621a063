// The rule editor as the user meets it: its controls, checks, pickers,
// drops, and what each add or modify leaves in data.jl.
#include "app/MainWindow.h"
#include "app/ProgramDir.h"
#include "FileHelpers.h"
#include "rules/RuleFile.h"
#include "support/Dialogs.h"
#include "support/FileDialogs.h"
#include "text/Codec.h"
#include "tray/TrayIcon.h"
#include "ui/RuleEditorWindow.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
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
    SetProgramDirForTesting(Home());
    Dialogs::CaptureForTesting(true);
    window_ = std::make_unique<MainWindow>(ScriptedOptions(source_));
    window_->Tray().RecordPromptsForTesting(true);
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    Dialogs::CaptureForTesting(false);
    Dialogs::TakeShown();
  }
  std::string Home() const { return home_.path().toStdString(); }
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
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "监控路径未输入!");
  Get<QLineEdit>("编辑框1")->setText("");
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "监控路径未输入!") << "an emptied box would match every path";
  Get<QLineEdit>("编辑框1")->setText("/data/in");
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "执行参数未输入!");

  Get<QRadioButton>("单选框_删除")->click();
  EXPECT_EQ(Get<QLabel>("标签_路径")->text(), "删除文件∶");
  EXPECT_EQ(Get<QLabel>("标签5")->text(), "小提示∶ 删除文件不需要选择路径");
  Get<QComboBox>("组合框1")->setCurrentIndex(4);
  emit Get<QComboBox>("组合框1")->activated(4);
  EXPECT_EQ(Get<QComboBox>("组合框1")->currentText(), "重命名文件") << "the separator is no event";
  Dialogs::SetNextAnswer(false);
  Get<QPushButton>("按钮3")->click();
  EXPECT_EQ(LastMessage(), "监控事件∶重命名文件\r\n\r\n监控路径∶/data/in\r\n\r\n执行操作∶删除文件");
  EXPECT_TRUE(Saved().empty()) << "cancelled";
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  ASSERT_EQ(Saved().size(), 1u);
  EXPECT_EQ(Saved()[0], (MonitorRule{"重命名文件", "/data/in", "【删除文件】拖放文件/文件夹到此自动获取路径", true}));

  Get<QRadioButton>("单选框_执行")->click();
  EXPECT_FALSE(Get<QComboBox>("组合框2")->isHidden());
  Get<QLineEdit>("编辑框2")->setText("/usr/bin/tool");
  Get<QLineEdit>("编辑框3")->setText("#路径");
  Get<QComboBox>("组合框2")->setCurrentIndex(1);
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  ASSERT_EQ(Saved().size(), 2u);
  EXPECT_EQ(Saved()[1].actionText, "【执行程序】/usr/bin/tool§#路径§1");

  Get<QLineEdit>("编辑框3")->setText("a｜b");
  Get<QPushButton>("按钮3")->click();
  EXPECT_TRUE(LastMessage().startsWith("路径和参数中不能含有")) << "the rule file would be cut there";
  EXPECT_EQ(Saved().size(), 2u);
}

TEST_F(RuleEditorTest, ModifyingWritesTheSameRuleAndNeverAnotherOne) {
  window_->AddRule("新建文件", "/a", "【复制文件】/out");
  window_->AddRule("删除文件", "/b", "【执行程序】/bin/x§#文件名§3");
  window_->AddRule("新建目录", "/c", "【删除文件】");
  auto* view = window_->findChild<QTreeView*>("超级列表框2");
  window_->Tray().TakeIssuedPrompts();
  Menu("修改选中");
  EXPECT_EQ(window_->Tray().TakeIssuedPrompts().back().text, "未选中需要修改项!");

  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("修改选中");
  EXPECT_EQ(Editor()->windowTitle(), "修改事件类型-1");
  EXPECT_EQ(Get<QPushButton>("按钮3")->text(), "保存修改");
  EXPECT_EQ(Get<QComboBox>("组合框1")->currentText(), "删除文件");
  EXPECT_TRUE(Get<QRadioButton>("单选框_执行")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text(), "/bin/x");
  EXPECT_EQ(Get<QLineEdit>("编辑框3")->text(), "#文件名");
  EXPECT_EQ(Get<QComboBox>("组合框2")->currentIndex(), 3);
  Get<QLineEdit>("编辑框1")->setText("/b2");
  Dialogs::SetNextAnswer(true);
  Get<QPushButton>("按钮3")->click();
  RuleList saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[1], (MonitorRule{"删除文件", "/b2", "【执行程序】/bin/x§#文件名§3", true}));
  EXPECT_EQ(Editor()->windowTitle(), "添加监控");

  // The row being modified goes away meanwhile: nothing else is overwritten.
  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("修改选中");
  view->setCurrentIndex(view->model()->index(1, 0));
  Menu("删除选中");
  Get<QLineEdit>("编辑框1")->setText("/overwrite");
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
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), RuleEditorWindow::kCueText);
  window_->findChild<QCheckBox*>("选择框_自定义")->click();
  EXPECT_FALSE(Get<QCheckBox>("选择框1")->isVisible());
}

TEST_F(RuleEditorTest, PickersAndDropsFillTheRightBox) {
  Menu("添加监控");
  FileDialogs::SetNextBrowseResultForTesting("/picked/in");
  Get<QPushButton>("按钮1")->click();
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "/picked/in");
  EXPECT_TRUE(FileDialogs::LastBrowse()->includeFiles);
  EXPECT_EQ(FileDialogs::LastBrowse()->title, "选择需要监控的文件/文件夹");
  EXPECT_EQ(FileDialogs::LastBrowse()->initialPath.toStdString(), Home());
  FileDialogs::SetNextBrowseResultForTesting("");
  Get<QPushButton>("按钮1")->click();
  EXPECT_EQ(Get<QLineEdit>("编辑框1")->text(), "") << "a cancel empties the box";
  FileDialogs::SetNextBrowseResultForTesting("/backup");
  Get<QPushButton>("按钮2")->click();
  EXPECT_FALSE(FileDialogs::LastBrowse()->includeFiles) << "copy targets are folders";
  EXPECT_EQ(Get<QLineEdit>("编辑框2")->text(), "/backup");

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

  // The parameters take typing only for a program.
  window_->Tray().TakeIssuedPrompts();
  QFocusEvent focusIn(QEvent::FocusIn);
  QApplication::sendEvent(Get<QLineEdit>("编辑框3"), &focusIn);
  auto prompts = window_->Tray().TakeIssuedPrompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "所选类型无需输入参数!");

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

}  // namespace
}  // namespace vantrel
