#include "faces/win32/MainWindow.h"

#include "faces/shared/FaceTexts.h"
#include "faces/shared/WindowLayout.h"
#include "faces/win32/Controls.h"
#include "log/EventLog.h"
#include "log/FormatTime.h"
#include "platform/windows/Wide.h"
#include "text/Codec.h"
#include "text/TextRules.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace vantrel::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VantrelMainWindow";
constexpr int kRowHeight = 26, kBoxWidth = 104, kBoxHeight = 24;
// Rows come in bursts: the list's count follows at most this often.
constexpr UINT kListFrameMs = 100;
// A keyboard context menu this soon after the Menu key's own menu closed is
// that key's release.
constexpr DWORD kAppsKeyEchoMs = 300;
// While a menu or a dialog runs its own loop, the engine gets its turns
// from this timer.
constexpr UINT_PTR kEngineTimer = 1, kListTimer = 2;
constexpr UINT kEngineTimerMs = 50;

// The children the layout keeps in proportion, at the design size (client
// pixels at 96 DPI); the check boxes are placed inside their group boxes.
struct DesignChild {
  int id;
  LayoutRect at;
};
constexpr DesignChild kDesignChildren[] = {
    {k分组框1, {8, 8, 490, 80}},       {k分组框2, {507, 8, 495, 80}},    {k超级列表框2, {8, 96, 994, 176}},
    {k超级列表框1, {8, 276, 994, 492}}, {k状态栏, {8, 772, 560, 22}},
    {k监控状态, {572, 772, 430, 22}},
};

// The type boxes in the order of the engine's TypeBox.
constexpr int kTypeBoxIds[] = {k选择框_创建文件, k选择框_重命名文件, k选择框_更新文件, k选择框_删除目录,
                               k选择框_创建目录, k选择框_删除文件, k选择框_重命名目录};

struct BoxCaption {
  int id;
  const char* caption;
};
constexpr BoxCaption kBoxes[] = {
    {k选择框_创建文件, "新建文件"}, {k选择框_删除文件, "删除文件"}, {k选择框_重命名文件, "重命名文件"},
    {k选择框_更新文件, "更新文件"}, {k选择框_创建目录, "新建目录"}, {k选择框_删除目录, "删除目录"},
    {k选择框_重命名目录, "重命名目录"}, {k选择框_全盘, "全盘监控"},   {k选择框_自定义, "自定义路径"},
    {k选择框_保存日志, "保存日志"}, {k选择框_托盘提示, "托盘提示"},
};

bool Checked(HWND box) { return Button_GetCheck(box) == BST_CHECKED; }

void AppendItem(HMENU menu, int command, const char* text) {
  ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), platform::WideFromUtf8(text).c_str());
}

void AddColumns(HWND list, const char* const* titles, const int* widths, int count, UINT dpi) {
  for (int i = 0; i < count; ++i) {
    std::wstring title = platform::WideFromUtf8(titles[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = Scaled(widths[i], dpi);
    column.pszText = title.data();
    ListView_InsertColumn(list, i, &column);
  }
}

// The last column takes what the others leave of the list's width.
void FillLastColumn(HWND list, int columns) {
  ListView_SetColumnWidth(list, columns - 1, LVSCW_AUTOSIZE_USEHEADER);
}

}  // namespace

MainWindow::MainWindow(Options options) : options_(std::move(options)) {
  Engine::Options engine;
  engine.home = options_.home;
  engine.backend = options_.backend;
  engine.console = options_.console;
  engine.sourceFactory = options_.sourceFactory;
  engine.clock = options_.clock;
  engine.startNotice = options_.startNotice;
  EngineFace face;
  face.rowsAppended = [this] { rowsDirty_ = true; };
  face.rowsRecoloured = [this] {
    if (HWND list = Control(k超级列表框1)) ::InvalidateRect(list, nullptr, FALSE);
  };
  face.prompt = [this](const std::string& title, const std::string& text, PromptKind kind) { OnPrompt(title, text, kind); };
  face.ask = [this](const std::string& caption, const std::string& question, bool) {
    return Ask(window_, caption, question);
  };
  face.settingsChanged = [this] {
    ShowSettings();
    ShowWatched();
  };
  engine_ = std::make_unique<Engine>(std::move(engine), std::move(face));
}

MainWindow::~MainWindow() {
  // Gone with its owner, the window leaves no quit behind for a later loop.
  postQuit_ = false;
  editor_.reset();
  if (window_) ::DestroyWindow(window_);
  OnWindowDestroy();
  if (font_) ::DeleteObject(font_);
  if (rowHeights_) ImageList_Destroy(rowHeights_);
  for (HMENU menu : {右键菜单, 列表右键, 托盘右键})
    if (menu) ::DestroyMenu(menu);
}

bool MainWindow::Create(int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HICON icon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!icon) icon = ::LoadIconW(nullptr, IDI_APPLICATION);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &ObjectProc<MainWindow>;
  windowClass.hInstance = instance;
  windowClass.hIcon = icon;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = WornPalette().windowBrush;
  windowClass.lpszClassName = kClassName;
  ::RegisterClassExW(&windowClass);
  window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"Vantrel", WS_OVERLAPPEDWINDOW, 50,
                              50, kDesignWidth, kDesignHeight, nullptr, nullptr, instance, this);
  if (!window_) return false;
  dpi_ = WindowDpi(window_);
  BuildControls();
  BuildMenus();
  // The rules are few: the list is filled again whenever one changes.
  RuleStore::Observer observer;
  observer.inserted = [this](std::size_t, std::size_t) { RefillRules(); };
  observer.removed = [this](std::size_t) { RefillRules(); };
  observer.reset = [this] { RefillRules(); };
  observer.rowChanged = [this](std::size_t) { RefillRules(); };
  engine_->Rules().SetObserver(std::move(observer));

  std::string error;
  if (!engine_->StartSource(error)) {
    Tell(window_, "提示:", "注册shell监视函数失败！\n" + error, MB_ICONERROR);
    return false;
  }
  engine_->Colours().SetRowHeight(kRowHeight);
  tray_.Add(window_, icon, "Vantrel");
  // Loading the rules fills the list (the store's reset).
  engine_->Start();
  // The design's client size first, then the saved one.
  RECT frame{0, 0, Scaled(kDesignWidth, dpi_), Scaled(kDesignHeight, dpi_)};
  ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceMainWindow(engine_->SettingsFile().WindowSize());
  ::ShowWindow(window_, show == SW_SHOWMAXIMIZED || ::IsZoomed(window_) ? SW_SHOWMAXIMIZED : show);
  ApplyLayout();
  ::SetTimer(window_, kEngineTimer, kEngineTimerMs, nullptr);
  return true;
}

