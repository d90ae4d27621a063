#pragma once
#include "app/Layout.h"
#include "log/EventList.h"
#include "log/EventLog.h"
#include "log/ListColourStore.h"
#include "log/LogOutput.h"
#include "monitor/ChangeSource.h"
#include "monitor/EventFilter.h"
#include "monitor/ShellEvents.h"
#include "rules/ActionQueue.h"
#include "tray/TrayIcon.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QAction;
class QCheckBox;
class QFileSystemWatcher;
class QGroupBox;
class QLabel;
class QMenu;
class QStandardItemModel;
class QTableView;
class QTimer;
class QTreeView;

namespace vantrel {

class ChangeIntake;
class EventListModel;
class RuleEditorWindow;
class RuleListPanel;
class TrayIcon;

struct DisplayMode {
  std::uint16_t bitsPerPixel = 0, width = 0, height = 0, frequency = 0;
};

class MainWindow : public QWidget, public DispatchHost, public EventLogHost {
  Q_OBJECT
 public:
  using SourceFactory = std::function<std::unique_ptr<ChangeSource>(std::string& error)>;
  struct Options {
    WatchBackend backend = WatchBackend::Auto;
    // Tests give a started source of their own; otherwise the backend decides.
    SourceFactory sourceFactory;
    // Every record also to the terminal.
    bool console = false;
    // The program's own look; off, the platform's ordinary one.
    bool skin = true;
  };

