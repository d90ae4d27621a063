#pragma once
// The main window "Vantrel": a view of the engine. Its boxes show and set
// the engine's settings, its lists show the engine's event list and rules,
// its menus and the rule editor give the engine the user's commands, and the
// tray and the status line carry the engine's prompts.
#include "faces/qt/app/Layout.h"
#include "engine/Engine.h"
#include "faces/qt/tray/TrayIcon.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QTableView;
class QTreeView;

namespace vantrel {

class EventListModel;
class RuleEditorWindow;
class RuleListModel;

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  using SourceFactory = std::function<std::unique_ptr<ChangeSource>(std::string& error)>;
  struct Options {
    // The program's folder (ChooseProgramDir).
    std::string home;
    WatchBackend backend = WatchBackend::Auto;
    // Tests give a started source of their own; otherwise the backend decides.
    SourceFactory sourceFactory;
    // Every record also to the terminal.
    bool console = false;
    // The program's own look; off, the platform's ordinary one.
    bool skin = true;
    // The time the engine and the window go by (tests give one they move).
    const Clock* clock = &Clock::System();
    // Where the program's files went, when that is news (ChooseProgramDir).
    std::string startNotice = {};
  };

  explicit MainWindow(Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence; false when the program must end (exit code 0).
  bool OnMainWindowCreated();

  void PlaceMainWindow(const std::string& saved);
  void SaveWindowSize();
  void ShowMainWindow();
  // A later copy asked: a visible window comes forward, a hidden one stays.
  void ComeForward();
  void SetTopmost(bool topmost);
  // "退出程序": the size is saved and the program ends without asking.
  void QuitProgram();

  // The engine behind the window, and what tests and benchmarks reach of it.
  Engine& Core() { return *engine_; }
  void OnChangeNotification(const ChangeNotification& n) { engine_->OnChangeNotification(n); }
  void AddRule(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText) {
    engine_->Rules().Add(eventName, monitoredPath, actionText);
  }
  const RuleList& Rules() const { return engine_->Rules().Rules(); }
  EventLog& Events() { return engine_->Log(); }
  EventList& EventRows() { return engine_->Events(); }
  void LogAction(const ActionOutcome& outcome) { engine_->LogAction(outcome); }
  std::string LastActionTarget() const { return engine_->LastActionTarget(); }
  void SetEventObserver(std::function<void(const ChangeEvent&)> observer) {
    engine_->SetEventObserver(std::move(observer));
  }
  // Blocks until every action asked for so far is done and listed.
  void FinishPendingActions() { engine_->FinishPendingActions(); }
  TrayIcon& Tray() { return *tray_; }
  EventListModel& EventModel() { return *eventModel_; }

  // "添加监控" and "修改选中": the editor window, made on first use.
  void OpenRuleEditorForAdd();
  void OpenRuleEditorForModify();
  RuleEditorWindow& RuleEditor();

  // Commands of the event list's menu.
  void ExportEventList();
  // "修改颜色": the colour of one column of event rows ("时间", "名称",
  // "类型", "路径") or of action rows ("执行"), applied to every row.
  void ChooseLogColour(const char* key);
  void OpenEventFolder();
  void CopyEventPath();
  void ClearEventList();

  // A prompt that follows the user's own command: shown in the status line,
  // where the user looks, and as a balloon.
  void TellUser(const std::string& title, const std::string& text, bool error);

  QMenu* 右键菜单;
  QMenu* 列表右键;
  QMenu* 托盘右键;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void ConnectCheckBoxes();
  // The boxes and the tray item as the engine's settings stand.
  void ShowSettings();
  void OnPrompt(const std::string& title, const std::string& text, PromptKind kind);
  void ShowRuleEditor();
  // The Delete key's removal: asked first, and told.
  void RemoveRuleAsked();
  // 撤销 on the selected action row (its menu, Ctrl+Z).
  void TakeBackSelectedRow();
  void RemoveRule(int row);
  // The summary of what is watched, again (rules or settings changed), and
  // the rows' count with those waiting below.
  void ShowWatched();
  void ShowRows();
  // Frame margins beside the client area: the real ones once shown.
  QSize FrameExtra() const;
  // maximizedLooks: how often a maximized window was found not yet fitted.
  void EnsureOnScreen(int maximizedLooks = 0);
  int RecordChildLayout();
  void ApplyChildLayout();
  void OnSizeChanged();
  bool OnQueryClose();
  void OnWindowDestroy();
  QCheckBox* TypeBoxWidget(DispatchHost::TypeBox box) const;
  // The selected row of a list, or -1.
  int SelectedEventRow() const;
  int SelectedRuleRow() const;

  Options options_;
  std::unique_ptr<Engine> engine_;
  QGroupBox* 分组框1;
  QGroupBox* 分组框2;
  QCheckBox* 选择框_创建文件;
  QCheckBox* 选择框_删除文件;
  QCheckBox* 选择框_重命名文件;
  QCheckBox* 选择框_更新文件;
  QCheckBox* 选择框_创建目录;
  QCheckBox* 选择框_删除目录;
  QCheckBox* 选择框_重命名目录;
  QCheckBox* 选择框_全盘;
  QCheckBox* 选择框_自定义;
  QCheckBox* 选择框_保存日志;
  QCheckBox* 选择框_托盘提示;
  class RuleListView* 超级列表框2;
  QTableView* 超级列表框1;
  class StatusLine* 状态栏;
  // What is watched, and the list's rows: always in sight.
  QLabel* 监控状态;
  RuleListModel* ruleModel_;
  EventListModel* eventModel_;
  RuleEditorWindow* ruleEditor_ = nullptr;
  TrayIcon* tray_;

  class EngineDriver* driver_ = nullptr;

  std::vector<QWidget*> childWindows_;
  std::vector<LayoutRect> childDesign_;
  int childCount_ = 0;
  bool quitting_ = false;
  bool followRows_ = true;
  QString watched_;
  bool programSetsBoxes_ = false;
  // Why no change source could start, for the message that says so.
  std::string sourceError_;
  bool destroyed_ = false;
};

}  // namespace vantrel
