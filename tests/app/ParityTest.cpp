// One stream of changes through the window and through the program without
// a window: the same log, byte for byte, and the same files in the targets.
#include "faces/qt/app/MainWindow.h"
#include "faces/headless/Headless.h"
#include "log/AutomationDate.h"
#include "monitor/ScriptedSource.h"
#include "rules/RuleFile.h"
#include "faces/qt/support/Dialogs.h"
#include "text/Codec.h"
#include "faces/FaceParity.h"
#include "faces/qt/ui/RuleEditorWindow.h"
#include "FileHelpers.h"
#include "TestDir.h"
#include "WindowTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class ParityTest : public ::testing::Test {
 protected:
  void SetUp() override { Dialogs::CaptureForTesting(true); }
  void TearDown() override { Dialogs::CaptureForTesting(false); }
  ManualClock clock_{LocalDateTime{2021, 8, 1, 13, 5, 9, 0}};
  // The tree as it is before each run, and the rules and settings of a home.
  void MakeTree() {
    fs::remove_all(tree_);
    for (const char* d : {"/in", "/out", "/moved", "/ran"}) fs::create_directories(tree_ + d);
    for (const char* f : {"/in/a.txt", "/in/报告.docx", "/in/c.txt", "/in/e.txt"}) Put(tree_ + f, std::string("content of ") + f);
  }
  void MakeHome(const std::string& home) {
    fs::create_directories(home);
    Put(home + "/config.ini", Utf8ToGb18030("[监控设置]\r\n保存日志=真\r\n"));
    SaveRuleFile(home + "/data.jl", {{"新建文件", tree_ + "/in", "【复制文件】" + tree_ + "/out", true},
                                     {"重命名文件", tree_ + "/in", "【移动文件】" + tree_ + "/moved", true},
                                     {"删除文件", tree_ + "/in", "【执行程序】/usr/bin/touch§" + tree_ + "/ran/#文件名§1", true},
                                     {"新建文件", tree_ + "/in", "【复制文件】" + tree_ + "/out", true}});
  }
  // The stream, one change at a time, each handled with its actions before
  // the next, so that the order of rows does not depend on timing.
  std::vector<ChangeNotification> Stream() {
    const std::string in = tree_ + "/in";
    return {{SHCNE_CREATE, in + "/a.txt", std::nullopt, 0},
            {SHCNE_CREATE, in + "/报告.docx", std::nullopt, 0},
            {SHCNE_MKDIR, in + "/sub", std::nullopt, 0},
            {SHCNE_UPDATEITEM, in + "/a.txt", std::nullopt, 0},
            {SHCNE_CREATE, in + "/a.txt", std::nullopt, 0},
            {SHCNE_RENAMEITEM, in + "/c.txt", in + "/d.txt", 0},
            {SHCNE_DELETE, in + "/e.txt", std::nullopt, 0},
            {SHCNE_CREATE, tree_ + "/elsewhere.txt", std::nullopt, 0}};
  }
  void Change(const ChangeNotification& n) {
    if (n.code == SHCNE_RENAMEITEM) fs::rename(*n.item1, *n.item2);
    if (n.code == SHCNE_DELETE) fs::remove(*n.item1);
  }
  std::map<std::string, std::string> Files() {
    // Programs started by the rules finish on their own.
    for (int i = 0; i < 100 && !fs::exists(tree_ + "/ran/e.txt"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(tree_))
      if (e.is_regular_file()) files[e.path().string().substr(tree_.size())] = Read(e.path().string());
    return files;
  }

  TestDir temp_;
  std::string tree_ = temp_.Path() + "/tree";
};