void MainWindow::BuildControls() {
  MakeControl(window_, WC_BUTTONW, "全局事件类型", BS_GROUPBOX | WS_CLIPSIBLINGS, k分组框1);
  MakeControl(window_, WC_BUTTONW, "监控设置", BS_GROUPBOX | WS_CLIPSIBLINGS, k分组框2);
  for (const BoxCaption& box : kBoxes) MakeControl(window_, WC_BUTTONW, box.caption, BS_AUTOCHECKBOX | WS_TABSTOP, box.id);

  HWND rules = MakeControl(window_, WC_LISTVIEWW, "",
                           LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_TABSTOP | WS_BORDER, k超级列表框2);
  ListView_SetExtendedListViewStyle(rules, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  AddColumns(rules, kRuleColumnTitles, kRuleColumnWidths, 3, dpi_);

  // A virtual list: the rows stay in the engine's list, however many.
  HWND events = MakeControl(window_, WC_LISTVIEWW, "",
                            LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_TABSTOP | WS_BORDER,
                            k超级列表框1);
  ListView_SetExtendedListViewStyle(events, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (HWND list : {rules, events}) {
    ListView_SetBkColor(list, WornPalette().base);
    ListView_SetTextBkColor(list, WornPalette().base);
    ListView_SetTextColor(list, WornPalette().text);
  }
  AddColumns(events, kEventColumnTitles, kEventColumnWidths, 4, dpi_);
  MakeControl(window_, WC_STATICW, "", SS_LEFTNOWORDWRAP | SS_NOPREFIX, k状态栏);
  MakeControl(window_, WC_STATICW, "", SS_RIGHT | SS_NOPREFIX, k监控状态);
  ApplyFont();
}

void MainWindow::ApplyFont() {
  if (font_) ::DeleteObject(font_);
  font_ = MakeUiFont(dpi_);
  for (HWND child = ::GetWindow(window_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  // Rows as tall as the design's: a list view takes its row height from
  // its small image list.
  if (rowHeights_) ImageList_Destroy(rowHeights_);
  rowHeights_ = ImageList_Create(1, Scaled(kRowHeight, dpi_), ILC_COLOR32, 1, 0);
  for (int id : {k超级列表框1, k超级列表框2}) ListView_SetImageList(Control(id), rowHeights_, LVSIL_SMALL);
}

void MainWindow::BuildMenus() {
  右键菜单 = ::CreatePopupMenu();
  AppendItem(右键菜单, k导出列表, "导出列表");
  AppendItem(右键菜单, k定位目录, "定位目录");
  AppendItem(右键菜单, k复制路径, "复制路径");
  AppendItem(右键菜单, k撤销, "撤销");
  HMENU colours = ::CreatePopupMenu();
  for (int i = 0; i < static_cast<int>(std::size(kColourKeys)); ++i) AppendItem(colours, k修改颜色 + i, kColourKeys[i]);
  ::AppendMenuW(右键菜单, MF_POPUP, reinterpret_cast<UINT_PTR>(colours), L"修改颜色");
  AppendItem(右键菜单, k清空列表, "清空列表");

  列表右键 = ::CreatePopupMenu();
  AppendItem(列表右键, k添加监控, "添加监控");
  AppendItem(列表右键, k修改选中, "修改选中");
  AppendItem(列表右键, k删除选中, "删除选中");
  AppendItem(列表右键, k全部开启, "全部开启");
  AppendItem(列表右键, k全部关闭, "全部关闭");
  AppendItem(列表右键, k反向选中, "反向选中");
  AppendItem(列表右键, k清空监控, "清空监控");

  托盘右键 = ::CreatePopupMenu();
  AppendItem(托盘右键, k开启提示, "开启提示");
  AppendItem(托盘右键, k显示窗口, "显示窗口");
  AppendItem(托盘右键, k退出程序, "退出程序");
}

void MainWindow::ShowSettings() {
  if (!window_) return;
  const Settings& s = engine_->CurrentSettings();
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i)
    Button_SetCheck(Control(kTypeBoxIds[i]), s.types[i] ? BST_CHECKED : BST_UNCHECKED);
  Button_SetCheck(Control(k选择框_全盘), s.wholeDisk ? BST_CHECKED : BST_UNCHECKED);
  Button_SetCheck(Control(k选择框_自定义), s.customPath ? BST_CHECKED : BST_UNCHECKED);
  Button_SetCheck(Control(k选择框_保存日志), s.saveLog ? BST_CHECKED : BST_UNCHECKED);
  Button_SetCheck(Control(k选择框_托盘提示), s.prompts ? BST_CHECKED : BST_UNCHECKED);
  // The item offers the opposite of the current state.
  ::ModifyMenuW(托盘右键, k开启提示, MF_BYCOMMAND | MF_STRING, k开启提示, s.prompts ? L"关闭提示" : L"开启提示");
}

void MainWindow::OnBoxClicked(int id) {
  const bool on = Checked(Control(id));
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i)
    if (kTypeBoxIds[i] == id) return engine_->SetType(static_cast<DispatchHost::TypeBox>(i), on);
  switch (id) {
    case k选择框_全盘:
      engine_->SetWholeDisk(on);
      if (editor_) editor_->SetWholeDiskMode(on);
      return ShowWatched();
    case k选择框_自定义:
      engine_->SetCustomPath(on);
      if (editor_) editor_->SetWholeDiskMode(!on);
      return ShowWatched();
    case k选择框_保存日志:
      return engine_->SetSaveLog(on);
    case k选择框_托盘提示:
      engine_->SetPrompts(on);
      return ShowSettings();
  }
}

// The loop.

bool MainWindow::Turn(DWORD maxWaitMs) {
  if (!window_) return false;
  std::vector<HANDLE> handles;
  for (HANDLE h : {requests_.comeForward, requests_.quit, requests_.reload})
    if (h) handles.push_back(h);
  const std::size_t requestCount = handles.size();
  for (platform::WaitHandle h : engine_->WakeFds()) handles.push_back(h);
  DWORD timeout = maxWaitMs;
  if (more_) {
    timeout = 0;
  } else if (auto wait = engine_->NextDeadline()) {
    timeout = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(wait->count(), timeout));
  }
  if (rowsDirty_) timeout = std::min<DWORD>(timeout, kListFrameMs - std::min<DWORD>(kListFrameMs, ::GetTickCount() - lastListSync_));
  timeout = std::min<DWORD>(timeout, tray_.FlushPrompt());
  timeout = std::min<DWORD>(timeout, tray_.KeepAdded());
  const DWORD woke = ::MsgWaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(), timeout,
                                                   QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // The requests are auto-reset events: the one the wait woke on counts as
  // raised besides any still raised.
  auto raised = [&](HANDLE h) {
    if (!h) return false;
    const auto at = std::find(handles.begin(), handles.begin() + static_cast<std::ptrdiff_t>(requestCount), h);
    return woke == WAIT_OBJECT_0 + static_cast<DWORD>(at - handles.begin()) || ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  };
  if (raised(requests_.quit)) QuitProgram();
  if (window_ && raised(requests_.reload)) engine_->Reload();
  // The wait (or raised) has taken the event; what else waits is read too.
  if (window_ && raised(requests_.comeForward)) {
    if (requests_.takeComeForward) requests_.takeComeForward();
    ComeForward();
  }
  MSG message;
  while (window_ && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      exitCode_ = static_cast<int>(message.wParam);
      return false;
    }
    // Tab, the arrows and the mnemonics move between the controls; Enter
    // and Escape in the editor press its buttons.
    HWND editor = editor_ ? editor_->Window() : nullptr;
    if (editor && (message.hwnd == editor || ::IsChild(editor, message.hwnd)) && ::IsDialogMessageW(editor, &message))
      continue;
    if (::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (!window_) return false;
  EngineTurn();
  return window_ != nullptr;
}

int MainWindow::Run() {
  for (;;) {
    try {
      if (!Turn()) return exitCode_;
    } catch (...) {
      ShowCaughtError();
    }
  }
}

void MainWindow::EngineTurn() {
  // A question the engine asks runs a loop of its own, whose timer would
  // call in here again.
  if (inTurn_ || destroyed_) return;
  {
    // Put back even when the turn throws, or the engine would never turn again.
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{inTurn_};
    inTurn_ = true;
    more_ = engine_->Work();
  }
  SyncEventList();
  // Also while a box's or a menu's own loop runs.
  tray_.FlushPrompt();
}

void MainWindow::SyncEventList() {
  if (!window_) return;
  if (statusDirty_) {
    statusDirty_ = false;
    if (HWND line = Control(k状态栏)) {
      SetText(line, status_);
      ::InvalidateRect(line, nullptr, TRUE);
    }
  }
  const std::size_t count = engine_->Events().RowCount();
  if (count == shownRows_ && !rowsDirty_) return;
  // A burst appends thousands of rows a second; the list follows once a
  // frame. A cleared list (fewer rows) follows at once.
  const DWORD now = ::GetTickCount();
  if (count >= shownRows_ && shownRows_ > 0 && now - lastListSync_ < kListFrameMs) return;
  lastListSync_ = now;
  rowsDirty_ = false;
  HWND list = Control(k超级列表框1);
  const int top = ListView_GetTopIndex(list), page = ListView_GetCountPerPage(list);
  const bool atBottom = shownRows_ == 0 || static_cast<std::size_t>(top + page) >= shownRows_;
  // Without drawing while the count and the scroll position change: each
  // would otherwise redraw the list and its scroll bar on its own.
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_SetItemCountEx(list, static_cast<int>(count), count < shownRows_ ? 0 : LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  shownRows_ = count;
  if (atBottom && count > 0) ListView_EnsureVisible(list, static_cast<int>(count - 1), FALSE);
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, FALSE);
  ShowRows();
}

void MainWindow::ShowWatched() {
  if (!window_) return;
  watched_ = WatchedText(*engine_);
  rowsShown_.clear();
  ShowRows();
}

void MainWindow::ShowRows() {
  HWND line = Control(k监控状态), list = Control(k超级列表框1);
  if (!line || !list) return;
  // What lies below the last row in view is what the user has not seen.
  const std::size_t seen = static_cast<std::size_t>(ListView_GetTopIndex(list) + ListView_GetCountPerPage(list));
  const std::string text = watched_ + "  |  " + RowsText(shownRows_, seen < shownRows_ ? shownRows_ - seen : 0);
  if (text == rowsShown_) return;
  rowsShown_ = text;
  SetText(line, text);
  ::InvalidateRect(line, nullptr, TRUE);
}

void MainWindow::TakeBackSelectedRow() {
  const int row = SelectedRow(k超级列表框1);
  if (row < 0) return TellUser("提示:", "未选中需要撤销的操作!", false);
  const TakeBackResult result = engine_->TakeBackRow(static_cast<std::size_t>(row));
  TellUser(result.done ? "撤销:" : "提示:", result.text, !result.done);
}

void MainWindow::RemoveRuleAsked() {
  const int row = SelectedRow(k超级列表框2);
  if (row < 0) return;
  RuleStore& rules = engine_->Rules();
  if (Ask(window_, "提示", RemoveRuleQuestion(rules.Rules()[static_cast<std::size_t>(row)])))
    rules.Remove(static_cast<std::size_t>(row));
}

// Messages.

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == TrayIcon::TaskbarCreatedMessage() && message != 0) {
    // The shell started again and forgot every icon.
    tray_.AddAgain();
    return 0;
  }
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == BN_CLICKED && id >= k选择框_创建文件 && id <= k选择框_托盘提示 && lParam) {
        OnBoxClicked(id);
      } else if (!lParam) {
        OnCommand(id);
      }
      return 0;
    }
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CONTEXTMENU:
      if (lParam != -1 || ::GetTickCount() - appsMenuClosedAt_ > kAppsKeyEchoMs)
        OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {
        // Hidden only while the tray icon can bring it back.
        if (tray_.Added()) ::ShowWindow(window_, SW_HIDE);
        return 0;
      }
      ApplyLayout();
      return 0;
    case WM_GETMINMAXINFO: {
      // Below the design size the lists give up room; below this, nothing
      // would stay readable.
      RECT frame{0, 0, Scaled(kReadableWidth, dpi_), Scaled(kReadableHeight, dpi_)};
      ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
      return 0;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      ApplyFont();
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const bool error = statusError_ && reinterpret_cast<HWND>(lParam) == Control(k状态栏);
      return OnSkinGround(wParam, error ? RGB(192, 0, 0) : WornPalette().windowText);
    }
    case WM_TIMER:
      if (wParam == kEngineTimer) EngineTurn();
      return 0;
    case TrayIcon::kCallback:
      if (LOWORD(lParam) == WM_LBUTTONDOWN) {
        ShowMainWindow();
      } else if (LOWORD(lParam) == WM_RBUTTONDOWN || LOWORD(lParam) == WM_CONTEXTMENU) {
        POINT at;
        ::GetCursorPos(&at);
        // The menu closes when the user clicks elsewhere only if the window
        // is in front while it shows.
        ::SetForegroundWindow(window_);
        ::TrackPopupMenu(托盘右键, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
        ::PostMessageW(window_, WM_NULL, 0, 0);
      }
      return 0;
    case WM_CLOSE:
      if (quitting_ || Ask(window_, "提示:", "是否要退出程序?")) {
        SaveWindowSize();
        ::DestroyWindow(window_);
      }
      return 0;
    case WM_DESTROY:
      OnWindowDestroy();
      if (postQuit_) ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT MainWindow::OnNotify(NMHDR* header) {
  // The Menu key: not every system turns it into a context menu of the
  // control that has the focus, so the lists do it themselves; the one the
  // system may make of the same key's release is then passed over.
  if ((header->idFrom == k超级列表框1 || header->idFrom == k超级列表框2) && header->code == LVN_KEYDOWN &&
      reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_APPS) {
    OnContextMenu(header->hwndFrom, -1);
    appsMenuClosedAt_ = ::GetTickCount();
    return 0;
  }
  if (header->idFrom == k超级列表框1) {
    switch (header->code) {
      case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == 'Z' && ::GetKeyState(VK_CONTROL) < 0)
          TakeBackSelectedRow();
        return 0;
      case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
        const EventList& rows = engine_->Events();
        if ((item.mask & LVIF_TEXT) && item.cchTextMax > 0 && item.iItem >= 0 &&
            static_cast<std::size_t>(item.iItem) < rows.RowCount()) {
          const std::wstring text =
              platform::WideFromUtf8(ReadableText(rows.Cell(static_cast<std::size_t>(item.iItem), item.iSubItem)));
          ::lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
        }
        return 0;
      }
      case NM_CUSTOMDRAW:
        return DrawEventCell(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
    }
    return 0;
  }
  if (header->idFrom == k超级列表框2) {
    const bool empty = engine_->Rules().Rules().empty();
    auto selectFocused = [this] { return SelectFocusedRule(); };
    switch (header->code) {
      case NM_SETFOCUS:
        if (SelectedRow(k超级列表框2) < 0 && ::GetKeyState(VK_LBUTTON) >= 0) selectFocused();
        return 0;
      case NM_RETURN:
        OnRuleListEnter();
        return 0;
      case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_DELETE && selectFocused()) RemoveRuleAsked();
        return 0;
      case NM_DBLCLK:
        // A double click on a rule opens it; on the empty list, the editor
        // for the first one.
        if (empty) {
          OpenRuleEditorForAdd();
        } else if (SelectedRow(k超级列表框2) >= 0) {
          OpenRuleEditorForModify();
        }
        return 0;
      case NM_CUSTOMDRAW:
        return DrawRuleCell(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
    }
  }
  if (header->idFrom == k超级列表框2 && header->code == LVN_ITEMCHANGED && !fillingRules_) {
    const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
    const UINT was = change->uOldState & LVIS_STATEIMAGEMASK, now = change->uNewState & LVIS_STATEIMAGEMASK;
    // The user's tick; the store may take it back (a global-path rule in
    // custom-path mode), and the list then shows what it kept.
    if ((change->uChanged & LVIF_STATE) && was && now && was != now && change->iItem >= 0)
      engine_->Rules().SetEnabledByUser(static_cast<std::size_t>(change->iItem), now == INDEXTOSTATEIMAGEMASK(2));
  }
  return 0;
}