  explicit MainWindow(Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence; false when the program must end (exit code 0).
  bool OnMainWindowCreated();

  bool RegisterShellWatch();
  bool UnregisterShellWatch();
  void LoadSettings();
  void PlaceMainWindow(const std::string& saved);
  void SaveWindowSize();
  void ShowMainWindow();
  // A later copy asked: a visible window comes forward, a hidden one stays.
  void ComeForward();
  void SetTopmost(bool topmost);
  // "退出程序": the size is saved and the program ends without asking.
  void QuitProgram();
  int RecordChildLayout();
  void ApplyChildLayout();
  static int TaskbarThickness();
  static DisplayMode CurrentDisplayMode();
  static void ShowRuntimeError(int code, const QString& message);

  // Every change from the source arrives here, one at a time, in order.
  void OnChangeNotification(const ChangeNotification& n);

  // The rule list.
  void AddRule(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText);
  bool SaveRuleFile();
  void LoadRuleFile();
  const RuleList& Rules() const;
  RuleListPanel& RuleListCommands() { return *ruleList_; }
  // "添加监控" and "修改选中": the editor window, made on first use.
  void OpenRuleEditorForAdd();
  void OpenRuleEditorForModify();
  // A prompt that follows the user's own command: shown in the status line,
  // where the user looks, and as a balloon.
  void TellUser(const std::string& title, const std::string& text, bool error);
  RuleEditorWindow& RuleEditor();
  static std::string RuleFilePath();

  // Commands of the event list's menu.
  void ExportEventList();
  // "修改颜色": the colour of one column of event rows ("时间", "名称",
  // "类型", "路径") or of action rows ("执行"), applied to every row.
  void ChooseLogColour(const char* key);
  void OpenEventFolder();
  void CopyEventPath();
  void ClearEventList();

  EventLog& Events() { return *eventLog_; }
  EventList& EventRows() { return eventList_; }
  TrayIcon& Tray() { return *tray_; }
  EventListModel& EventModel() { return *eventModel_; }

  // DispatchHost
  std::string TypeBoxCaption(TypeBox box) const override;
  bool TypeBoxTicked(TypeBox box) const override;
  bool CustomPathMode() const override;
  std::string ProgramDirectory() const override;
  std::string LastActionTarget() const override;
  std::size_t MonitoredPathCount() const override { return Rules().size(); }
  const std::string& MonitoredPathAt(std::size_t row) const override { return Rules()[row].monitoredPath; }
  bool RowListed(std::string_view time, std::string_view eventName, std::string_view path) const override;
  void AddEventRow(const std::string& name, const std::string& eventName, const std::string& path,
                   const std::string& newPath) override;
  void MatchRules(const std::string& path, const std::string& eventName, const std::string& name,
                  const std::string& newPath) override;

  std::size_t RuleCount() const;
  const MonitorRule& RuleAt(std::size_t row) const;
  // An action's row and record, and an action's error, as the action queue
  // reports them.
  void LogAction(const std::string& report);
  void ShowErrorPrompt(const std::string& title, const std::string& text) override;
  // Blocks until every action asked for so far is done and listed.
  void FinishPendingActions();

  // EventLogHost
  bool PromptsOn() const override;
  bool SaveLogOn() const override;
  std::string ConfigFile() const override;
  void ShowPrompt(const std::string& title, const std::string& text) override;
  void RowsAppended() override;
  void RowsRecoloured() override;
  void SetEventObserver(std::function<void(const ChangeEvent&)> observer) { observer_ = std::move(observer); }
  ChangeIntake* Intake() const { return intake_; }
  // The folders a per-folder source must watch in the current mode.
  std::vector<std::string> WatchRoots() const;

  QMenu* 右键菜单;
  QMenu* 列表右键;
  QMenu* 托盘右键;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  void ShowRuleEditor();
  void ShowStatus(const std::string& text, bool error);
  void BuildMenus();
  void ConnectCheckBoxes();
  void OnSizeChanged();
  bool OnQueryClose();
  void OnWindowDestroy();
  // Everything the actions did gets its row and record; what never began is
  // written to the log as not done, and the next start tells how many.
  void FinishActionsForExit();
  void TellActionsNotDoneLastTime();
  void WriteBox(const char* section, QCheckBox* box);
  // A tick the program sets itself, which the boxes' handlers ignore.
  void SetBoxByProgram(QCheckBox* box, bool ticked);
  // Writes a setting; a failure is told, since the box already shows the change.
  void WriteSettingOrTell(const char* section, const std::string& key, const std::string& value);
  void OnTrayPromptClicked();
  void OnTrayMenuPromptItem();
  void On全盘Clicked();
  void On自定义Clicked();
  void UpdateWatchRoots();
  void OnSourceReport(const SourceReport& report);
  void TellLosses(const std::optional<std::string>& text);

  Options options_;
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
  QTreeView* 超级列表框2;
  QTableView* 超级列表框1;
  QLabel* 状态栏;
  RuleListPanel* ruleList_;
  RuleEditorWindow* ruleEditor_ = nullptr;

  EventList eventList_;
  ListColourStore colours_;
  std::unique_ptr<LogOutput> log_;
  std::unique_ptr<EventLog> eventLog_;
  EventListModel* eventModel_;
  TrayIcon* tray_;
  // Rules fire here, in the order of their events; their actions run on the
  // queue's own thread.
  std::unique_ptr<ActionQueue> actions_;
  struct ActionReport {
    enum Kind { Row, Error, Notice } kind;
    std::string text;    // the row's report, or the prompt's or notice's title
    std::string detail;  // the prompt's or notice's text
  };
  static constexpr qint64 kReportSliceMs = 8;
  // Called on the queue's thread; one call to take them is posted at a time.
  void PostActionReport(ActionReport report);
  // Lists what was posted, for at most budgetMs; false when there was nothing.
  bool TakeActionReports(qint64 budgetMs);
  std::mutex reportsMutex_;
  std::vector<ActionReport> postedReports_;
  std::deque<ActionReport> takenReports_;
  bool reportsRescheduled_ = false;
  std::int32_t currentEventPid_ = 0;
  QCheckBox* TypeBoxWidget(TypeBox box) const;
  // The selected row of the event list, or -1.
  int SelectedEventRow() const;

  std::vector<QWidget*> childWindows_;
  std::vector<ChildRatio> childRatios_;
  int childCount_ = 0;
  ChangeIntake* intake_ = nullptr;
  // Tells the settings cache of every change to config.ini, so that reading
  // a setting asks the disk nothing while the file is unchanged.
  QFileSystemWatcher* settingsWatch_ = nullptr;
  std::string configFile_;
  // The type boxes' captions, asked for every event; they never change.
  std::array<std::string, kTypeBoxCount> typeCaptions_;
  void WatchSettingsFile();
  std::function<void(const ChangeEvent&)> observer_;
  bool quitting_ = false;
  bool programSetsBoxes_ = false;
  // Why no change source could start, for the message that says so.
  std::string sourceError_;
  // The latest prompt nothing else could show, for the status line.
  static constexpr int kStatusFrameMs = 100;
  TrayIcon::Prompt fallbackPrompt_;
  QTimer fallbackTimer_;
  // Losses of the change source, told at most once a minute.
  LossNotices losses_;
  QTimer* lossTimer_ = nullptr;
  bool destroyed_ = false;
};

}  // namespace vantrel
