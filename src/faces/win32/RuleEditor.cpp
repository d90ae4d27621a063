#include "faces/win32/RuleEditor.h"

#include "faces/win32/Controls.h"
#include "platform/StoredFile.h"
#include "platform/ThisProcess.h"
#include "platform/windows/Wide.h"
#include "rules/RulePath.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

namespace vantrel::win32 {
namespace {

constexpr wchar_t kClassName[] = L"VantrelRuleEditor";
constexpr int kWidth = 470, kHeight = 345;
const char* const kPickTitle = "选择需要监控的文件/文件夹";

struct Place {
  int id;
  const wchar_t* windowClass;
  const char* caption;
  DWORD style;
  int left, top, width, height;
};

// At the design's places (client pixels at 96 DPI), in the order the
// keyboard goes through them.
const Place kPlaces[] = {
    {k标签1, WC_STATICW, "监控事件∶", SS_LEFT, 20, 22, 80, 24},
    {k组合框1, WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP, 100, 18, 200, 300},
    {k标签2, WC_STATICW, "监控路径∶", SS_LEFT, 20, 58, 80, 24},
    {k编辑框1, WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 100, 54, 280, 26},
    {k按钮1, WC_BUTTONW, "选择", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 390, 54, 60, 26},
    {k选择框1, WC_BUTTONW, "全盘路径监控", BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 100, 86, 150, 24},
    {k标签3, WC_STATICW, "执行操作∶", SS_LEFT, 20, 120, 80, 24},
    {k单选框_复制, WC_BUTTONW, "复制文件", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 100, 116, 90, 24},
    {k单选框_移动, WC_BUTTONW, "移动文件", BS_AUTORADIOBUTTON, 190, 116, 90, 24},
    {k单选框_删除, WC_BUTTONW, "删除文件", BS_AUTORADIOBUTTON, 280, 116, 90, 24},
    {k单选框_执行, WC_BUTTONW, "执行程序", BS_AUTORADIOBUTTON, 370, 116, 90, 24},
    {k标签_路径, WC_STATICW, "复制文件∶", SS_LEFT, 20, 154, 80, 24},
    {k编辑框2, WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 100, 150, 280, 26},
    {k按钮2, WC_BUTTONW, "选择", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 390, 150, 60, 26},
    {k标签_路径1, WC_STATICW, "执行参数∶", SS_LEFT, 20, 190, 80, 24},
    {k编辑框3, WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 100, 186, 350, 26},
    {k标签_方式, WC_STATICW, "执行方式∶", SS_LEFT, 20, 226, 80, 24},
    {k组合框2, WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP, 100, 222, 150, 200},
    {k标签5, WC_STATICW, "", SS_LEFT, 20, 258, 430, 40},
    {k标签_状态, WC_STATICW, "", SS_LEFT | SS_NOPREFIX, 20, 302, 250, 30},
    {k按钮_试一试, WC_BUTTONW, "试一试", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 280, 302, 80, 30},
    {k按钮3, WC_BUTTONW, "添加", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 370, 302, 80, 30},
};

constexpr int kOperationIds[] = {k单选框_复制, k单选框_移动, k单选框_删除, k单选框_执行};

void AddItems(HWND box, const char* const* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(platform::WideFromUtf8(items[i]).c_str()));
}

void SetCue(HWND box) {
  ::SendMessageW(box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(platform::WideFromUtf8(kCueText).c_str()));
}

// The folder a picker opens at: where the box points, else the home folder.
std::string StartingPoint(const std::string& current) {
  if (!current.empty() && platform::StampOf(current)) return current;
  return platform::UserHome();
}

}  // namespace

RuleEditor::RuleEditor(Host host, HWND owner, HFONT font, bool wholeDiskMode) : host_(std::move(host)), owner_(owner) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &ObjectProc<RuleEditor>;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = WornPalette().windowBrush;
  windowClass.lpszClassName = kClassName;
  ::RegisterClassExW(&windowClass);
  const UINT dpi = WindowDpi(owner);
  RECT frame{0, 0, Scaled(kWidth, dpi), Scaled(kHeight, dpi)};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES);
  // Owned by the main window: above it, and gone with it.
  ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, kClassName, L"添加监控", style, CW_USEDEFAULT,
                    CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance, this);
  BuildControls(font);
  SetWholeDiskMode(wholeDiskMode);
  OpenForAdd();
}

