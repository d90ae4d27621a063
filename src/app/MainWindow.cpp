#include "app/MainWindow.h"

#include "app/Application.h"
#include "app/ChangeIntake.h"
#include "app/EventListModel.h"
#include "app/ProgramDir.h"
#include "log/FormatTime.h"
#include "monitor/Decode.h"
#include "monitor/MountTable.h"
#include "skin/Skin.h"
#include "support/Desktop.h"
#include "support/Dialogs.h"
#include "support/FileDialogs.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"
#include "tray/TrayIcon.h"
#include "ui/RuleEditorWindow.h"
#include "ui/RuleListPanel.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPersistentModelIndex>
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QContextMenuEvent>
#include <QLabel>
#include <QStandardItemModel>
#include <QStandardItemModel>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <set>
#include <cstring>

namespace vantrel {
namespace {

constexpr int kMinWidth = 1010;
constexpr int kMinHeight = 800;
const char* const kTypes = "监控类型";
const char* const kMonitor = "监控设置";

QCheckBox* MakeBox(QWidget* parent, const char* name, const char* caption, int x, int y) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(x, y, 104, 24);
  return box;
}

void SetUpList(QAbstractItemView* list, const char* name, QAbstractItemModel* model,
               std::initializer_list<int> widths, QRect geometry, auto setWidth) {
  list->setObjectName(QString::fromUtf8(name));
  list->setFrameShape(QFrame::NoFrame);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setModel(model);
  int i = 0;
  for (int width : widths) setWidth(i++, width);
  list->setGeometry(geometry);
}

std::string Bool(bool b) { return b ? "真" : "假"; }

constexpr int kRowHeight = 26;

class RowHeightDelegate : public QStyledItemDelegate {
 public:
  RowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

// Where a list's menu opens: at the pointer for a click, at the current row
// for the keyboard (the Menu key, Shift+F10).
QPoint MenuPoint(QAbstractItemView* view, bool keyboard, QPoint global) {
  if (!keyboard) return global;
  QRect row = view->visualRect(view->currentIndex());
  QPoint at = row.isValid() ? QPoint(row.left() + 16, row.bottom()) : QPoint(8, 8);
  return view->viewport()->mapToGlobal(at);
}

std::string Caption(const QCheckBox* box) { return box->text().toStdString(); }

}  // namespace

MainWindow::MainWindow(Options options, QWidget* parent)
    : QWidget(parent),
      options_(std::move(options)),
      log_(std::make_unique<LogOutput>(ProgramDir())),
      eventLog_(std::make_unique<EventLog>(eventList_, colours_, *log_, *this)),
      tray_(new TrayIcon(this)) {
  setObjectName("MainWindow");
  configFile_ = ConfigFilePath();
  // Reports of the actions come back on the window's thread, in order.
  actions_ = std::make_unique<ActionQueue>(ActionOutputs{
      [this](const std::string& report) { PostActionReport({ActionReport::Row, report, {}}); },
      [this](const std::string& title, const std::string& text) { PostActionReport({ActionReport::Error, title, text}); },
      [this](const std::string& type, const std::string& text) { PostActionReport({ActionReport::Notice, type, text}); }});
  eventLog_->SetConsoleMirror(options_.console);
  setWindowTitle("Vantrel");
  BuildControls();
  for (int i = 0; i < kTypeBoxCount; ++i) typeCaptions_[i] = Caption(TypeBoxWidget(static_cast<TypeBox>(i)));
  BuildMenus();
  ConnectCheckBoxes();
  setMinimumSize(kMinWidth, kMinHeight);
  setGeometry(50, 50, kMinWidth, kMinHeight);
}

MainWindow::~MainWindow() { OnWindowDestroy(); }

void MainWindow::BuildControls() {
  分组框1 = new QGroupBox("全局事件类型", this);
  分组框1->setObjectName("分组框1");
  分组框1->setGeometry(8, 8, 490, 80);
  选择框_创建文件 = MakeBox(分组框1, "选择框_创建文件", "新建文件", 28, 16);
  选择框_删除文件 = MakeBox(分组框1, "选择框_删除文件", "删除文件", 140, 16);
  选择框_重命名文件 = MakeBox(分组框1, "选择框_重命名文件", "重命名文件", 252, 16);
  选择框_更新文件 = MakeBox(分组框1, "选择框_更新文件", "更新文件", 372, 16);
  选择框_创建目录 = MakeBox(分组框1, "选择框_创建目录", "新建目录", 28, 48);
  选择框_删除目录 = MakeBox(分组框1, "选择框_删除目录", "删除目录", 140, 48);
  选择框_重命名目录 = MakeBox(分组框1, "选择框_重命名目录", "重命名目录", 252, 48);

  分组框2 = new QGroupBox("监控设置", this);
  分组框2->setObjectName("分组框2");
  // Margins of 8 on every side of the 1010 x 800 design size.
  分组框2->setGeometry(507, 8, 495, 80);
  选择框_全盘 = MakeBox(分组框2, "选择框_全盘", "全盘监控", 32, 34);
  选择框_自定义 = MakeBox(分组框2, "选择框_自定义", "自定义路径", 147, 34);
  选择框_保存日志 = MakeBox(分组框2, "选择框_保存日志", "保存日志", 262, 34);
  选择框_托盘提示 = MakeBox(分组框2, "选择框_托盘提示", "托盘提示", 378, 34);

  超级列表框2 = new QTreeView(this);
  超级列表框2->setRootIsDecorated(false);
  超级列表框2->setUniformRowHeights(true);
  // The last column fills what the view really has beside the others, with
  // or without a scroll bar.
  超级列表框2->header()->setStretchLastSection(true);
  RuleListPanel::Host host;
  host.customPathMode = [this] { return 选择框_自定义->isChecked(); };
  host.wholeDiskMode = [this] { return 选择框_全盘->isChecked(); };
  host.prompt = [this](const std::string& text, bool error) { TellUser("提示:", text, error); };
  host.promptTitled = [this](const std::string& title, const std::string& text) { TellUser(title, text, false); };
  host.ask = [this](const QString& caption, const QString& question) { return Dialogs::Ask(this, caption, question); };
  host.rulesChanged = [this] { UpdateWatchRoots(); };
  ruleList_ = new RuleListPanel(超级列表框2, RuleFilePath(), std::move(host), this);
  SetUpList(超级列表框2, "超级列表框2", ruleList_->Model(), {150, 500, 310}, QRect(8, 96, 994, 176),
            [this](int c, int w) { 超级列表框2->setColumnWidth(c, w); });
  // Rows and headers as in the event list below it.
  超级列表框2->setItemDelegate(new RowHeightDelegate(kRowHeight, 超级列表框2));
  超级列表框2->header()->setDefaultAlignment(Qt::AlignCenter);

  eventModel_ = new EventListModel(eventList_, colours_, this);
  超级列表框1 = new QTableView(this);
  超级列表框1->verticalHeader()->hide();
  超级列表框1->setShowGrid(false);
  超级列表框1->setWordWrap(false);
  超级列表框1->horizontalHeader()->setStretchLastSection(true);
  超级列表框1->horizontalHeader()->setHighlightSections(false);
  SetUpList(超级列表框1, "超级列表框1", eventModel_, {180, 200, 100, 480}, QRect(8, 276, 994, 492),
            [this](int c, int w) { 超级列表框1->setColumnWidth(c, w); });
  connect(eventModel_, &EventListModel::Appended, 超级列表框1, &QTableView::scrollToBottom);
  // The outcome of the user's last command, and prompts that no tray or
  // notification service could show.
  状态栏 = new QLabel(this);
  状态栏->setObjectName("状态栏");
  状态栏->setGeometry(8, 772, 994, 22);
  状态栏->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void MainWindow::BuildMenus() {
  auto menu = [this](const char* name, std::initializer_list<const char*> items) {
    auto* m = new QMenu(this);
    m->setObjectName(QString::fromUtf8(name));
    for (const char* item : items) {
      QAction* a = m->addAction(QString::fromUtf8(item));
      a->setObjectName(QString::fromUtf8(item));
    }
    return m;
  };
  右键菜单 = menu("右键菜单", {"导出列表", "定位目录", "复制路径"});
  const auto listItems = 右键菜单->actions();
  connect(listItems[0], &QAction::triggered, this, [this] { ExportEventList(); });
  connect(listItems[1], &QAction::triggered, this, [this] { OpenEventFolder(); });
  connect(listItems[2], &QAction::triggered, this, [this] { CopyEventPath(); });
  QMenu* colours = 右键菜单->addMenu("修改颜色");
  colours->setObjectName("修改颜色");
  for (const char* item : {"时间", "名称", "类型", "路径", "执行"}) {
    QAction* a = colours->addAction(QString::fromUtf8(item));
    a->setObjectName(QString::fromUtf8(item));
    connect(a, &QAction::triggered, this, [this, item] { ChooseLogColour(item); });
  }
  QAction* clear = 右键菜单->addAction("清空列表");
  clear->setObjectName("清空列表");
  connect(clear, &QAction::triggered, this, [this] { ClearEventList(); });
  列表右键 = menu("列表右键", {"添加监控", "修改选中", "删除选中", "全部开启", "全部关闭", "反向选中", "清空监控"});
  const auto ruleItems = 列表右键->actions();
  connect(ruleItems[0], &QAction::triggered, this, [this] { OpenRuleEditorForAdd(); });
  connect(ruleItems[1], &QAction::triggered, this, [this] { OpenRuleEditorForModify(); });
  connect(ruleItems[2], &QAction::triggered, ruleList_, &RuleListPanel::DeleteSelected);
  connect(ruleItems[3], &QAction::triggered, ruleList_, &RuleListPanel::EnableAll);
  connect(ruleItems[4], &QAction::triggered, ruleList_, &RuleListPanel::DisableAll);
  connect(ruleItems[5], &QAction::triggered, ruleList_, &RuleListPanel::InvertAll);
  connect(ruleItems[6], &QAction::triggered, ruleList_, &RuleListPanel::ClearAll);
  托盘右键 = menu("托盘右键", {"开启提示", "显示窗口", "退出程序"});

  for (auto [view, menu] : {std::pair<QAbstractItemView*, QMenu*>{超级列表框1, 右键菜单}, {超级列表框2, 列表右键}}) {
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    auto* shortcut = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), view, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this,
            [view, menu] { menu->popup(MenuPoint(view, true, {})); });
  }
  // Commands that need a selected row are offered only with one.
  connect(右键菜单, &QMenu::aboutToShow, this, [this] {
    const bool selected = SelectedEventRow() >= 0;
    for (const char* item : {"定位目录", "复制路径"}) 右键菜单->findChild<QAction*>(item)->setEnabled(selected);
  });
  connect(列表右键, &QMenu::aboutToShow, this, [this] {
    const bool selected = ruleList_->SelectedRow() >= 0;
    for (const char* item : {"修改选中", "删除选中"}) 列表右键->findChild<QAction*>(item)->setEnabled(selected);
  });
  const auto trayItems = 托盘右键->actions();
  connect(trayItems[0], &QAction::triggered, this, [this] { OnTrayMenuPromptItem(); });
  connect(trayItems[1], &QAction::triggered, this, [this] { ShowMainWindow(); });
  connect(trayItems[2], &QAction::triggered, this, [this] { QuitProgram(); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ContextMenu) {
    auto* e = static_cast<QContextMenuEvent*>(event);
    const bool keyboard = e->reason() == QContextMenuEvent::Keyboard;
    for (auto [view, menu] : {std::pair<QAbstractItemView*, QMenu*>{超级列表框1, 右键菜单}, {超级列表框2, 列表右键}}) {
      if (watched != view && watched != view->viewport()) continue;
      menu->popup(MenuPoint(view, keyboard, e->globalPos()));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::TellUser(const std::string& title, const std::string& text, bool error) {
  ShowStatus(title + " " + text, error);
  // Commands given in the editor are answered where the user looks.
  if (ruleEditor_ && ruleEditor_->isVisible()) ruleEditor_->ShowStatus(QString::fromStdString(title + " " + text), error);
  tray_->ShowPrompt(title, text, error ? TrayIcon::Error : TrayIcon::Info);
}

void MainWindow::ShowStatus(const std::string& text, bool error) {
  QPalette palette = 状态栏->palette();
  palette.setColor(QPalette::WindowText, error ? QColor(0xC0, 0x20, 0x20) : this->palette().color(QPalette::WindowText));
  状态栏->setPalette(palette);
  状态栏->setText(QString::fromStdString(FormatTime(std::nullopt, 1, 0, 2) + "  " + text));
}

void MainWindow::ConnectCheckBoxes() {
  // Every change by the user counts, by mouse, keyboard or a screen reader's
  // toggle; the program's own changes write nothing extra.
  auto follow = [this](QCheckBox* box, std::function<void()> handler) {
    connect(box, &QCheckBox::toggled, this, [this, handler] {
      if (!programSetsBoxes_) handler();
    });
  };
  for (QCheckBox* box : {选择框_创建文件, 选择框_删除文件, 选择框_重命名文件, 选择框_更新文件, 选择框_创建目录,
                         选择框_删除目录, 选择框_重命名目录})
    follow(box, [this, box] { WriteBox(kTypes, box); });
  follow(选择框_保存日志, [this] { WriteBox(kMonitor, 选择框_保存日志); });
  follow(选择框_托盘提示, [this] { OnTrayPromptClicked(); });
  follow(选择框_全盘, [this] { On全盘Clicked(); });
  follow(选择框_自定义, [this] { On自定义Clicked(); });
}

void MainWindow::SetBoxByProgram(QCheckBox* box, bool ticked) {
  bool outer = programSetsBoxes_;
  programSetsBoxes_ = true;
  box->setChecked(ticked);
  programSetsBoxes_ = outer;
}

bool MainWindow::OnMainWindowCreated() {
  if (!RegisterShellWatch()) {
    // Why, and what to do about it: the bare message leaves the user nowhere.
    QString why = QString::fromStdString(sourceError_);
    if (why.contains("fanotify"))
      why += "\n全盘监控需要与程序位于同一目录、带有所需能力的监控助手 vantrel-watch-helper: "
             "请以 root 身份安装 (sudo cmake --install build), 或以 root 身份运行 scripts/run.sh; "
             "也可使用 --watch-backend inotify。";
    Dialogs::Tell(this, "提示:", "注册shell监视函数失败！\n" + why, Dialogs::Icon::Error);
    return false;
  }
  colours_.SetRowHeight(kRowHeight);
  超级列表框1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  超级列表框1->verticalHeader()->setDefaultSectionSize(colours_.RowHeight());
  // The day of start-up names the log folder for the whole run.
  log_->SetLogFile(ProgramDir() + "/log/" + FormatTime(std::nullopt, 3, 1, 2), "log.txt");
  // What saves cut short by a kill left behind; ours alone, by their names.
  RemoveStaleTemporaries(ProgramDir());
  childCount_ = RecordChildLayout();
  actions_->SetLastActionTarget(ProgramDir());
  tray_->Add(this, windowTitle(), 托盘右键);
  // Where neither a tray nor a notification service shows a prompt.
  // A burst of changes prompts for each: the line shows the latest a few
  // times a second rather than redrawing for every one.
  tray_->SetFallback([this](const TrayIcon::Prompt& p) {
    fallbackPrompt_ = p;
    if (!fallbackTimer_.isActive()) fallbackTimer_.start();
  });
  fallbackTimer_.setSingleShot(true);
  fallbackTimer_.setInterval(kStatusFrameMs);
  connect(&fallbackTimer_, &QTimer::timeout, this, [this] {
    ShowStatus((fallbackPrompt_.title + " " + fallbackPrompt_.text).toStdString(), fallbackPrompt_.icon == TrayIcon::Error);
  });
  connect(tray_, &TrayIcon::Clicked, this, [this] { ShowMainWindow(); });
  WatchSettingsFile();
  LoadSettings();
  TellActionsNotDoneLastTime();
  Application::SetErrorHandler([](int code, const QString& message) { ShowRuntimeError(code, message); });
  if (options_.skin) ApplySkin(EmbeddedSkinResource());
  return true;
}

bool MainWindow::RegisterShellWatch() {
  if (intake_) return true;
  std::string error;
  std::unique_ptr<ChangeSource> source;
  if (options_.sourceFactory) {
    source = options_.sourceFactory(error);
  } else {
    source = StartChangeSource(options_.backend, WatchRoots(), error);
  }
  if (!source) {
    sourceError_ = error;
    return false;
  }
  intake_ = new ChangeIntake(
      std::move(source), [this](const ChangeNotification& n) { OnChangeNotification(n); },
      [this](const SourceReport& report) { OnSourceReport(report); }, this);
  return true;
}

bool MainWindow::UnregisterShellWatch() {
  if (!intake_) return false;
  delete intake_;
  intake_ = nullptr;
  return true;
}

void MainWindow::OnSourceReport(const SourceReport& report) { TellLosses(losses_.Add(report)); }

void MainWindow::TellLosses(const std::optional<std::string>& text) {
  if (text) eventLog_->LogNotice("变动丢失", *text);
  auto due = losses_.Due();
  if (!due) return;
  if (!lossTimer_) {
    lossTimer_ = new QTimer(this);
    lossTimer_->setSingleShot(true);
    connect(lossTimer_, &QTimer::timeout, this, [this] { TellLosses(losses_.Take()); });
  }
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - LossNotices::Clock::now());
  lossTimer_->start(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

void MainWindow::OnChangeNotification(const ChangeNotification& n) {
  std::optional<ChangeEvent> event = DecodeNotification(n);
  if (!event) return;
  if (n.code == SHCNE_DRIVEADD || n.code == SHCNE_DRIVEREMOVED) UpdateWatchRoots();
  // A folder made or removed on the way to a rule's folder moves the watch
  // down to it, or back up.
  if (n.code == SHCNE_MKDIR || n.code == SHCNE_RMDIR || n.code == SHCNE_RENAMEFOLDER) {
    const std::string& folder = n.code == SHCNE_RENAMEFOLDER && n.item2 ? *n.item2 : event->path;
    if (std::any_of(Rules().begin(), Rules().end(),
                    [&](const MonitorRule& r) { return PathWithin(r.monitoredPath, folder); }))
      UpdateWatchRoots();
  }
  if (observer_) observer_(*event);
  std::int32_t outer = currentEventPid_;
  currentEventPid_ = n.pid;
  DispatchChangeEvent(*event, *this);
  currentEventPid_ = outer;
}

// What the filter and the event log read of the window.

QCheckBox* MainWindow::TypeBoxWidget(TypeBox box) const {
  QCheckBox* const boxes[] = {选择框_创建文件, 选择框_重命名文件, 选择框_更新文件, 选择框_删除目录,
                              选择框_创建目录, 选择框_删除文件, 选择框_重命名目录};
  return boxes[box];
}

std::string MainWindow::TypeBoxCaption(TypeBox box) const { return typeCaptions_[box]; }

bool MainWindow::TypeBoxTicked(TypeBox box) const { return TypeBoxWidget(box)->isChecked(); }

bool MainWindow::CustomPathMode() const { return 选择框_自定义->isChecked(); }

std::string MainWindow::ProgramDirectory() const { return ProgramDir(); }

bool MainWindow::RowListed(std::string_view time, std::string_view eventName, std::string_view path) const {
  return eventList_.LatestSecondRepeats(time, eventName, path);
}

void MainWindow::AddEventRow(const std::string& name, const std::string& eventName, const std::string& path,
                             const std::string& newPath) {
  eventLog_->AddEventRow(name, eventName, path, newPath);
}

void MainWindow::MatchRules(const std::string& path, const std::string& eventName, const std::string& name,
                            const std::string& newPath) {
  if (!actions_) return;
  ActionJob job;
  for (const MonitorRule& rule : Rules())
    if (RuleFires(rule, path, eventName)) job.rules.push_back(rule);
  job.ours = currentEventPid_ != 0 &&
             currentEventPid_ == static_cast<std::int32_t>(QCoreApplication::applicationPid());
  if (!actions_->Wanted(job)) return;
  job.path = path;
  job.eventName = eventName;
  job.itemName = name;
  job.newPath = newPath;
  actions_->Submit(std::move(job));
}

std::string MainWindow::LastActionTarget() const { return actions_ ? actions_->LastActionTarget() : std::string(); }

// The rule list and the matcher's view of it.

std::string MainWindow::RuleFilePath() { return ProgramDir() + "/data.jl"; }

void MainWindow::AddRule(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText) {
  ruleList_->Add(eventName, monitoredPath, actionText);
}

bool MainWindow::SaveRuleFile() { return ruleList_->Save(); }

RuleEditorWindow& MainWindow::RuleEditor() {
  if (!ruleEditor_) {
    RuleEditorWindow::Host host;
    host.prompt = [this](const std::string& title, const std::string& text) { TellUser(title, text, false); };
    host.addRule = [this](const std::string& event, const std::string& path, const std::string& action) {
      AddRule(event, path, action);
    };
    host.replaceRule = [this](int row, const std::string& event, const std::string& path, const std::string& action) {
      return ruleList_->Replace(row, event, path, action);
    };
    host.hasRule = [this](const std::string& event, const std::string& path, const std::string& action) {
      return std::any_of(Rules().begin(), Rules().end(), [&](const MonitorRule& r) {
        return r.eventName == event && r.monitoredPath == path && r.actionText == action;
      });
    };
    ruleEditor_ = new RuleEditorWindow(std::move(host), 选择框_全盘->isChecked(), this);
  }
  return *ruleEditor_;
}

void MainWindow::ShowRuleEditor() {
  RuleEditorWindow& editor = RuleEditor();
  // Over the window it belongs to, not wherever the desktop puts new windows.
  if (!editor.isVisible()) editor.move(frameGeometry().center() - QPoint(editor.width() / 2, editor.height() / 2));
  editor.show();
  editor.raise();
  editor.activateWindow();
}

void MainWindow::OpenRuleEditorForAdd() {
  RuleEditor().OpenForAdd();
  ShowRuleEditor();
}

void MainWindow::OpenRuleEditorForModify() {
  int row = ruleList_->SelectedRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要修改项!", false);
    return;
  }
  RuleEditor().OpenForModify(QPersistentModelIndex(ruleList_->Model()->index(row, 0)),
                             Rules()[static_cast<std::size_t>(row)]);
  ShowRuleEditor();
}

void MainWindow::LoadRuleFile() { ruleList_->Load(); }

const RuleList& MainWindow::Rules() const { return ruleList_->Rules(); }

std::size_t MainWindow::RuleCount() const { return Rules().size(); }

const MonitorRule& MainWindow::RuleAt(std::size_t row) const { return Rules()[row]; }

void MainWindow::LogAction(const std::string& report) { eventLog_->LogAction(report); }

void MainWindow::ShowErrorPrompt(const std::string& title, const std::string& text) {
  tray_->ShowPrompt(title, text, TrayIcon::Error);
}

void MainWindow::FinishPendingActions() {
  if (!actions_) return;
  actions_->WaitIdle();
  while (TakeActionReports(std::numeric_limits<qint64>::max())) {
  }
}

void MainWindow::PostActionReport(ActionReport report) {
  bool first;
  {
    std::lock_guard lock(reportsMutex_);
    first = postedReports_.empty();
    postedReports_.push_back(std::move(report));
  }
  if (first) QMetaObject::invokeMethod(this, [this] { TakeActionReports(kReportSliceMs); }, Qt::QueuedConnection);
}

bool MainWindow::TakeActionReports(qint64 budgetMs) {
  {
    std::lock_guard lock(reportsMutex_);
    for (ActionReport& r : postedReports_) takenReports_.push_back(std::move(r));
    postedReports_.clear();
  }
  if (takenReports_.empty()) return false;
  // Thousands of small copies report faster than rows are made: a slice at
  // a time, so that the window goes on answering in between.
  QElapsedTimer timer;
  timer.start();
  while (!takenReports_.empty() && timer.elapsed() < budgetMs) {
    ActionReport r = std::move(takenReports_.front());
    takenReports_.pop_front();
    switch (r.kind) {
      case ActionReport::Row:
        LogAction(r.text);
        break;
      case ActionReport::Error:
        ShowErrorPrompt(r.text, r.detail);
        break;
      case ActionReport::Notice:
        eventLog_->LogNotice(r.text, r.detail);
        break;
    }
  }
  if (!takenReports_.empty() && !reportsRescheduled_) {
    reportsRescheduled_ = true;
    QTimer::singleShot(0, this, [this] {
      reportsRescheduled_ = false;
      TakeActionReports(kReportSliceMs);
    });
  }
  return true;
}

bool MainWindow::PromptsOn() const { return 选择框_托盘提示->isChecked(); }

bool MainWindow::SaveLogOn() const { return 选择框_保存日志->isChecked(); }

std::string MainWindow::ConfigFile() const { return configFile_; }

void MainWindow::WatchSettingsFile() {
  settingsWatch_ = new QFileSystemWatcher(this);
  const QString file = QString::fromStdString(configFile_);
  // The folder's watch sees the file made, replaced or removed; the file's
  // own watch sees it written in place. A replaced file is a new one to watch.
  auto changed = [this, file] {
    SettingsFilesChanged();
    settingsWatch_->removePath(file);
    if (QFileInfo::exists(file)) settingsWatch_->addPath(file);
  };
  connect(settingsWatch_, &QFileSystemWatcher::directoryChanged, this, changed);
  connect(settingsWatch_, &QFileSystemWatcher::fileChanged, this, changed);
  if (settingsWatch_->addPath(QString::fromStdString(ProgramDir()))) {
    changed();
    ReportSettingsChanges(true);
  }
}

void MainWindow::ShowPrompt(const std::string& title, const std::string& text) { tray_->ShowPrompt(title, text); }

void MainWindow::RowsAppended() { eventModel_->RowsAppended(); }

void MainWindow::RowsRecoloured() { eventModel_->RowsRecoloured(); }

// The event list's menu.

int MainWindow::SelectedEventRow() const {
  eventModel_->Sync();
  QModelIndex current = 超级列表框1->currentIndex();
  if (current.isValid() && 超级列表框1->selectionModel()->isRowSelected(current.row(), QModelIndex()))
    return current.row();
  const QModelIndexList rows = 超级列表框1->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::ExportEventList() {
  SaveRequest request;
  request.title = "选择保存日志路径";
  request.defaultName = QString::fromStdString(FormatTime(std::nullopt, 3, 1, 2) + "-事件.txt");
  request.filter = "文本文件(*.txt)|*.txt";
  request.initialDirectory = QString::fromStdString(ProgramDir());
  request.defaultExtension = ".txt";
  request.overwritePrompt = request.pathMustExist = request.keepDirectory = true;
  QString path = FileDialogs::ShowSaveDialog(this, request);
  if (path.isEmpty()) return;
  if (!WriteFileAtomically(path.toStdString(), Utf8ToGb18030(ExportText(eventList_)))) {
    // A silent failure would look like a saved list.
    TellUser("提示:", "导出列表失败: " + path.toStdString() + " (" + FileErrorText(errno) + ")", true);
    return;
  }
  TellUser("提示:", "已导出 " + std::to_string(eventList_.RowCount()) + " 行到 " + path.toStdString(), false);
}

void MainWindow::ChooseLogColour(const char* key) {
  std::int64_t colour = Dialogs::ChooseColour(this);
  if (colour < 0) return;
  // Written with its leading blank, as earlier versions did; read without.
  WriteSettingOrTell("日志颜色", std::string(" ") + key, std::to_string(colour));
  eventLog_->RecolourRows();
}

void MainWindow::OpenEventFolder() {
  int row = SelectedEventRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要定位项!", false);
    return;
  }
  std::string cell(eventList_.Cell(static_cast<std::size_t>(row), 3));
  if (std::size_t mark = cell.rfind("】"); mark != std::string::npos)
    cell = std::string(TrimBlanks(std::string_view(cell).substr(mark + std::string_view("】").size())));
  std::size_t slash = cell.rfind('/');
  std::string folder = slash == std::string::npos ? cell : cell.substr(0, slash + 1);
  // Without an opener nothing would happen at all.
  if (!OpenWithDesktop(QString::fromStdString(folder)))
    TellUser("提示:", "无法打开文件夹 " + ReadableText(folder) + ": 没有可用的桌面打开程序 (如 xdg-open)", true);
}

void MainWindow::CopyEventPath() {
  int row = SelectedEventRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要复制项!", false);
    return;
  }
  QGuiApplication::clipboard()->setText(QString::fromStdString(ReadableText(eventList_.Cell(static_cast<std::size_t>(row), 3))));
  Dialogs::Tell(this, "提示:", "路径已复制到剪辑板!", Dialogs::Icon::Information);
}

void MainWindow::ClearEventList() {
  if (!Dialogs::Ask(this, "提示", "是否要清空列表?")) return;
  eventList_.Clear();
  eventModel_->Cleared();
}

std::vector<std::string> MainWindow::WatchRoots() const {
  auto whole = [] { return WholeDiskRoots(QDir::homePath().toStdString(), ReadMountTable()); };
  // With both boxes ticked the custom-path box decides.
  if (选择框_自定义->isChecked() || !选择框_全盘->isChecked()) {
    std::vector<std::string> paths;
    for (const MonitorRule& rule : Rules()) paths.push_back(rule.monitoredPath);
    return CustomPathRoots(paths, GlobalPathMarker, whole);
  }
  return whole();
}

void MainWindow::UpdateWatchRoots() {
  if (intake_) intake_->Source().SetRoots(WatchRoots());
}

// Settings.

void MainWindow::WriteBox(const char* section, QCheckBox* box) {
  WriteSettingOrTell(section, Caption(box), Bool(box->isChecked()));
}

void MainWindow::WriteSettingOrTell(const char* section, const std::string& key, const std::string& value) {
  if (WriteSetting(configFile_, section, key, value)) return;
  TellUser("提示:", "保存设置失败: " + configFile_ + " (" + FileErrorText(errno) + ")", true);
}

void MainWindow::LoadSettings() {
  const std::string file = configFile_;
  if (int error = SettingsFileError(file)) {
    tray_->ShowPrompt("提示:",
                      "无法读取设置文件 " + file + " (" + FileErrorText(error) + "), 使用默认设置, 文件保持原样。",
                      TrayIcon::Error);
  }
  auto load = [&](QCheckBox* box, const char* section, const char* defaultValue) {
    bool on = ReadSetting(file, section, Caption(box), defaultValue) == "真";
    if (on) SetBoxByProgram(box, true);
    return on;
  };
  for (QCheckBox* box : {选择框_重命名文件, 选择框_更新文件, 选择框_删除目录, 选择框_创建目录, 选择框_删除文件,
                         选择框_创建文件, 选择框_重命名目录})
    load(box, kTypes, "真");
  load(选择框_自定义, kMonitor, "真");
  load(选择框_全盘, kMonitor, "");
  if (load(选择框_托盘提示, kMonitor, "真")) 托盘右键->actions()[0]->setText("关闭提示");
  load(选择框_保存日志, kMonitor, "");
  LoadRuleFile();
  // Copies a kill cut short in the rules' target folders.
  std::set<std::string> targets;
  for (const MonitorRule& rule : Rules()) {
    const std::string operation = OperationName(rule.actionText);
    if (operation == "复制文件" || operation == "移动文件") targets.insert(Operand(rule.actionText));
  }
  for (const std::string& target : targets)
    if (!target.empty()) RemoveStaleTemporaries(target);
  UpdateWatchRoots();
  PlaceMainWindow(ReadSetting(file, "程序尺寸", "XY", "1010*800"));
}

void MainWindow::OnTrayPromptClicked() {
  WriteBox(kMonitor, 选择框_托盘提示);
  托盘右键->actions()[0]->setText(选择框_托盘提示->isChecked() ? "关闭提示" : "开启提示");
}

void MainWindow::OnTrayMenuPromptItem() {
  // The box's own handler writes the setting and the item's caption.
  选择框_托盘提示->setChecked(托盘右键->actions()[0]->text() == "开启提示");
}

void MainWindow::On全盘Clicked() {
  bool on = 选择框_全盘->isChecked();
  WriteSettingOrTell(kMonitor, Caption(选择框_全盘), Bool(on));
  SetBoxByProgram(选择框_自定义, !on);
  WriteSettingOrTell(kMonitor, Caption(选择框_自定义), Bool(!on));
  if (ruleEditor_) ruleEditor_->SetWholeDiskMode(on);
  if (ruleList_->ChangeAllowed()) {
    if (!on) ruleList_->UntickGlobalPathRules();
    ruleList_->Save();
  }
  UpdateWatchRoots();
}

void MainWindow::On自定义Clicked() {
  bool on = 选择框_自定义->isChecked();
  WriteSettingOrTell(kMonitor, Caption(选择框_自定义), Bool(on));
  SetBoxByProgram(选择框_全盘, !on);
  WriteSettingOrTell(kMonitor, Caption(选择框_全盘), Bool(!on));
  if (ruleEditor_) ruleEditor_->SetWholeDiskMode(!on);
  if (ruleList_->ChangeAllowed()) {
    if (on) ruleList_->UntickGlobalPathRules();
    ruleList_->Save();
  }
  UpdateWatchRoots();
}

// Window placement and layout.

DisplayMode MainWindow::CurrentDisplayMode() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  auto clip = [](double v) { return static_cast<std::uint16_t>(static_cast<long long>(v) & 0xFFFF); };
  QSize size = screen->size();
  return {clip(screen->depth()), clip(size.width()), clip(size.height()), clip(screen->refreshRate())};
}

int MainWindow::TaskbarThickness() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 0;
  DisplayMode mode = CurrentDisplayMode();
  QRect full(screen->geometry().topLeft(), QSize(mode.width, mode.height));
  return vantrel::TaskbarThickness(full, screen->availableGeometry());
}

void MainWindow::PlaceMainWindow(const std::string& saved) {
  std::vector<std::string> parts = SplitText(saved, "*");
  if (parts.size() < 2) return;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->geometry();
  std::int64_t w = LeadingInteger(parts[0]);
  if (w >= area.width()) {
    setWindowState(windowState() | Qt::WindowMaximized);
    return;
  }
  std::int64_t h = std::min<std::int64_t>(LeadingInteger(parts[1]), QWIDGETSIZE_MAX);
  resize(static_cast<int>(w), static_cast<int>(h));
  int left = (area.width() - width()) / 2;
  int top = (area.height() - TaskbarThickness() - height()) / 2;
  move(area.left() + left, area.top() + top);
}

void MainWindow::SaveWindowSize() {
  WriteSetting(configFile_, "程序尺寸", "XY", std::to_string(width()) + "*" + std::to_string(height()));
  tray_->Remove();
}

int MainWindow::RecordChildLayout() {
  childWindows_.clear();
  childRatios_.clear();
  for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;
    childWindows_.push_back(child);
    childRatios_.push_back(RecordRatio(child->geometry(), size()));
  }
  return static_cast<int>(childRatios_.size());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  OnSizeChanged();
}

