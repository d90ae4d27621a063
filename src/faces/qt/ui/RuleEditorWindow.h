#pragma once
// The rule editor "添加监控": composes one rule from an event, a monitored
// path and an action, and adds it to the rule list or writes it over the
// row being modified. Paths come from the pickers or from files dropped on
// the window.
#include "engine/RuleStore.h"
#include "faces/shared/RuleForm.h"

#include <QPersistentModelIndex>
#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vantrel {

class RuleEditorWindow : public QWidget {
  Q_OBJECT
 public:
  // What the editor asks of the program around it.
  struct Host {
    // A prompt that follows the user's own command in the editor: besides
    // the balloon it is shown in the editor's status line.
    std::function<void(const std::string& title, const std::string& text)> prompt;
    // The rules the editor adds to and modifies.
    RuleStore* rules = nullptr;
    // The changes the event list holds, for trying a rule on them.
    std::function<std::vector<ListedChange>()> listed;
  };
  // Shown in an empty path box; a deletion rule with no target stores it as
  // its operand, as earlier versions did.
  static constexpr const char* kCueText = vantrel::kCueText;

  RuleEditorWindow(Host host, bool wholeDiskMode, QWidget* owner);

  // Add mode: the title "添加监控", 按钮3 "添加".
  void OpenForAdd();
  // Modify mode for the rule at index (a row of the rule list's model): held
  // by identity, so that a row deleted or moved meanwhile is never
  // overwritten by mistake.
  void OpenForModify(const QPersistentModelIndex& index, const MonitorRule& rule);
  // 选择框1 ("全盘路径监控") is offered only in whole-disk mode.
  void SetWholeDiskMode(bool on);
  // The picked or dropped path, handled as a drop on the control under it.
  void DropPath(const QString& path, QWidget* under);
  // 按钮3: add, or in modify mode save.
  void Submit();
  // 试一试.
  void TryRule();
  // A line under the controls where the outcome of the user's last command
  // stays readable.
  void ShowStatus(const QString& text, bool error);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(class QDragEnterEvent* event) override;
  void dropEvent(class QDropEvent* event) override;

 private:
  void BuildControls();
  void OnGlobalPathClicked();
  void OnOperationChosen();
  void OnEventChosen(int index);
  void PickMonitoredPath();
  void PickTargetPath();
  QRadioButton* Operation() const;
  // The form as the controls hold it.
  RuleForm Form() const;
  // The folder a picker opens at: where the box points, else the home folder.
  static QString StartingPoint(const QString& current);

  Host host_;
  QPersistentModelIndex modifying_;
  QLabel* 标签1;
  QComboBox* 组合框1;
  QLabel* 标签2;
  QLineEdit* 编辑框1;
  QPushButton* 按钮1;
  QCheckBox* 选择框1;
  QLabel* 标签3;
  QRadioButton* 单选框_复制;
  QRadioButton* 单选框_移动;
  QRadioButton* 单选框_删除;
  QRadioButton* 单选框_执行;
  QLabel* 标签_路径;
  QLineEdit* 编辑框2;
  QPushButton* 按钮2;
  QLabel* 标签5;
  QLabel* 标签_路径1;
  QLineEdit* 编辑框3;
  QLabel* 标签_方式;
  QComboBox* 组合框2;
  QPushButton* 按钮3;
  // 试一试: what the rule in the form would do now, without acting.
  QPushButton* 按钮_试一试;
  QLabel* 标签_状态;
};

}  // namespace vantrel