LRESULT MainWindow::DrawEventCell(NMLVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const auto colour = engine_->Colours().CellColourAt(draw->nmcd.dwItemSpec, draw->iSubItem);
      // Stored as COLORREF values, as the settings file has always kept them.
      draw->clrText = colour ? colour->text : ::GetSysColor(COLOR_WINDOWTEXT);
      draw->clrTextBk = colour ? colour->background : ::GetSysColor(COLOR_WINDOW);
      return CDRF_NEWFONT;
    }
  }
  return CDRF_DODEFAULT;
}

bool MainWindow::SelectFocusedRule() {
  // The focused rule, selected: a lone rule is focused by nobody until then,
  // and Space, Delete and Enter act on the selected one.
  HWND list = Control(k超级列表框2);
  if (engine_->Rules().Rules().empty()) return false;
  int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
  if (row < 0) row = std::max(SelectedRow(k超级列表框2), 0);
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  return true;
}

void MainWindow::OnRuleListEnter() {
  if (engine_->Rules().Rules().empty()) return OpenRuleEditorForAdd();
  if (SelectFocusedRule()) OpenRuleEditorForModify();
}

LRESULT MainWindow::DrawRuleCell(NMLVCUSTOMDRAW* draw) {
  const RuleList& rules = engine_->Rules().Rules();
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPREPAINT:
      // A rule that can never act is kept as it was read, and drawn apart.
      if (draw->nmcd.dwItemSpec < rules.size() && WhyRuleNeverActs(rules[draw->nmcd.dwItemSpec])) {
        draw->clrText = RGB(0xB0, 0x30, 0x30);
        return CDRF_NEWFONT;
      }
      return CDRF_DODEFAULT;
    case CDDS_POSTPAINT:
      if (rules.empty()) {
        // The way to the first rule, in sight where the rules will be.
        RECT area;
        ::GetClientRect(draw->nmcd.hdr.hwndFrom, &area);
        RECT header{};
        ::GetWindowRect(ListView_GetHeader(draw->nmcd.hdr.hwndFrom), &header);
        area.top += header.bottom - header.top;
        ::InflateRect(&area, -Scaled(24, dpi_), -Scaled(8, dpi_));
        const std::wstring hint = platform::WideFromUtf8(kEmptyRulesHint);
        ::SetBkMode(draw->nmcd.hdc, TRANSPARENT);
        ::SetTextColor(draw->nmcd.hdc, ::GetSysColor(COLOR_GRAYTEXT));
        HGDIOBJ was = ::SelectObject(draw->nmcd.hdc, font_);
        RECT measured = area;
        ::DrawTextW(draw->nmcd.hdc, hint.c_str(), -1, &measured, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
        const int height = measured.bottom - measured.top;
        area.top += std::max(0L, (area.bottom - area.top - height) / 2);
        ::DrawTextW(draw->nmcd.hdc, hint.c_str(), -1, &area, DT_CENTER | DT_WORDBREAK);
        ::SelectObject(draw->nmcd.hdc, was);
      }
      return CDRF_DODEFAULT;
  }
  return CDRF_DODEFAULT;
}