void MainWindow::OnSizeChanged() {
  if (width() < kMinWidth) {
    resize(kMinWidth, height());
    return;
  }
  if (height() < kMinHeight) {
    resize(width(), kMinHeight);
    return;
  }
  ApplyChildLayout();
}

void MainWindow::ApplyChildLayout() {
  for (int i = 0; i < childCount_ && i < static_cast<int>(childWindows_.size()); ++i) {
    childWindows_[i]->setGeometry(ApplyRatio(childRatios_[i], size()));
    childWindows_[i]->raise();
  }
  CheckBoxPlacement p = PlaceCheckBoxes(分组框1->size(), 分组框2->size());
  auto place = [](QCheckBox* box, QPoint at) { box->move(at); };
  place(选择框_全盘, p.全盘);
  place(选择框_自定义, p.自定义);
  place(选择框_保存日志, p.保存日志);
  place(选择框_托盘提示, p.托盘提示);
  place(选择框_创建文件, p.创建文件);
  place(选择框_删除文件, p.删除文件);
  place(选择框_更新文件, p.更新文件);
  place(选择框_重命名文件, p.重命名文件);
  place(选择框_创建目录, p.创建目录);
  place(选择框_删除目录, p.删除目录);
  place(选择框_重命名目录, p.重命名目录);
}

