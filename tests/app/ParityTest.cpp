// One stream of changes through the window and through the program without
// a window: the same log, byte for byte, and the same files in the targets.
#include "faces/qt/app/MainWindow.h"
#include "faces/headless/Headless.h"
#include "log/AutomationDate.h"
#include "monitor/ScriptedSource.h"
#include "rules/RuleFile.h"
#include "faces/qt/support/Dialogs.h"
#include "text/Codec.h"
#include "FileHelpers.h"
#include "TestDir.h"
#include "WindowTestSupport.h"

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

}  // namespace
}  // namespace vantrel
