// The Win32 window driven as a user drives it, by the messages its controls
// send, and read back from the controls themselves: the boxes write
// config.ini, a rule shows in the rule list and acts, a change appears as a
// row, the lists' menus do what they say, the window hides to the tray and
// comes back, and 退出程序 ends it after saving its size.
#include "faces/win32/Controls.h"
#include "faces/win32/MainWindow.h"
#include "monitor/windows/DirectoryChangesSource.h"
#include "platform/InstanceGuard.h"
#include "platform/windows/Wide.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"

#include "TestDir.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windowsx.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel::win32 {
namespace {

using namespace std::chrono_literals;

std::string Read(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

// A dialog (message box or common dialog) of the process with the caption
// (any caption when empty), or none: tests run side by side, and another
// test's box must never be answered for this one.
HWND FindBox(DWORD process, const wchar_t* caption) {
  struct Search {
    DWORD process;
    const wchar_t* caption;
    HWND found;
  } search{process, caption, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t name[16] = {}, title[256] = {};
        ::GetClassNameW(window, name, 16);
        ::GetWindowTextW(window, title, 256);
        if (owner != s->process || ::lstrcmpW(name, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
        if (s->caption && *s->caption && ::lstrcmpW(s->caption, title) != 0) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Answers the next dialog of the process with the given caption by pressing
// a button, after fill has typed into it, from a thread of its own while the
// window's thread sits in the dialog. A dialog never found in time is
// cancelled, so that the test fails instead of hanging.
class BoxAnswerer {
 public:
  BoxAnswerer(const std::string& caption, int button, std::function<void(HWND)> fill = {},
              DWORD process = ::GetCurrentProcessId()) {
    thread_ = std::thread([this, caption = platform::WideFromUtf8(caption), button, fill, process] {
      for (int i = 0; i < 3000 && !stop_; ++i) {
        if (HWND box = FindBox(process, caption.c_str())) {
          if (fill) fill(box);
          ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
          answered_ = true;
          // Whatever the answer opened instead of closing (a complaint of
          // the dialog's own) is told and cancelled, never waited on.
          for (int j = 0; j < 300 && !stop_; ++j) {
            std::this_thread::sleep_for(10ms);
            if (!::IsWindow(box)) return;
          }
          for (int j = 0; j < 50 && !stop_; ++j) {
            HWND left = FindBox(process, nullptr);
            if (!left) return;
            wchar_t title[256] = {};
            ::GetWindowTextW(left, title, 256);
            {
              std::lock_guard lock(mutex_);
              leftOver_ = platform::Utf8FromWide(title);
            }
            ::PostMessageW(left, WM_COMMAND, IDCANCEL, 0);
            std::this_thread::sleep_for(100ms);
          }
          return;
        }
        std::this_thread::sleep_for(10ms);
      }
      if (HWND stuck = FindBox(process, nullptr)) ::PostMessageW(stuck, WM_COMMAND, IDCANCEL, 0);
    });
  }
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  bool Answered() const { return answered_; }
  // The title of a dialog still open after the answer, which was cancelled.
  std::string LeftOver() const {
    std::lock_guard lock(mutex_);
    return leftOver_;
  }

 private:
  mutable std::mutex mutex_;
  std::string leftOver_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, answered_{false};
};

class Win32WindowTest : public ::testing::Test {
 protected:
  void Open() {
    std::filesystem::create_directories(PathFromUtf8(in_));
    std::filesystem::create_directories(PathFromUtf8(out_));
    std::filesystem::create_directories(PathFromUtf8(home_));
    // Only the rules' folders: the test's own.
    ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"),
                                    Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n保存日志=真\r\n")));
    MainWindow::Options options;
    options.home = home_;
    window_ = std::make_unique<MainWindow>(std::move(options));
    ASSERT_TRUE(window_->Create(SW_SHOWNOACTIVATE));
  }
  template <typename F>
  bool TurnUntil(F done, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (!window_->Turn(20)) return done();
    }
    return true;
  }
  // Adds a rule and waits until its folder is watched: a file made before
  // that would be no change to anybody.
  void AddRule(const std::string& event, const std::string& path, const std::string& action) {
    auto* source = dynamic_cast<DirectoryChangesSource*>(window_->Core().Source());
    ASSERT_NE(source, nullptr);
    const std::uint64_t applied = source->RootSetsApplied();
    window_->Core().Rules().Add(event, path, action);
    ASSERT_TRUE(TurnUntil([&] { return source->RootSetsApplied() > applied; }, 10s));
  }
  HWND Control(int id) { return window_->Control(id); }
  int Rows(int list) { return ListView_GetItemCount(Control(list)); }
  std::string Cell(int list, int row, int column) {
    wchar_t text[1024] = {};
    ListView_GetItemText(Control(list), row, column, text, 1024);
    return platform::Utf8FromWide(text);
  }
  // The row of the event list with this type and path, or -1.
  int EventRow(const std::string& type, const std::string& path) {
    for (int row = Rows(k超级列表框1) - 1; row >= 0; --row)
      if (Cell(k超级列表框1, row, 2) == type && Cell(k超级列表框1, row, 3) == path) return row;
    return -1;
  }
  void Command(int id) { ::SendMessageW(window_->Window(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  std::string Config() { return Gb18030ToUtf8(Read(JoinPath(home_, "config.ini"))); }

  TestDir temp_;
  std::string home_ = CleanPath(JoinPath(temp_.Path(), "home")), in_ = CleanPath(JoinPath(temp_.Path(), "在 in")),
              out_ = CleanPath(JoinPath(temp_.Path(), "out"));
  std::unique_ptr<MainWindow> window_;
};

TEST_F(Win32WindowTest, BoxesShowTheSettingsAndWriteThem) {
  Open();
  EXPECT_EQ(Button_GetCheck(Control(k选择框_自定义)), BST_CHECKED);
  EXPECT_EQ(Button_GetCheck(Control(k选择框_全盘)), BST_UNCHECKED);
  // Unticking "更新文件" stops updates from being listed, and is kept.
  ASSERT_EQ(Button_GetCheck(Control(k选择框_更新文件)), BST_CHECKED);
  ::SendMessageW(Control(k选择框_更新文件), BM_CLICK, 0, 0);
  EXPECT_EQ(Button_GetCheck(Control(k选择框_更新文件)), BST_UNCHECKED);
  EXPECT_NE(Config().find("更新文件=假"), std::string::npos) << Config();
  EXPECT_FALSE(window_->Core().CurrentSettings().types[DispatchHost::FileUpdatedBox]);
  // The tray menu's item offers the opposite of the box.
  ::SendMessageW(Control(k选择框_托盘提示), BM_CLICK, 0, 0);
  const bool prompts = window_->Core().CurrentSettings().prompts;
  Command(k开启提示);
  EXPECT_NE(window_->Core().CurrentSettings().prompts, prompts) << "the tray's item turns prompts over";
  EXPECT_EQ(Button_GetCheck(Control(k选择框_托盘提示)) == BST_CHECKED, !prompts);
}

TEST_F(Win32WindowTest, ARuleShowsActsAndItsChangesAreListed) {
  Open();
  AddRule("新建文件", in_, "【复制文件】" + out_);
  ASSERT_EQ(Rows(k超级列表框2), 1);
  EXPECT_EQ(Cell(k超级列表框2, 0, 0), "新建文件");
  EXPECT_EQ(Cell(k超级列表框2, 0, 1), in_);
  EXPECT_EQ(Cell(k超级列表框2, 0, 2), "【复制文件】" + out_);
  EXPECT_TRUE(ListView_GetCheckState(Control(k超级列表框2), 0));

  const std::string made = JoinPath(in_, "报告.txt");
  std::ofstream(PathFromUtf8(made), std::ios::binary) << "r";
  ASSERT_TRUE(TurnUntil([&] { return EventRow("新建文件", made) >= 0; })) << "the change never became a row";
  EXPECT_EQ(Cell(k超级列表框1, EventRow("新建文件", made), 1), "报告.txt");
  ASSERT_TRUE(TurnUntil([&] { return Read(JoinPath(out_, "报告.txt")) == "r"; })) << "the rule never copied";
  EXPECT_TRUE(TurnUntil([&] { return EventRow("复制文件", JoinPath(out_, "报告.txt")) >= 0; }))
      << "the copy's own row";
  // Action rows wear the action colour.
  const int action = EventRow("复制文件", JoinPath(out_, "报告.txt"));
  EXPECT_TRUE(window_->Core().Colours().CellColourAt(static_cast<std::size_t>(action), 3).has_value());

  // The user's untick is saved; "全部开启" ticks it again.
  ListView_SetCheckState(Control(k超级列表框2), 0, FALSE);
  window_->Core().Rules().Reload();
  ASSERT_EQ(window_->Core().Rules().Rules().size(), 1u);
  EXPECT_FALSE(window_->Core().Rules().Rules()[0].enabled) << "the untick was saved";
  EXPECT_FALSE(ListView_GetCheckState(Control(k超级列表框2), 0));
  Command(k全部开启);
  EXPECT_TRUE(ListView_GetCheckState(Control(k超级列表框2), 0));
  // "删除选中" removes the selected rule from the list and the file.
  ListView_SetItemState(Control(k超级列表框2), 0, LVIS_SELECTED, LVIS_SELECTED);
  Command(k删除选中);
  EXPECT_EQ(Rows(k超级列表框2), 0);
  EXPECT_EQ(Read(JoinPath(home_, "data.jl")), "");
}

TEST_F(Win32WindowTest, TheEditorAddsAndModifiesRules) {
  Open();
  Command(k添加监控);
  RuleEditor& editor = window_->Editor();
  ASSERT_TRUE(::IsWindowVisible(editor.Window()));
  EXPECT_EQ(TextOf(editor.Window()), "添加监控");
  auto press = [&](const char* caption, int button) {
    BoxAnswerer answer(caption, button);
    ::SendMessageW(editor.Control(k按钮3), BM_CLICK, 0, 0);
    return answer.Answered();
  };
  EXPECT_TRUE(press("提示:", IDOK));
  EXPECT_EQ(editor.Status(), "监控路径未输入!") << "refused, and said so where the user looks";
  EXPECT_EQ(Rows(k超级列表框2), 0);

  SetText(editor.Control(k编辑框1), in_);
  editor.DropPath(JoinPath(out_, "dropped.txt"), k编辑框2);
  EXPECT_EQ(TextOf(editor.Control(k编辑框2)), out_ + "\\") << "a dropped file gives its folder";
  EXPECT_TRUE(press("添加提示:", IDOK));
  ASSERT_EQ(Rows(k超级列表框2), 1);
  EXPECT_EQ(Cell(k超级列表框2, 0, 1), in_);
  EXPECT_EQ(Cell(k超级列表框2, 0, 2), "【复制文件】" + out_ + "\\");

  // Modify: the row's own texts, then a deletion saved over it, its tick kept.
  ListView_SetItemState(Control(k超级列表框2), 0, LVIS_SELECTED, LVIS_SELECTED);
  Command(k修改选中);
  EXPECT_EQ(TextOf(editor.Window()), "修改事件类型-0");
  EXPECT_EQ(TextOf(editor.Control(k按钮3)), "保存修改");
  ::SendMessageW(editor.Control(k单选框_删除), BM_CLICK, 0, 0);
  EXPECT_FALSE(::IsWindowEnabled(editor.Control(k编辑框2))) << "a deletion has no target";
  EXPECT_TRUE(press("添加提示:", IDOK));
  ASSERT_EQ(Rows(k超级列表框2), 1);
  EXPECT_EQ(Cell(k超级列表框2, 0, 2), std::string("【删除文件】") + out_ + "\\");
  EXPECT_TRUE(ListView_GetCheckState(Control(k超级列表框2), 0));
  EXPECT_FALSE(::IsWindowVisible(editor.Window())) << "done with the rule, the editor goes";
  window_->Core().Rules().Reload();
  EXPECT_EQ(window_->Core().Rules().Rules()[0].actionText, std::string("【删除文件】") + out_ + "\\") << "saved";
}

TEST_F(Win32WindowTest, ClearingTheListAsksFirst) {
  Open();
  AddRule("新建文件", in_, "【复制文件】" + out_);
  std::ofstream(PathFromUtf8(JoinPath(in_, "a.txt")), std::ios::binary) << "a";
  ASSERT_TRUE(TurnUntil([&] { return Rows(k超级列表框1) > 0; }));
  {
    BoxAnswerer no("提示", IDNO);
    Command(k清空列表);
    EXPECT_TRUE(no.Answered());
  }
  EXPECT_GT(Rows(k超级列表框1), 0) << "answered No: the rows stay";
  {
    BoxAnswerer yes("提示", IDYES);
    Command(k清空列表);
    EXPECT_TRUE(yes.Answered());
  }
  EXPECT_EQ(Rows(k超级列表框1), 0);
  EXPECT_EQ(window_->Core().Events().RowCount(), 0u);
}

// A second vantrel.exe on the same home says the program runs, asks the
// window forward and ends with 0; the window stays the one that runs.
TEST_F(Win32WindowTest, ASecondStartBringsTheWindowForwardAndEnds) {
  InstanceGuard guard(home_, "vantrel");
  std::filesystem::create_directories(PathFromUtf8(home_));
  std::string error;
  ASSERT_EQ(guard.Acquire(error), InstanceGuard::Result::Acquired) << error;
  Open();
  MainWindow::Requests requests;
  requests.comeForward = guard.RequestFd();
  requests.takeComeForward = [&guard] { return guard.TakeRequests(); };
  window_->SetRequests(std::move(requests));

  std::wstring line = L"\"" + platform::WideFromUtf8(VANTREL_WINDOW_EXE) + L"\" --home \"" +
                      platform::WideFromUtf8(home_) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  BoxAnswerer told("友情提醒:", IDOK, {}, process.dwProcessId);
  EXPECT_TRUE(TurnUntil([&] { return window_->ComeForwardCount() > 0; })) << "the window was never asked forward";
  EXPECT_TRUE(TurnUntil([&] { return ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }))
      << "the second start never ended";
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(told.Answered()) << "it said nothing of the running copy";
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  EXPECT_TRUE(::IsWindow(window_->Window()));
}

TEST_F(Win32WindowTest, HidesToTheTrayComesBackAndQuitsSavingItsSize) {
  Open();
  ASSERT_TRUE(window_->Tray().Added()) << "no notification area to hide in";
  ::ShowWindow(window_->Window(), SW_MINIMIZE);
  EXPECT_TRUE(TurnUntil([&] { return !::IsWindowVisible(window_->Window()); }, 5s)) << "minimised, it hides";
  ::SendMessageW(window_->Window(), TrayIcon::kCallback, 1, WM_LBUTTONDOWN);
  EXPECT_TRUE(TurnUntil([&] { return ::IsWindowVisible(window_->Window()) && !::IsIconic(window_->Window()); }, 5s))
      << "a click on the icon shows it";
  {
    BoxAnswerer no("提示:", IDNO);
    ::SendMessageW(window_->Window(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(no.Answered());
  }
  EXPECT_TRUE(::IsWindow(window_->Window())) << "answered No: it stays";
  Command(k退出程序);
  EXPECT_FALSE(window_->Turn(0)) << "退出程序 ends the loop";
  EXPECT_NE(Config().find("XY=1010*800"), std::string::npos) << Config();
}

}  // namespace
}  // namespace vantrel::win32