// Lifecycle.

bool MainWindow::OnQueryClose() {
  if (!Dialogs::Ask(this, "提示:", "是否要退出程序?")) return false;
  SaveWindowSize();
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (quitting_ || OnQueryClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void MainWindow::OnWindowDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  SaveWindowSize();
  FinishActionsForExit();
  UnregisterShellWatch();
  if (settingsWatch_) ReportSettingsChanges(false);
}

void MainWindow::FinishActionsForExit() {
  if (!actions_) return;
  actions_->Stop();
  // Changes still on their way are listed; their rules no longer run.
  if (intake_) {
    intake_->Source().Stop();
    intake_->DrainNow();
  }
  while (TakeActionReports(std::numeric_limits<qint64>::max())) {
  }
  std::vector<ActionJob> notDone = actions_->TakeNotDone();
  actions_.reset();
  for (const ActionJob& job : notDone)
    eventLog_->RecordNotice("未执行", job.eventName + " " + EffectivePath(job.path, job.eventName, job.itemName, job.newPath) +
                                          " (程序退出时规则尚未执行)");
  if (!notDone.empty()) WriteSetting(configFile_, "上次退出", "未执行", std::to_string(notDone.size()));
}

void MainWindow::TellActionsNotDoneLastTime() {
  const std::int64_t count = LeadingInteger(ReadSetting(configFile_, "上次退出", "未执行", "0"));
  if (count <= 0) return;
  eventLog_->LogNotice("未执行", "上次退出时有 " + std::to_string(count) + " 个事件的规则尚未执行, 已记入日志 " +
                                     log_->Directory() + log_->FileName());
  WriteSetting(configFile_, "上次退出", "未执行", "0");
}

void MainWindow::QuitProgram() {
  SaveWindowSize();
  quitting_ = true;
  QCoreApplication::exit(0);
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Hidden only while a tray icon can bring it back.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && QSystemTrayIcon::isSystemTrayAvailable())
    QTimer::singleShot(0, this, [this] { hide(); });
}

void MainWindow::ShowMainWindow() {
  showNormal();
  SetTopmost(false);
  raise();
  activateWindow();
}

void MainWindow::ComeForward() {
  if (!isVisible()) return;
  if (isMinimized()) showNormal();
  SetTopmost(true);
  raise();
  activateWindow();
}

void MainWindow::SetTopmost(bool topmost) {
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost) return;
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  show();
}

void MainWindow::ShowRuntimeError(int code, const QString& message) {
  Dialogs::Tell(nullptr, "提示:", QString("错误代码:%1\n错误信息:%2").arg(code).arg(message), Dialogs::Icon::Error);
}

}  // namespace vantrel