void MainWindow::OnContextMenu(HWND control, LPARAM at) {
  const int id = ::GetDlgCtrlID(control);
  if (id != k超级列表框1 && id != k超级列表框2) return;
  POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
  const int selected = SelectedRow(id);
  if (at == -1) {
    // From the keyboard (Shift+F10, the Menu key): by the selected row, or
    // the list's corner.
    RECT place{};
    if (selected >= 0 && ListView_GetItemRect(control, selected, &place, LVIR_LABEL)) {
      point = {place.left, place.bottom};
    } else {
      point = {Scaled(8, dpi_), Scaled(24, dpi_)};
    }
    ::ClientToScreen(control, &point);
  }
  HMENU menu = id == k超级列表框1 ? 右键菜单 : 列表右键;
  // Commands that need a selected row are offered only with one.
  const UINT needsRow = MF_BYCOMMAND | (selected >= 0 ? MF_ENABLED : MF_GRAYED);
  if (id == k超级列表框1) {
    ::EnableMenuItem(menu, k定位目录, needsRow);
    ::EnableMenuItem(menu, k复制路径, needsRow);
    const bool undoable = selected >= 0 && engine_->CanTakeBack(static_cast<std::size_t>(selected));
    ::EnableMenuItem(menu, k撤销, MF_BYCOMMAND | (undoable ? MF_ENABLED : MF_GRAYED));
  } else {
    ::EnableMenuItem(menu, k修改选中, needsRow);
    ::EnableMenuItem(menu, k删除选中, needsRow);
  }
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, window_, nullptr);
}

