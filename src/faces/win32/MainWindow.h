#pragma once
// The main window on Win32 and common controls: the boxes of the settings,
// the rule list, the event list as a virtual list view over the engine's
// rows, their menus, the status line and the tray icon. The window is a view
// of the engine: the boxes show its settings and set them through it, the
// lists read its rule store and event list. Its loop waits on the engine's
// handles beside the window's messages and gives the engine its turns.
#include "engine/Engine.h"
#include "faces/win32/Controls.h"
#include "faces/win32/RuleEditor.h"
#include "faces/win32/TrayIcon.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::win32 {

// The controls' identifiers: the keyboard, the layout and tests reach the
// controls by them (GetDlgItem).
enum ControlId : int {
  k分组框1 = 100,
  k分组框2,
  k选择框_创建文件 = 110,
  k选择框_删除文件,
  k选择框_重命名文件,
  k选择框_更新文件,
  k选择框_创建目录,
  k选择框_删除目录,
  k选择框_重命名目录,
  k选择框_全盘 = 120,
  k选择框_自定义,
  k选择框_保存日志,
  k选择框_托盘提示,
  k超级列表框2 = 130,  // the rule list
  k超级列表框1,        // the event list
  k状态栏,
  k监控状态,  // what is watched, and the event list's rows
};

// The menus' commands (WM_COMMAND).
enum Command : int {
  k导出列表 = 1000,
  k定位目录,
  k复制路径,
  k清空列表,
  k撤销,
  k修改颜色 = 1010,  // + the index of the column's key in kColourKeys
  k添加监控 = 1020,
  k修改选中,
  k删除选中,
  k全部开启,
  k全部关闭,
  k反向选中,
  k清空监控,
  k开启提示 = 1030,
  k显示窗口,
  k退出程序,
};

class MainWindow {
 public:
  struct Options {
    // The program's folder (ChooseProgramDir).
    std::string home;
    WatchBackend backend = WatchBackend::Auto;
    // Tests give a source of their own; otherwise the backend decides.
    Engine::SourceFactory sourceFactory;
    // Every record also to the console.
    bool console = false;
    const Clock* clock = &Clock::System();
    // Where the program's files went, when that is news (ChooseProgramDir).
    std::string startNotice = {};
  };
  // A later start's requests, from the one-copy guard.
  struct Requests {
    HANDLE comeForward = nullptr, quit = nullptr, reload = nullptr;
    // Reads what else came after comeForward was raised.
    std::function<bool()> takeComeForward;
  };

  explicit MainWindow(Options options);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Makes the window, starts the engine and shows the window as show says;
  // false, after telling why, when the program must end.
  bool Create(int show);
  void SetRequests(Requests requests) { requests_ = std::move(requests); }
  // One pass of the loop: waits at most maxWaitMs for a message, one of the
  // engine's handles or a request, and handles what came, the engine's turn
  // included. False once the window is gone.
  bool Turn(DWORD maxWaitMs = INFINITE);
  // Turns until the window is gone; the exit code.
  int Run();

  HWND Window() const { return window_; }
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }
  Engine& Core() { return *engine_; }
  TrayIcon& Tray() { return tray_; }
  // The status line's text and whether it tells a failure; for tests.
  const std::string& StatusText() const { return status_; }
  // How often a later start asked the window forward; for tests.
  int ComeForwardCount() const { return comeForwardCount_; }
  bool StatusIsError() const { return statusError_; }

  void ShowMainWindow();
  // A later start asked: a visible window comes forward, a hidden one stays.
  void ComeForward();
  // "退出程序": the size is saved and the window ends without asking.
  void QuitProgram();
  // A prompt that follows the user's own command: the status line and a balloon.
  void TellUser(const std::string& title, const std::string& text, bool error);

  // "添加监控" and "修改选中": the editor window, made on first use.
  void OpenRuleEditorForAdd();
  void OpenRuleEditorForModify();
  RuleEditor& Editor();

 private:
  template <typename T>
  friend LRESULT CALLBACK ObjectProc(HWND, UINT, WPARAM, LPARAM);
  void Attach(HWND window) { window_ = window; }
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void BuildMenus();
  void ApplyFont();
  void ShowSettings();
  void OnBoxClicked(int id);
  void OnCommand(int id);
  LRESULT OnNotify(NMHDR* header);
  LRESULT DrawEventCell(NMLVCUSTOMDRAW* draw);
  void OnContextMenu(HWND control, LPARAM at);
  void OnPrompt(const std::string& title, const std::string& text, PromptKind kind);
  void RefillRules();
  // The event list's item count follows the engine's rows; the view stays
  // at the bottom only where the user left it there.
  void SyncEventList();
  // The line that says what is watched, again (rules or settings changed),
  // and the rows' count with those waiting below.
  void ShowWatched();
  void ShowRows();
  void RemoveRuleAsked();
  // 撤销 on the selected action row (its menu, Ctrl+Z).
  void TakeBackSelectedRow();
  bool SelectFocusedRule();
  // Enter on the rule list: the editor, for the current rule or a first one.
  void OnRuleListEnter();
  LRESULT DrawRuleCell(NMLVCUSTOMDRAW* draw);
  void EngineTurn();
  void ApplyLayout();
  void PlaceMainWindow(const std::string& saved);
  void SaveWindowSize();
  void OnWindowDestroy();
  int SelectedRow(int listId) const;
  void ExportEventList();
  void OpenEventFolder();
  void CopyEventPath();
  void ClearEventList();
  double Scale() const { return dpi_ / 96.0; }

  Options options_;
  std::unique_ptr<Engine> engine_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  HIMAGELIST rowHeights_ = nullptr;
  HMENU 右键菜单 = nullptr;
  HMENU 列表右键 = nullptr;
  HMENU 托盘右键 = nullptr;
  UINT dpi_ = 96;
  TrayIcon tray_;
  std::unique_ptr<RuleEditor> editor_;
  Requests requests_;
  std::string status_;
  bool statusError_ = false;
  // A failed action's word waits for the next frame of the list.
  bool statusDirty_ = false;
  std::string watched_;
  std::string rowsShown_;
  bool more_ = false;
  bool inTurn_ = false;
  bool rowsDirty_ = false;
  bool fillingRules_ = false;
  bool quitting_ = false;
  bool destroyed_ = false;
  bool postQuit_ = true;
  int exitCode_ = 0;
  int comeForwardCount_ = 0;
  std::size_t shownRows_ = 0;
  DWORD lastListSync_ = 0;
  DWORD appsMenuClosedAt_ = 0;
  // The client area's size in design pixels while the window was last
  // neither minimised nor hidden: what the size key keeps.
  int designWidth_ = 0, designHeight_ = 0;
};

}  // namespace vantrel::win32