RuleEditor::~RuleEditor() {
  if (window_) ::DestroyWindow(window_);
}

void RuleEditor::BuildControls(HFONT font) {
  const UINT dpi = WindowDpi(window_);
  for (const Place& place : kPlaces) {
    HWND control = MakeControl(window_, place.windowClass, place.caption, place.style, place.id);
    ::SetWindowPos(control, nullptr, Scaled(place.left, dpi), Scaled(place.top, dpi), Scaled(place.width, dpi),
                   Scaled(place.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  AddItems(Control(k组合框1), kEventItems, std::size(kEventItems));
  AddItems(Control(k组合框2), kModeItems, std::size(kModeItems));
  ComboBox_SetCurSel(Control(k组合框1), 0);
  ComboBox_SetCurSel(Control(k组合框2), 0);
  SetCue(Control(k编辑框1));
  SetCue(Control(k编辑框2));
  SetOperation(RuleForm::Copy);
}

void RuleEditor::Show() {
  if (!::IsWindowVisible(window_)) {
    // Over the window it belongs to, not wherever new windows go.
    RECT owner, self;
    ::GetWindowRect(owner_, &owner);
    ::GetWindowRect(window_, &self);
    const int width = self.right - self.left, height = self.bottom - self.top;
    ::SetWindowPos(window_, nullptr, (owner.left + owner.right - width) / 2, (owner.top + owner.bottom - height) / 2, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Whole on the screen, however small the screen or large the scale.
    FitOnScreen(window_);
  }
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  ::SetFocus(Control(k组合框1));
}

void RuleEditor::OpenForAdd() {
  // Coming from a modification, the form starts empty: its contents were
  // the rule just saved, and adding them again would make a duplicate.
  if (Modifying()) {
    for (int id : {k编辑框1, k编辑框2, k编辑框3}) SetText(Control(id), "");
    if (Button_GetCheck(Control(k选择框1)) == BST_CHECKED) {
      Button_SetCheck(Control(k选择框1), BST_UNCHECKED);
      OnGlobalPathClicked();
    }
  }
  modifying_.reset();
  SetText(Control(k按钮3), "添加");
  SetText(window_, "添加监控");
  ShowStatus({}, false);
  Show();
}

void RuleEditor::OpenForModify(std::size_t row, const MonitorRule& rule) {
  const RuleForm form = FormOf(rule);
  ComboBox_SetCurSel(Control(k组合框1), form.event);
  if (form.global != (Button_GetCheck(Control(k选择框1)) == BST_CHECKED)) {
    // A box left disabled by an earlier global rule would lock this path.
    Button_SetCheck(Control(k选择框1), form.global ? BST_CHECKED : BST_UNCHECKED);
    OnGlobalPathClicked();
  }
  SetText(Control(k编辑框1), form.path);
  SetOperation(form.operation);
  SetText(Control(k编辑框2), form.target);
  if (form.operation == RuleForm::Run) {
    SetText(Control(k编辑框3), form.parameters);
    ComboBox_SetCurSel(Control(k组合框2), form.mode);
  }
  modifying_ = Modified{row, rule};
  SetText(Control(k按钮3), "保存修改");
  SetText(window_, "修改事件类型-" + std::to_string(row));
  ShowStatus({}, false);
  Show();
}

void RuleEditor::SetWholeDiskMode(bool on) { ::ShowWindow(Control(k选择框1), on ? SW_SHOW : SW_HIDE); }

void RuleEditor::ShowStatus(const std::string& text, bool error) {
  status_ = text;
  statusError_ = error;
  SetText(Control(k标签_状态), text);
}

RuleForm RuleEditor::Form() const {
  RuleForm form;
  form.event = std::max(ComboBox_GetCurSel(Control(k组合框1)), 0);
  form.path = TextOf(Control(k编辑框1));
  form.global = Button_GetCheck(Control(k选择框1)) == BST_CHECKED;
  for (int i = 0; i < 4; ++i)
    if (Button_GetCheck(Control(kOperationIds[i])) == BST_CHECKED) form.operation = static_cast<RuleForm::Operation>(i);
  form.target = TextOf(Control(k编辑框2));
  form.parameters = TextOf(Control(k编辑框3));
  form.mode = std::max(ComboBox_GetCurSel(Control(k组合框2)), 0);
  return form;
}

void RuleEditor::OnGlobalPathClicked() {
  const bool global = Button_GetCheck(Control(k选择框1)) == BST_CHECKED;
  SetText(Control(k编辑框1), global ? std::string(GlobalPathMarker) : std::string());
  ::EnableWindow(Control(k编辑框1), !global);
  ::EnableWindow(Control(k按钮1), !global);
}

void RuleEditor::SetOperation(RuleForm::Operation operation) {
  for (int i = 0; i < 4; ++i) Button_SetCheck(Control(kOperationIds[i]), i == operation ? BST_CHECKED : BST_UNCHECKED);
  OnOperationChosen();
}

void RuleEditor::OnOperationChosen() {
  const RuleForm::Operation operation = Form().operation;
  SetText(Control(k标签_路径), std::string(kOperationCaptions[operation]) + "∶");
  SetText(Control(k标签5), OperationHint(operation));
  const bool run = operation == RuleForm::Run, target = operation != RuleForm::Delete;
  ::ShowWindow(Control(k标签_方式), run ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Control(k组合框2), run ? SW_SHOW : SW_HIDE);
  // What the chosen operation does not use cannot be reached.
  for (int id : {k标签_路径, k编辑框2, k按钮2}) ::EnableWindow(Control(id), target);
  for (int id : {k标签_路径1, k编辑框3}) ::EnableWindow(Control(id), run);
}

void RuleEditor::PickMonitoredPath() {
  const std::string picked = PickPath(window_, kPickTitle, true, StartingPoint(TextOf(Control(k编辑框1))));
  // A cancelled picker changes nothing.
  if (!picked.empty()) SetText(Control(k编辑框1), picked);
}

void RuleEditor::PickTargetPath() {
  const RuleForm::Operation operation = Form().operation;
  if (operation == RuleForm::Delete) return;
  const bool program = operation == RuleForm::Run;
  const std::string picked = PickPath(window_, program ? "选择要执行的程序" : "选择目标文件夹", !program,
                                      StartingPoint(TextOf(Control(k编辑框2))));
  if (!picked.empty()) SetText(Control(k编辑框2), picked);
}

void RuleEditor::DropPath(const std::string& path, int controlId) {
  if (controlId == k编辑框2 || controlId == k编辑框3 || controlId == k按钮2) {
    if (std::optional<std::string> target = DroppedTarget(Form().operation, path)) SetText(Control(k编辑框2), *target);
    return;
  }
  if (::IsWindowEnabled(Control(k编辑框1))) SetText(Control(k编辑框1), path);
}

void RuleEditor::TryRule() {
  bool ok = false;
  std::string text =
      TryForm(Form(), platform::UserHome(), host_.listed ? host_.listed() : std::vector<ListedChange>{}, ok);
  if (!ok) {
    ShowStatus(text, true);
    Tell(window_, "提示:", text, MB_ICONERROR);
    return;
  }
  // A box holds what a screen shows; the rest is counted.
  std::size_t lines = 0, at = 0;
  while (at < text.size() && lines < kTryLines) {
    at = text.find('\n', at);
    if (at == std::string::npos) break;
    ++at;
    ++lines;
  }
  if (at != std::string::npos && at < text.size())
    text = text.substr(0, at) + "…… 另有 " + std::to_string(std::count(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), '\n')) + " 行未列出";
  Tell(window_, "试一试", text, MB_ICONINFORMATION);
}

void RuleEditor::Submit() {
  auto refuse = [this](const std::string& text) {
    ShowStatus(text, true);
    Tell(window_, "提示:", text, MB_ICONERROR);
  };
  RuleForm form = Form();
  if (std::optional<std::string> why = FormRefusal(form)) return refuse(*why);
  const FormPathCheck paths = CheckFormPaths(form, platform::UserHome());
  if (paths.refusal) return refuse(*paths.refusal);
  // The boxes show what the rule will hold.
  if (!form.global) SetText(Control(k编辑框1), form.path);
  if (form.operation != RuleForm::Delete) SetText(Control(k编辑框2), form.target);
  for (const std::string& folder : paths.missingFolders) {
    if (!Ask(window_, "提示:", MakeFolderQuestion(folder))) return refuse("文件夹 " + folder + " 不存在, 监控未添加。");
    if (std::optional<std::string> failed = MakeFolders(folder)) return refuse(*failed);
  }
  if (Tell(window_, "添加提示:", FormConfirmation(form), MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
  const MonitorRule wanted = RuleOf(form);
  RuleStore& store = *host_.rules;
  if (Modifying()) {
    // The rule is found by its texts where it stood, or where it went.
    const RuleList& rules = store.Rules();
    std::optional<std::size_t> row;
    auto same = [&](const MonitorRule& r) { return SameTexts(r, modifying_->rule); };
    if (modifying_->row < rules.size() && same(rules[modifying_->row])) {
      row = modifying_->row;
    } else {
      for (std::size_t i = 0; i < rules.size() && !row; ++i)
        if (same(rules[i])) row = i;
    }
    if (!row) {
      OpenForAdd();
      return refuse("要修改的监控已被删除, 修改未保存。");
    }
    if (!store.Replace(*row, wanted.eventName, wanted.monitoredPath, wanted.actionText)) return;
    OpenForAdd();
    // Done with this rule: the editor goes, so that 添加 cannot repeat it.
    ::ShowWindow(window_, SW_HIDE);
    host_.prompt("修改事件成功!", form.path);
    return;
  }
  if (AlreadyListed(store.Rules(), wanted) && !Ask(window_, "添加提示:", kAlreadyListedQuestion)) return;
  store.Add(wanted.eventName, wanted.monitoredPath, wanted.actionText);
}

LRESULT RuleEditor::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      switch (id) {
        case IDOK:  // Enter where no button has the focus
        case k按钮3:
          if (code == BN_CLICKED) Submit();
          return 0;
        case k按钮_试一试:
          if (code == BN_CLICKED) TryRule();
          return 0;
        case IDCANCEL:  // Escape
          ::ShowWindow(window_, SW_HIDE);
          return 0;
        case k按钮1:
          PickMonitoredPath();
          return 0;
        case k按钮2:
          PickTargetPath();
          return 0;
        case k选择框1:
          OnGlobalPathClicked();
          return 0;
        case k单选框_复制:
        case k单选框_移动:
        case k单选框_删除:
        case k单选框_执行:
          if (code == BN_CLICKED) OnOperationChosen();
          return 0;
        case k组合框1:
          if (code == CBN_SELCHANGE && ComboBox_GetCurSel(Control(k组合框1)) == kEventSeparator)
            ComboBox_SetCurSel(Control(k组合框1), kEventInsteadOfSeparator);
          return 0;
      }
      break;
    }
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      POINT at{};
      ::DragQueryPoint(drop, &at);
      std::string paths;
      const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
      for (UINT i = 0; i < count; ++i) {
        std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(::DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
        // Several items together arrive as one text, each path ending in CR LF.
        paths += platform::Utf8FromWide(name) + (count > 1 ? "\r\n" : "");
      }
      ::DragFinish(drop);
      HWND under = ::ChildWindowFromPointEx(window_, at, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
      if (!paths.empty()) DropPath(paths, under ? ::GetDlgCtrlID(under) : 0);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const bool error = statusError_ && reinterpret_cast<HWND>(lParam) == Control(k标签_状态);
      return OnSkinGround(wParam, error ? RGB(0xC0, 0x20, 0x20) : WornPalette().windowText);
    }
    case WM_CTLCOLOREDIT:
      // Values in the path colour (COLORREF 0xFF8800); an empty box shows
      // its cue in the system's grey.
      if (reinterpret_cast<HWND>(lParam) != Control(k编辑框3)) {
        ::SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0x00, 0x88, 0xFF));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_CLOSE:
      // Closing discards the form's contents only as far as hiding does.
      ::ShowWindow(window_, SW_HIDE);
      return 0;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace vantrel::win32