TEST_F(ParityTest, TheWindowAndTheProgramWithoutOneLogAndActAlike) {
  const std::string windowHome = temp_.Path() + "/window", headlessHome = temp_.Path() + "/headless";
  MakeTree();
  MakeHome(windowHome);
  {
    ScriptedSource* source = nullptr;
    MainWindow::Options options = ScriptedOptions(windowHome, source);
    options.clock = &clock_;
    MainWindow window(options);
    ASSERT_TRUE(window.OnMainWindowCreated());
    for (const ChangeNotification& n : Stream()) {
      Change(n);
      source->Inject({n});
      for (int i = 0; i < 10; ++i) QApplication::processEvents();
      window.FinishPendingActions();
    }
  }
  const std::map<std::string, std::string> windowFiles = Files();

  MakeTree();
  MakeHome(headlessHome);
  {
    ScriptedSource* source = nullptr;
    Headless program({headlessHome, WatchBackend::Auto, false, [&source](const std::vector<std::string>&, std::string&) {
                        auto made = std::make_unique<ScriptedSource>();
                        source = made.get();
                        return made;
                      },
                      &clock_});
    std::string error;
    ASSERT_TRUE(program.Start(error)) << error;
    for (const ChangeNotification& n : Stream()) {
      Change(n);
      source->Inject({n});
      program.Core().DrainSource();
      program.Core().FinishPendingActions();
    }
    program.Stop();
  }
  const std::string windowLog = Read(windowHome + "/log/20210801/log.txt");
  const std::string headlessLog = Read(headlessHome + "/log/20210801/log.txt");
  ASSERT_FALSE(windowLog.empty());
  EXPECT_NE(Gb18030ToUtf8(windowLog).find("复制文件】" + tree_ + "/out/报告.docx"), std::string::npos)
      << Gb18030ToUtf8(windowLog);
  EXPECT_EQ(headlessLog, windowLog) << "window:\n" << Gb18030ToUtf8(windowLog) << "headless:\n" << Gb18030ToUtf8(headlessLog);
  EXPECT_EQ(Files(), windowFiles);
}

// The Win32 window's test holds it to the same text.
TEST_F(ParityTest, TheWindowLeavesWhatTheWin32WindowLeaves) {
  const std::string home = temp_.Path() + "/home", root = temp_.Path() + "/session";
  std::filesystem::create_directories(home);
  Put(home + "/config.ini", Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n"));
  parity::MakeTree(root);
  ManualClock clock(parity::SessionTime());
  {
    ScriptedSource* source = nullptr;
    MainWindow window(ScriptedOptions(home, source, true, &clock));
    ASSERT_TRUE(window.OnMainWindowCreated());
    window.show();
    auto menu = [&](const char* item) {
      for (QAction* a : window.findChild<QMenu*>("列表右键")->actions())
        if (a->text() == QString::fromUtf8(item)) a->trigger();
    };
    auto* rules = window.findChild<QTreeView*>("超级列表框2");
    for (const parity::Edit& edit : parity::Edits()) {
      if (edit.kind == parity::Edit::Click) {
        window.findChild<QCheckBox*>(QString::fromStdString(edit.control))->click();
        continue;
      }
      rules->setCurrentIndex(rules->model()->index(edit.row, 0));
      if (edit.kind == parity::Edit::UntickRule) {
        rules->model()->setData(rules->model()->index(edit.row, 0), Qt::Unchecked, Qt::CheckStateRole);
        continue;
      }
      if (edit.kind == parity::Edit::RemoveRule) {
        menu("删除选中");
        continue;
      }
      menu(edit.kind == parity::Edit::AddRule ? "添加监控" : "修改选中");
      auto* editor = window.findChild<RuleEditorWindow*>("RuleEditorWindow");
      ASSERT_NE(editor, nullptr);
      auto* events = editor->findChild<QComboBox*>("组合框1");
      events->setCurrentIndex(events->findText(QString::fromStdString(edit.event)));
      editor->findChild<QLineEdit*>("编辑框1")->setText(QString::fromStdString(JoinPath(root, edit.path)));
      editor->findChild<QRadioButton*>(QString::fromStdString(edit.control))->click();
      if (!edit.target.empty())
        editor->findChild<QLineEdit*>("编辑框2")->setText(QString::fromStdString(JoinPath(root, edit.target)));
      Dialogs::SetNextAnswer(true);
      editor->findChild<QPushButton*>("按钮3")->click();
    }
    for (const ChangeNotification& change : parity::Changes(root)) {
      parity::MakeChange(change);
      source->Inject({change});
      for (int i = 0; i < 10; ++i) QApplication::processEvents();
      window.FinishPendingActions();
    }
  }
  const std::string record = parity::Record(home, root);
  // Where the expected text is made again after a deliberate change.
  if (const char* out = std::getenv("VANTREL_WRITE_STORED_FILES")) Put(std::string(out) + "/face-parity.txt", record);
  EXPECT_EQ(record, parity::Expected());
}

}  // namespace
}  // namespace vantrel
