#pragma once
// The rule editor "添加监控" on Win32: a window owned by the main window,
// over the shared form (faces/shared/RuleForm.h). Paths come from the
// system's pickers or from files dropped on the window; the target box
// takes no typing and says so by being read-only.
#include "engine/RuleStore.h"
#include "faces/shared/RuleForm.h"
#include "faces/win32/Controls.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace vantrel::win32 {

enum EditorControl : int {
  k标签1 = 200,
  k组合框1,
  k标签2,
  k编辑框1,
  k按钮1,
  k选择框1,
  k标签3,
  k单选框_复制,
  k单选框_移动,
  k单选框_删除,
  k单选框_执行,
  k标签_路径,
  k编辑框2,
  k按钮2,
  k标签_路径1,
  k编辑框3,
  k标签_方式,
  k组合框2,
  k标签5,
  k标签_状态,
  k按钮_试一试,
  k按钮3,
};

class RuleEditor {
 public:
  struct Host {
    // A prompt that follows the user's command in the editor.
    std::function<void(const std::string& title, const std::string& text)> prompt;
    RuleStore* rules = nullptr;
    // The changes the event list holds, for trying a rule on them.
    std::function<std::vector<ListedChange>()> listed;
  };

  RuleEditor(Host host, HWND owner, HFONT font, bool wholeDiskMode);
  ~RuleEditor();
  RuleEditor(const RuleEditor&) = delete;
  RuleEditor& operator=(const RuleEditor&) = delete;

  HWND Window() const { return window_; }
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }
  // Shown over its owner, in front; add mode ("添加监控", 按钮3 "添加").
  void OpenForAdd();
  // Modify mode for the rule in row: the rule is held by its texts, so that
  // a row removed or moved meanwhile is never overwritten by mistake.
  void OpenForModify(std::size_t row, const MonitorRule& rule);
  // 选择框1 ("全盘路径监控") is offered only in whole-disk mode.
  void SetWholeDiskMode(bool on);
  // A path dropped (or picked) onto the control with this id.
  void DropPath(const std::string& path, int controlId);
  // 按钮3: add, or in modify mode save.
  void Submit();
  // 试一试: what the rule in the form would do now, without acting.
  void TryRule();
  static constexpr std::size_t kTryLines = 40;
  void ShowStatus(const std::string& text, bool error);
  const std::string& Status() const { return status_; }
  RuleForm Form() const;

 private:
  template <typename T>
  friend LRESULT CALLBACK ObjectProc(HWND, UINT, WPARAM, LPARAM);
  void Attach(HWND window) { window_ = window; }
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls(HFONT font);
  void Show();
  void OnGlobalPathClicked();
  void OnOperationChosen();
  void SetOperation(RuleForm::Operation operation);
  void PickMonitoredPath();
  void PickTargetPath();
  bool Modifying() const { return modifying_.has_value(); }

  Host host_;
  HWND owner_;
  HWND window_ = nullptr;
  std::string status_;
  bool statusError_ = false;
  struct Modified {
    std::size_t row;
    MonitorRule rule;
  };
  std::optional<Modified> modifying_;
};

}  // namespace vantrel::win32