void MainWindow::OnCommand(int id) {
  RuleStore& rules = engine_->Rules();
  if (id >= k修改颜色 && id < k修改颜色 + static_cast<int>(std::size(kColourKeys))) {
    if (std::optional<COLORREF> colour = ChooseColour(window_)) engine_->SetColour(kColourKeys[id - k修改颜色], *colour);
    return;
  }
  switch (id) {
    case IDOK:
      // Enter, which the dialog manager takes from the list for itself.
      if (::GetFocus() == Control(k超级列表框2)) OnRuleListEnter();
      return;
    case k导出列表:
      return ExportEventList();
    case k定位目录:
      return OpenEventFolder();
    case k复制路径:
      return CopyEventPath();
    case k清空列表:
      return ClearEventList();
    case k撤销:
      return TakeBackSelectedRow();
    case k添加监控:
      return OpenRuleEditorForAdd();
    case k修改选中:
      return OpenRuleEditorForModify();
    case k删除选中:
      if (int row = SelectedRow(k超级列表框2); row >= 0) rules.Remove(static_cast<std::size_t>(row));
      return;
    case k全部开启:
      return rules.EnableAll();
    case k全部关闭:
      return rules.DisableAll();
    case k反向选中:
      return rules.InvertAll();
    case k清空监控:
      return rules.ClearAll();
    case k开启提示: {
      HWND box = Control(k选择框_托盘提示);
      Button_SetCheck(box, Checked(box) ? BST_UNCHECKED : BST_CHECKED);
      return OnBoxClicked(k选择框_托盘提示);
    }
    case k显示窗口:
      return ShowMainWindow();
    case k退出程序:
      return QuitProgram();
  }
}

