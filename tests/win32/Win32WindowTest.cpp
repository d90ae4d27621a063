// The Win32 window driven as a user drives it, by the messages its controls
// send, and read back from the controls themselves: the boxes write
// config.ini, a rule shows in the rule list and acts, a change appears as a
// row, the lists' menus do what they say, the window hides to the tray and
// comes back, and 退出程序 ends it after saving its size.
#include "faces/win32/Controls.h"
#include "faces/win32/MainWindow.h"
#include "monitor/ScriptedSource.h"
#include "monitor/windows/DirectoryChangesSource.h"
#include "faces/shared/RuntimeError.h"
#include "faces/FaceParity.h"
#include "log/EventLog.h"
#include "platform/InstanceGuard.h"
#include "platform/windows/Wide.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"

#include "FileHelpers.h"
#include "TestDir.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windowsx.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vantrel::win32 {
namespace {

using namespace std::chrono_literals;

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

// Waits for the next popup menu of the process, reads its items and closes
// it as Escape does, from a thread of its own while the window's thread
// sits in the menu's loop.
class MenuWatcher {
 public:
  MenuWatcher() {
    thread_ = std::thread([this] {
      for (int i = 0; i < 1000 && !stop_; ++i) {
        HWND menu = ::FindWindowW(L"#32768", nullptr);
        DWORD owner = 0;
        if (menu) ::GetWindowThreadProcessId(menu, &owner);
        if (menu && owner == ::GetCurrentProcessId() && ::IsWindowVisible(menu)) {
          HMENU items = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
          std::string seen;
          for (int item = 0; item < ::GetMenuItemCount(items); ++item) {
            wchar_t text[64] = {};
            ::GetMenuStringW(items, static_cast<UINT>(item), text, 64, MF_BYPOSITION);
            seen += (seen.empty() ? "" : ",") + platform::Utf8FromWide(text);
          }
          {
            std::lock_guard lock(mutex_);
            items_ = seen;
          }
          ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
          return;
        }
        std::this_thread::sleep_for(10ms);
      }
    });
  }
  ~MenuWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::string Items() {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  std::mutex mutex_;
  std::string items_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

class Win32WindowTest : public ::testing::Test {
 protected:
  void Open() {
    std::filesystem::create_directories(PathFromUtf8(in_));
    std::filesystem::create_directories(PathFromUtf8(out_));
    std::filesystem::create_directories(PathFromUtf8(home_));
    // The settings of the first start (by default only the rules' folders,
    // the test's own); a later start reads what that one left.
    if (!std::filesystem::exists(PathFromUtf8(JoinPath(home_, "config.ini")))) {
      ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"), Utf8ToGb18030(config_)));
    }
    MainWindow::Options options;
    options.home = home_;
    if (clock_) options.clock = clock_;
    if (scripted_) options.sourceFactory = ScriptedSourceFactory(source_);
    window_ = std::make_unique<MainWindow>(std::move(options));
    ASSERT_TRUE(window_->Create(SW_SHOWNOACTIVATE));
  }
  // The log of the day, whichever day the system clock says.
  std::string Log() {
    for (const auto& day : std::filesystem::directory_iterator(PathFromUtf8(JoinPath(home_, "log"))))
      return Gb18030ToUtf8(Read(Utf8FromPath(day.path() / "log.txt")));
    return {};
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
  bool scripted_ = false;
  ScriptedSource* source_ = nullptr;
  const Clock* clock_ = nullptr;
  std::string config_ = "[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n保存日志=真\r\n";
};

TEST_F(Win32WindowTest, BoxesShowTheSettingsAndWriteThem) {
  Open();
  // On the skin's ground: the boxes are drawn with the brush the window gives.
  HDC dc = ::GetDC(window_->Window());
  auto ground = reinterpret_cast<HBRUSH>(
      ::SendMessageW(window_->Window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(Control(k选择框_更新文件))));
  ::ReleaseDC(window_->Window(), dc);
  LOGBRUSH brush{};
  ASSERT_TRUE(ground && ::GetObjectW(ground, sizeof brush, &brush));
  EXPECT_EQ(brush.lbColor, RGB(0xee, 0xf1, 0xf5));
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

// A size saved larger than the screen, and a window pushed off it, still give
// windows that are whole on the screen: the editor too, with its 添加.
TEST_F(Win32WindowTest, TheWindowAndTheEditorStayInsideTheScreen) {
  config_ += "[程序尺寸]\r\nXY=1200*5000\r\n";
  Open();
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(window_->Window(), MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT work = monitor.rcWork;
  auto inside = [&](HWND window) {
    RECT r;
    ::GetWindowRect(window, &r);
    return r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom;
  };
  EXPECT_TRUE(inside(window_->Window())) << "a saved size taller than the screen";
  ::SetWindowPos(window_->Window(), nullptr, work.right - 120, work.bottom - 80, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Command(k添加监控);
  ASSERT_TRUE(TurnUntil([&] { return ::IsWindowVisible(window_->Editor().Window()); }, 10s));
  EXPECT_TRUE(inside(window_->Editor().Window())) << "centred on a window at the corner, the editor is pulled in";
  EXPECT_TRUE(inside(window_->Editor().Control(k按钮3)));
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
  EXPECT_EQ(Cell(k超级列表框2, 0, 2), "【复制文件】" + out_) << "stored without the separator the drop gave";

  // Modify: the row's own texts, then a deletion saved over it, its tick kept.
  ListView_SetItemState(Control(k超级列表框2), 0, LVIS_SELECTED, LVIS_SELECTED);
  Command(k修改选中);
  EXPECT_EQ(TextOf(editor.Window()), "修改事件类型-0");
  EXPECT_EQ(TextOf(editor.Control(k按钮3)), "保存修改");
  ::SendMessageW(editor.Control(k单选框_删除), BM_CLICK, 0, 0);
  EXPECT_FALSE(::IsWindowEnabled(editor.Control(k编辑框2))) << "a deletion has no target";
  EXPECT_TRUE(press("添加提示:", IDOK));
  ASSERT_EQ(Rows(k超级列表框2), 1);
  EXPECT_EQ(Cell(k超级列表框2, 0, 2), std::string("【删除文件】") + out_);
  EXPECT_TRUE(ListView_GetCheckState(Control(k超级列表框2), 0));
  EXPECT_FALSE(::IsWindowVisible(editor.Window())) << "done with the rule, the editor goes";
  window_->Core().Rules().Reload();
  EXPECT_EQ(window_->Core().Rules().Rules()[0].actionText, std::string("【删除文件】") + out_) << "saved";
}

// 撤销 on an action row takes the copy back and lists it.
TEST_F(Win32WindowTest, AnActionRowIsTakenBackFromItsMenu) {
  Open();
  AddRule("新建文件", in_, "【复制文件】" + out_);
  std::ofstream(PathFromUtf8(JoinPath(in_, "报告.txt")), std::ios::binary) << "a";
  const std::string copy = JoinPath(out_, "报告.txt");
  int row = -1;
  ASSERT_TRUE(TurnUntil([&] { return (row = EventRow("复制文件", copy)) >= 0; }));
  ListView_SetItemState(Control(k超级列表框1), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  Command(k撤销);
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(copy)));
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(JoinPath(in_, "报告.txt"))));
  EXPECT_TRUE(TurnUntil([&] {
    for (int r = 0; r < Rows(k超级列表框1); ++r)
      if (Cell(k超级列表框1, r, 2) == "撤销") return true;
    return false;
  }, 5s)) << "the take-back is listed";
  EXPECT_NE(TextOf(Control(k状态栏)).find("已撤销复制"), std::string::npos) << TextOf(Control(k状态栏));
  EXPECT_FALSE(window_->Core().CanTakeBack(static_cast<std::size_t>(row))) << "once only";
}

// 试一试 in the editor lists what the rule would do, and does nothing.
TEST_F(Win32WindowTest, TryingARuleInTheEditorListsWhatItWouldDo) {
  Open();
  std::ofstream(PathFromUtf8(JoinPath(in_, "a.pdf")), std::ios::binary) << "a";
  Command(k添加监控);
  RuleEditor& editor = window_->Editor();
  SetText(editor.Control(k编辑框1), JoinPath(in_, "*.pdf"));
  SetText(editor.Control(k编辑框2), out_);
  std::string shown;
  {
    BoxAnswerer box("试一试", IDOK, [&](HWND dialog) { shown = TextOf(::GetDlgItem(dialog, 0xFFFF)); });
    ::SendMessageW(editor.Control(k按钮_试一试), BM_CLICK, 0, 0);
    EXPECT_TRUE(box.Answered());
  }
  EXPECT_NE(shown.find(JoinPath(in_, "a.pdf") + "  →  复制到 " + JoinPath(out_, "a.pdf")), std::string::npos) << shown;
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(JoinPath(out_, "a.pdf")))) << "nothing copied";
  EXPECT_EQ(Rows(k超级列表框2), 0) << "nor any rule added";
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
  ASSERT_TRUE(TurnUntil([&] { return window_->Tray().Added(); }, 10s)) << "no notification area to hide in";
  // An icon the shell lost (or refused) is added again a moment later.
  window_->Tray().Remove();
  EXPECT_TRUE(TurnUntil([&] { return window_->Tray().Added(); }, 10s)) << "the icon never came back";
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

// Quitting in the middle of a burst loses nothing silently: every copy made
// has its record, every event whose rules never ran is recorded as not
// done, and the next start tells how many.
TEST_F(Win32WindowTest, QuittingMidBurstRecordsWhatWasDoneAndWhatWasNot) {
  scripted_ = true;
  Open();
  constexpr int kFiles = 1500;
  std::vector<ChangeNotification> burst;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = JoinPath(in_, "f" + std::to_string(i));
    std::ofstream(PathFromUtf8(path), std::ios::binary) << i;
    burst.push_back({SHCNE_CREATE, path, std::nullopt, 0});
  }
  window_->Core().Rules().Add("新建文件", in_, "【复制文件】" + out_);
  source_->Inject(std::move(burst));
  auto copied = [&] { return EntriesIn(out_); };
  ASSERT_TRUE(TurnUntil([&] { return copied() >= 20; }));
  Command(k退出程序);
  EXPECT_FALSE(window_->Turn(0));
  window_.reset();
  // The thread's quit message belongs to the window that ended.
  MSG quit;
  EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  ASSERT_LT(copied(), std::size_t{kFiles}) << "the burst was over before the quit";

  const std::string log = Log();
  const std::size_t notDone = ExpectEveryCopyAccountedFor(log, copied(), kFiles);
  EXPECT_NE(Config().find("未执行=" + std::to_string(notDone)), std::string::npos) << Config();

  Open();
  const std::string told = "上次退出时有 " + std::to_string(notDone) + " 个事件的规则尚未执行";
  auto shown = [&] {
    for (int row = 0; row < Rows(k超级列表框1); ++row)
      if (Cell(k超级列表框1, row, 3).find(told) == 0) return true;
    return false;
  };
  EXPECT_TRUE(TurnUntil(shown, 10s)) << "the next start did not tell: " << told;
}

// What a handler throws reaches the user as the code and the message, and
// the program goes on.
struct Thrower {
  HWND window = nullptr;
  void Attach(HWND w) { window = w; }
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) throw RuntimeError(7, "boom");
    if (message == WM_APP + 1) throw std::logic_error("plain");
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
};

TEST(Win32Errors, WhatAHandlerThrowsIsToldWithItsCodeAndTheProgramGoesOn) {
  WNDCLASSW type{};
  type.lpfnWndProc = ObjectProc<Thrower>;
  type.hInstance = ::GetModuleHandleW(nullptr);
  type.lpszClassName = L"VantrelThrowerTest";
  ::RegisterClassW(&type);
  Thrower thrower;
  HWND window = ::CreateWindowExW(0, type.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  type.hInstance, &thrower);
  ASSERT_NE(window, nullptr);
  for (const auto& [message, text] : {std::pair{WM_APP, "错误代码:7\n错误信息:boom"},
                                      std::pair{WM_APP + 1, "错误代码:1\n错误信息:plain"}}) {
    std::string shown;
    {
      BoxAnswerer answer("提示:", IDOK, [&](HWND box) { shown = TextOf(::GetDlgItem(box, 0xFFFF)); });
      ::SendMessageW(window, message, 0, 0);
      EXPECT_TRUE(answer.Answered());
    }
    EXPECT_EQ(shown, text);
  }
  EXPECT_TRUE(::IsWindow(window));
  ::DestroyWindow(window);
}

// The session the Qt window's test gives the Qt window, given here through
// this window's controls: both are held to the same record.
TEST_F(Win32WindowTest, TheWindowLeavesWhatTheQtWindowLeaves) {
  const std::string root = CleanPath(JoinPath(temp_.Path(), "session"));
  parity::MakeTree(root);
  ManualClock clock(parity::SessionTime());
  clock_ = &clock;
  scripted_ = true;
  config_ = "[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n";
  Open();
  const std::map<std::string, int> ids = {
      {"选择框_保存日志", k选择框_保存日志}, {"选择框_创建目录", k选择框_创建目录}, {"单选框_复制", k单选框_复制},
      {"单选框_移动", k单选框_移动},         {"单选框_删除", k单选框_删除},         {"单选框_执行", k单选框_执行}};
  HWND rules = Control(k超级列表框2);
  for (const parity::Edit& edit : parity::Edits()) {
    if (edit.kind == parity::Edit::Click) {
      ::SendMessageW(Control(ids.at(edit.control)), BM_CLICK, 0, 0);
      continue;
    }
    ListView_SetItemState(rules, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(rules, edit.row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    if (edit.kind == parity::Edit::UntickRule) {
      ListView_SetCheckState(rules, edit.row, FALSE);
      continue;
    }
    if (edit.kind == parity::Edit::RemoveRule) {
      Command(k删除选中);
      continue;
    }
    Command(edit.kind == parity::Edit::AddRule ? k添加监控 : k修改选中);
    RuleEditor& editor = window_->Editor();
    HWND events = editor.Control(k组合框1);
    ComboBox_SetCurSel(events, ComboBox_FindStringExact(events, -1, platform::WideFromUtf8(edit.event).c_str()));
    ::SendMessageW(editor.Window(), WM_COMMAND, MAKEWPARAM(k组合框1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(events));
    SetText(editor.Control(k编辑框1), JoinPath(root, edit.path));
    ::SendMessageW(editor.Control(ids.at(edit.control)), BM_CLICK, 0, 0);
    if (!edit.target.empty()) SetText(editor.Control(k编辑框2), JoinPath(root, edit.target));
    BoxAnswerer confirm("添加提示:", IDOK);
    ::SendMessageW(editor.Control(k按钮3), BM_CLICK, 0, 0);
    EXPECT_TRUE(confirm.Answered()) << edit.event;
  }
  for (const ChangeNotification& change : parity::Changes(root)) {
    parity::MakeChange(change);
    source_->Inject({change});
    window_->Core().DrainSource();
    window_->Core().FinishPendingActions();
    window_->Turn(0);
  }
  window_.reset();
  EXPECT_EQ(parity::Record(home_, root), parity::Expected());
}

// The list goes out through the system's save dialog as the rows read, and
// a colour chosen in the system's colour dialog is kept.
TEST_F(Win32WindowTest, ExportAndColourGoThroughTheSystemsDialogs) {
  ManualClock clock(parity::SessionTime());
  clock_ = &clock;
  scripted_ = true;
  config_ = "[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n";
  Open();
  source_->Inject({{SHCNE_CREATE, JoinPath(in_, "a.txt"), std::nullopt, 0},
                   {SHCNE_DELETE, JoinPath(in_, "b.txt"), std::nullopt, 0}});
  ASSERT_TRUE(TurnUntil([&] { return Rows(k超级列表框1) == 2; }));
  // The dialog offers the day's name in the program's folder; Save takes it.
  {
    BoxAnswerer save("选择保存日志路径", IDOK);
    Command(k导出列表);
    EXPECT_TRUE(save.Answered());
    EXPECT_EQ(save.LeftOver(), "");
  }
  EXPECT_EQ(Gb18030ToUtf8(Read(JoinPath(home_, "20210801-事件.txt"))),
            "2021-08-01 13:05:09 ┃ a.txt ┃ 新建文件 ┃ " + JoinPath(in_, "a.txt") + "\r\n2021-08-01 13:05:09 ┃ b.txt ┃ 删除文件 ┃ " +
                JoinPath(in_, "b.txt") + "\r\n");

  // Red 1, green 2, blue 3 typed into the dialog's boxes for the type column.
  {
    BoxAnswerer colour("", IDOK, [](HWND box) {
      for (const auto& [id, value] : {std::pair{706, L"1"}, std::pair{707, L"2"}, std::pair{708, L"3"}})
        ::SetDlgItemTextW(box, id, value);
    });
    Command(k修改颜色 + 2);
    EXPECT_TRUE(colour.Answered());
  }
  EXPECT_NE(Config().find("类型=197121"), std::string::npos) << Config();
}

// With --console every record also goes where the standard error goes (here
// a file, as a script would give it), and a later start's quit request ends
// the program the way 退出程序 does.
TEST_F(Win32WindowTest, WithConsoleTheRecordsAlsoGoToTheStandardError) {
  std::filesystem::create_directories(PathFromUtf8(home_));
  ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"),
                                  Utf8ToGb18030(config_ + "[上次退出]\r\n未执行=2\r\n")));
  const std::string errors = JoinPath(temp_.Path(), "stderr.txt");
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE file = ::CreateFileW(platform::WideFromUtf8(errors).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherited, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::wstring line = L"\"" + platform::WideFromUtf8(VANTREL_WINDOW_EXE) + L"\" --console --home \"" +
                      platform::WideFromUtf8(home_) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = file;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
  ::CloseHandle(file);
  const std::string told = "上次退出时有 2 个事件的规则尚未执行";
  bool written = false;
  for (int i = 0; i < 1000 && !written; ++i) {
    written = Read(errors).find(told) != std::string::npos;
    if (!written) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(written) << Read(errors);
  InstanceGuard later(home_, "vantrel");
  std::string error;
  ASSERT_EQ(later.Acquire(error), InstanceGuard::Result::Running) << error;
  EXPECT_TRUE(later.Ask(InstanceGuard::Request::Quit));
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0) << "a quit request did not end it";
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

// A burst prompts for every change; the shell, another process, is asked a
// few times a second, and the last prompt is the one left showing.
TEST_F(Win32WindowTest, ABurstOfPromptsAsksTheShellAFewTimesAndEndsOnTheLast) {
  scripted_ = true;
  config_ = "[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n托盘提示=真\r\n";
  Open();
  ASSERT_TRUE(TurnUntil([&] { return window_->Tray().Added(); }, 10s)) << "no notification area";
  std::vector<ChangeNotification> burst;
  for (int i = 0; i < 2000; ++i) burst.push_back({SHCNE_CREATE, JoinPath(in_, "p" + std::to_string(i)), std::nullopt, 0});
  const unsigned long before = window_->Tray().PromptsShown();
  source_->Inject(std::move(burst));
  ASSERT_TRUE(TurnUntil([&] { return Rows(k超级列表框1) == 2000; }));
  EXPECT_TRUE(TurnUntil([&] { return window_->Tray().LastShownText().find("p1999") != std::string::npos; }, 5s))
      << window_->Tray().LastShownText();
  EXPECT_LT(window_->Tray().PromptsShown() - before, 100u);
}

// The keyboard alone: keys posted to the control with the focus, as the
// system queues them. Shift+F10 and the Menu key open the lists' menus,
// Tab walks the controls in their order, and in the editor Enter presses
// its button and Escape closes it.
// The rule list from the keyboard, the line that says what is watched, and a
// failed action that stands apart and is told.
TEST_F(Win32WindowTest, TheRuleListFromTheKeyboardAndAFailedCopyToldApart) {
  Open();
  HWND rules = Control(k超级列表框2);
  auto key = [&](WPARAM code) {
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, code, 0);
    ::PostMessageW(::GetFocus(), WM_KEYUP, code, 0);
    window_->Turn(0);
    window_->Turn(0);
  };
  EXPECT_EQ(TextOf(Control(k监控状态)).rfind("未在监控", 0), 0u) << TextOf(Control(k监控状态));
  ::SetFocus(rules);
  key(VK_RETURN);
  ASSERT_TRUE(TurnUntil([&] { return ::IsWindowVisible(window_->Editor().Window()); }, 10s))
      << "Enter on the empty list opens the editor";
  EXPECT_EQ(TextOf(window_->Editor().Window()), "添加监控");
  ::ShowWindow(window_->Editor().Window(), SW_HIDE);

  AddRule("新建文件", in_, "【复制文件】" + out_);
  EXPECT_NE(TextOf(Control(k监控状态)).find("规则中的 1 个文件夹"), std::string::npos) << TextOf(Control(k监控状态));
  ::SetFocus(Control(k超级列表框1));
  ::SetFocus(rules);
  window_->Turn(0);
  EXPECT_TRUE(ListView_GetItemState(rules, 0, LVIS_SELECTED)) << "the lone rule is selected from the keyboard";
  key(VK_SPACE);
  EXPECT_TRUE(TurnUntil([&] { return !window_->Core().Rules().Rules()[0].enabled; }, 5s)) << "Space unticks";
  key(VK_SPACE);
  EXPECT_TRUE(TurnUntil([&] { return window_->Core().Rules().Rules()[0].enabled; }, 5s));
  key(VK_RETURN);
  EXPECT_TRUE(TurnUntil([&] { return TextOf(window_->Editor().Window()) == "修改事件类型-0"; }, 10s));
  ::ShowWindow(window_->Editor().Window(), SW_HIDE);

  // The target is a file now: the copy fails, its row stands apart, and the
  // reason reaches the status line.
  std::filesystem::remove_all(PathFromUtf8(out_));
  std::ofstream(PathFromUtf8(out_), std::ios::binary) << "not a folder";
  std::ofstream(PathFromUtf8(JoinPath(in_, "坏.txt")), std::ios::binary) << "x";
  int failed = -1;
  ASSERT_TRUE(TurnUntil([&] {
    for (int row = 0; row < Rows(k超级列表框1); ++row)
      if (Cell(k超级列表框1, row, 2) == "复制文件失败") failed = row;
    return failed >= 0;
  }));
  const auto colour = window_->Core().Colours().CellColourAt(static_cast<std::size_t>(failed), 3);
  ASSERT_TRUE(colour.has_value());
  EXPECT_EQ(colour->background, EventLog::kFailedBackground);
  EXPECT_TRUE(TurnUntil([&] { return TextOf(Control(k状态栏)).find("复制文件失败") != std::string::npos; }, 5s))
      << TextOf(Control(k状态栏));

  ::SetFocus(rules);
  {
    BoxAnswerer no("提示", IDNO);
    key(VK_DELETE);
    EXPECT_TRUE(no.Answered());
  }
  EXPECT_EQ(Rows(k超级列表框2), 1) << "answered No";
  // The closed box handed the focus back to the window.
  ::SetFocus(rules);
  {
    BoxAnswerer yes("提示", IDYES);
    key(VK_DELETE);
    EXPECT_TRUE(yes.Answered());
  }
  EXPECT_EQ(Rows(k超级列表框2), 0);
  EXPECT_NE(TextOf(Control(k状态栏)).find("已删除监控:"), std::string::npos) << TextOf(Control(k状态栏));
}

TEST_F(Win32WindowTest, MenusTabOrderAndTheEditorFromTheKeyboard) {
  Open();
  AddRule("新建文件", in_, "【复制文件】" + out_);
  auto key = [&](UINT message, WPARAM code) {
    ::PostMessageW(::GetFocus(), message, code, 0);
    window_->Turn(0);
  };
  ::SetFocus(Control(k超级列表框2));
  {
    MenuWatcher menu;
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    key(WM_SYSKEYDOWN, VK_F10);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_TRUE(TurnUntil([&] { return !menu.Items().empty(); }, 10s));
    EXPECT_EQ(menu.Items(), "添加监控,修改选中,删除选中,全部开启,全部关闭,反向选中,清空监控");
  }
  ::SetFocus(Control(k超级列表框1));
  {
    MenuWatcher menu;
    key(WM_KEYDOWN, VK_APPS);
    key(WM_KEYUP, VK_APPS);
    EXPECT_TRUE(TurnUntil([&] { return !menu.Items().empty(); }, 10s));
    EXPECT_EQ(menu.Items(), "导出列表,定位目录,复制路径,撤销,修改颜色,清空列表");
  }

  ::SetFocus(Control(k选择框_创建文件));
  std::vector<int> order;
  for (int i = 0; i < 14; ++i) {
    order.push_back(::GetDlgCtrlID(::GetFocus()));
    key(WM_KEYDOWN, VK_TAB);
  }
  const std::vector<int> expected = {k选择框_创建文件, k选择框_删除文件, k选择框_重命名文件, k选择框_更新文件, k选择框_创建目录,
                                     k选择框_删除目录, k选择框_重命名目录, k选择框_全盘, k选择框_自定义, k选择框_保存日志,
                                     k选择框_托盘提示, k超级列表框2, k超级列表框1, k选择框_创建文件};
  EXPECT_EQ(order, expected);

  Command(k添加监控);
  RuleEditor& editor = window_->Editor();
  ::SetFocus(editor.Control(k编辑框1));
  {
    BoxAnswerer told("提示:", IDOK);
    key(WM_KEYDOWN, VK_RETURN);
    EXPECT_TRUE(TurnUntil([&] { return told.Answered(); }, 10s)) << "Enter did not press 添加";
  }
  EXPECT_EQ(editor.Status(), "监控路径未输入!");
  ::SetFocus(editor.Control(k编辑框1));
  key(WM_KEYDOWN, VK_ESCAPE);
  EXPECT_TRUE(TurnUntil([&] { return !::IsWindowVisible(editor.Window()); }, 5s)) << "Escape did not close the editor";
}

}  // namespace
}  // namespace vantrel::win32