void MainWindow::RefillRules() {
  HWND list = Control(k超级列表框2);
  if (!list) return;
  const int selected = SelectedRow(k超级列表框2);
  fillingRules_ = true;
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  const RuleList& rules = engine_->Rules().Rules();
  for (std::size_t i = 0; i < rules.size(); ++i) {
    const int row = static_cast<int>(i);
    std::wstring cells[3] = {platform::WideFromUtf8(rules[i].eventName), platform::WideFromUtf8(ShownRulePath(rules[i])),
                             platform::WideFromUtf8(ShownAction(rules[i].actionText))};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = cells[0].data();
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, row, 1, cells[1].data());
    ListView_SetItemText(list, row, 2, cells[2].data());
    ListView_SetCheckState(list, row, rules[i].enabled);
  }
  if (selected >= 0 && static_cast<std::size_t>(selected) < rules.size())
    ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
  fillingRules_ = false;
  ShowWatched();
}

int MainWindow::SelectedRow(int listId) const {
  return ListView_GetNextItem(Control(listId), -1, LVNI_SELECTED);
}

// Prompts.

void MainWindow::OnPrompt(const std::string& title, const std::string& text, PromptKind kind) {
  if (kind == PromptKind::Event) {
    tray_.ShowPrompt(title, text, TrayIcon::Info);
  } else if (kind == PromptKind::ActionFailed) {
    // A burst of failures: the line and the balloon show the latest, the
    // balloon no more often than the tray coalesces it.
    status_ = OneLineText(title + " " + text);
    statusError_ = true;
    statusDirty_ = true;
    tray_.ShowPrompt(title, text, TrayIcon::Error);
  } else {
    TellUser(title, text, kind == PromptKind::Error);
  }
}

void MainWindow::TellUser(const std::string& title, const std::string& text, bool error) {
  status_ = OneLineText(title + " " + text);
  statusError_ = error;
  if (HWND line = Control(k状态栏)) {
    SetText(line, status_);
    ::InvalidateRect(line, nullptr, TRUE);
  }
  // Commands given in the editor are answered where the user looks.
  if (editor_ && ::IsWindowVisible(editor_->Window())) editor_->ShowStatus(OneLineText(title + " " + text), error);
  tray_.ShowPrompt(title, text, error ? TrayIcon::Error : TrayIcon::Info);
}

// The rule editor.

RuleEditor& MainWindow::Editor() {
  if (!editor_) {
    RuleEditor::Host host;
    host.prompt = [this](const std::string& title, const std::string& text) { TellUser(title, text, false); };
    host.rules = &engine_->Rules();
    host.listed = [this] { return ListedChanges(engine_->Events()); };
    editor_ = std::make_unique<RuleEditor>(std::move(host), window_, font_, engine_->CurrentSettings().wholeDisk);
  }
  return *editor_;
}

void MainWindow::OpenRuleEditorForAdd() { Editor().OpenForAdd(); }

void MainWindow::OpenRuleEditorForModify() {
  const int row = SelectedRow(k超级列表框2);
  if (row < 0) return TellUser("提示:", "未选中需要修改项!", false);
  Editor().OpenForModify(static_cast<std::size_t>(row), engine_->Rules().Rules()[static_cast<std::size_t>(row)]);
}

// The event list's menu.

void MainWindow::ExportEventList() {
  SaveRequest request;
  request.title = "选择保存日志路径";
  request.defaultName = FormatTime(options_.clock->Local(), 3, 1, 2) + "-事件.txt";
  request.filter = "文本文件(*.txt)|*.txt";
  request.initialDirectory = engine_->Home();
  request.defaultExtension = ".txt";
  const std::string path = AskSavePath(window_, request);
  if (path.empty()) return;
  std::string why;
  if (!engine_->ExportList(path, why)) {
    // A silent failure would look like a saved list.
    TellUser("提示:", "导出列表失败: " + path + " (" + why + ")", true);
    return;
  }
  TellUser("提示:", "已导出 " + std::to_string(engine_->Events().RowCount()) + " 行到 " + path, false);
}

void MainWindow::OpenEventFolder() {
  const int row = SelectedRow(k超级列表框1);
  if (row < 0) return TellUser("提示:", "未选中需要定位项!", false);
  const std::wstring folder = platform::WideFromUtf8(RowFolder(engine_->Events(), static_cast<std::size_t>(row)));
  ::ShellExecuteW(window_, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void MainWindow::CopyEventPath() {
  const int row = SelectedRow(k超级列表框1);
  if (row < 0) return TellUser("提示:", "未选中需要复制项!", false);
  const std::wstring path =
      platform::WideFromUtf8(ReadableText(engine_->Events().Cell(static_cast<std::size_t>(row), 3)));
  bool copied = false;
  if (::OpenClipboard(window_)) {
    ::EmptyClipboard();
    const std::size_t bytes = (path.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      std::memcpy(::GlobalLock(memory), path.c_str(), bytes);
      ::GlobalUnlock(memory);
      copied = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      if (!copied) ::GlobalFree(memory);
    }
    ::CloseClipboard();
  }
  // Saying it was copied when it was not would lose the path.
  if (!copied) return TellUser("提示:", "无法写入剪辑板", true);
  Tell(window_, "提示:", "路径已复制到剪辑板!", MB_ICONINFORMATION);
}

void MainWindow::ClearEventList() {
  if (!Ask(window_, "提示", "是否要清空列表?")) return;
  engine_->ClearEvents();
  SyncEventList();
}

// Placement and layout.

void MainWindow::ApplyLayout() {
  RECT client;
  ::GetClientRect(window_, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return;
  designWidth_ = static_cast<int>(width / Scale());
  designHeight_ = static_cast<int>(height / Scale());
  HDWP moves = ::BeginDeferWindowPos(20);
  LayoutRect group1, group2;
  for (const DesignChild& child : kDesignChildren) {
    const LayoutRect at = PlaceDesignChild(child.at, width, height, Scale());
    if (child.id == k分组框1) group1 = at;
    if (child.id == k分组框2) group2 = at;
    moves = ::DeferWindowPos(moves, Control(child.id), nullptr, at.left, at.top, at.width, at.height,
                             SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The boxes' places are worked out in design pixels, then scaled.
  const double scale = Scale();
  const CheckBoxPlacement p = PlaceCheckBoxes(static_cast<int>(group1.width / scale),
                                              static_cast<int>(group1.height / scale),
                                              static_cast<int>(group2.height / scale));
  const std::pair<int, std::pair<LayoutPoint, const LayoutRect*>> places[] = {
      {k选择框_全盘, {p.全盘, &group2}},         {k选择框_自定义, {p.自定义, &group2}},
      {k选择框_保存日志, {p.保存日志, &group2}}, {k选择框_托盘提示, {p.托盘提示, &group2}},
      {k选择框_创建文件, {p.创建文件, &group1}}, {k选择框_删除文件, {p.删除文件, &group1}},
      {k选择框_更新文件, {p.更新文件, &group1}}, {k选择框_重命名文件, {p.重命名文件, &group1}},
      {k选择框_创建目录, {p.创建目录, &group1}}, {k选择框_删除目录, {p.删除目录, &group1}},
      {k选择框_重命名目录, {p.重命名目录, &group1}}};
  for (const auto& [id, place] : places) {
    const auto& [at, group] = place;
    moves = ::DeferWindowPos(moves, Control(id), nullptr, group->left + Scaled(at.x, dpi_),
                             group->top + Scaled(at.y, dpi_), Scaled(kBoxWidth, dpi_), Scaled(kBoxHeight, dpi_),
                             SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::EndDeferWindowPos(moves);
  FillLastColumn(Control(k超级列表框2), 3);
  FillLastColumn(Control(k超级列表框1), 4);
}

void MainWindow::PlaceMainWindow(const std::string& saved) {
  const std::vector<std::string> parts = SplitText(saved, "*");
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  std::int64_t w = parts.size() >= 2 ? LeadingInteger(parts[0]) : kDesignWidth;
  std::int64_t h = parts.size() >= 2 ? LeadingInteger(parts[1]) : kDesignHeight;
  // A size no window was ever saved with (text, or smaller than readable)
  // gives the design size.
  if (w < kReadableWidth || h < kReadableHeight) w = kDesignWidth, h = kDesignHeight;
  // The size key holds design pixels, as the other window writes them.
  if (static_cast<double>(w) * Scale() >= screenWidth) {
    ::ShowWindow(window_, SW_MAXIMIZE);
    return;
  }
  RECT frame{0, 0, Scaled(static_cast<int>(std::min<std::int64_t>(w, 30000)), dpi_),
             Scaled(static_cast<int>(std::min<std::int64_t>(h, 30000)), dpi_)};
  ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT outer, work;
  ::GetWindowRect(window_, &outer);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int taskbar = TaskbarThickness({0, 0, screenWidth, screenHeight},
                                       {work.left, work.top, work.right - work.left, work.bottom - work.top});
  const int left = (screenWidth - (outer.right - outer.left)) / 2;
  const int top = (screenHeight - taskbar - (outer.bottom - outer.top)) / 2;
  ::SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  FitOnScreen(window_);
}

void MainWindow::SaveWindowSize() {
  if (designWidth_ > 0 && designHeight_ > 0) engine_->SaveWindowSize(designWidth_, designHeight_);
  tray_.Remove();
}

// Lifecycle.

void MainWindow::OnWindowDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  SaveWindowSize();
  if (window_) ::KillTimer(window_, kEngineTimer);
  engine_->Stop();
}

void MainWindow::QuitProgram() {
  if (!window_) return;
  SaveWindowSize();
  quitting_ = true;
  ::DestroyWindow(window_);
}

void MainWindow::ShowMainWindow() {
  ::ShowWindow(window_, SW_SHOWNORMAL);
  ::SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
  ::SetForegroundWindow(window_);
}

void MainWindow::ComeForward() {
  ++comeForwardCount_;
  if (!::IsWindowVisible(window_)) return;
  if (::IsIconic(window_)) ::ShowWindow(window_, SW_RESTORE);
  ::SetForegroundWindow(window_);
  ::FlashWindow(window_, TRUE);
}

}  // namespace vantrel::win32
