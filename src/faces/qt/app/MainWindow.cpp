#include "faces/qt/app/MainWindow.h"

#include "faces/qt/app/Application.h"
#include "faces/qt/app/EngineDriver.h"
#include "faces/qt/app/EventListModel.h"
#include "faces/qt/app/ListMenus.h"
#include "faces/qt/app/Layout.h"
#include "faces/qt/app/RuleListModel.h"
#include "faces/qt/app/RuleListView.h"
#include "faces/qt/app/StatusLine.h"
#include "faces/qt/app/ViewHelpers.h"
#include "faces/shared/FaceTexts.h"
#include "log/FormatTime.h"
#include "faces/qt/skin/Skin.h"
#include "faces/qt/support/Desktop.h"
#include "faces/qt/support/Dialogs.h"
#include "faces/qt/support/FileDialogs.h"
#include "text/Codec.h"
#include "text/TextRules.h"
#include "faces/qt/ui/RuleEditorWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPersistentModelIndex>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTreeView>

namespace vantrel {
namespace {

constexpr int kRowHeight = 26;
// Frame margins beside the client area before the window manager has told
// them: a title bar and thin borders.
constexpr int kFrameWidthGuess = 8, kFrameHeightGuess = 38;

}  // namespace

MainWindow::MainWindow(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), tray_(new TrayIcon(this)) {
  setObjectName("MainWindow");
  // Every window of the program (the editor, the boxes, the pickers) wears it.
  QApplication::setWindowIcon(ProgramIcon());
  Engine::Options engine;
  engine.home = options_.home;
  engine.backend = options_.backend;
  engine.console = options_.console;
  engine.clock = options_.clock;
  engine.startNotice = options_.startNotice;
  if (options_.sourceFactory)
    engine.sourceFactory = [factory = options_.sourceFactory](const std::vector<std::string>&, std::string& error) {
      return factory(error);
    };
  EngineFace face;
  face.rowsAppended = [this] { eventModel_->RowsAppended(); };
  face.rowsRecoloured = [this] { eventModel_->RowsRecoloured(); };
  face.prompt = [this](const std::string& title, const std::string& text, PromptKind kind) { OnPrompt(title, text, kind); };
  face.ask = [this](const std::string& caption, const std::string& question, bool) {
    return Dialogs::Ask(this, QString::fromStdString(caption), QString::fromStdString(question));
  };
  face.settingsChanged = [this] {
    ShowSettings();
    ShowWatched();
  };
  engine_ = std::make_unique<Engine>(std::move(engine), std::move(face));
  setWindowTitle("Vantrel");
  BuildControls();
  BuildMenus();
  ConnectCheckBoxes();
  // Below the design size the lists give up room; below this, nothing would
  // stay readable.
  setMinimumSize(kReadableWidth, kReadableHeight);
  setGeometry(50, 50, kDesignWidth, kDesignHeight);
}

MainWindow::~MainWindow() {
  OnWindowDestroy();
  // The views and models read the engine: they go before it does.
  qDeleteAll(findChildren<QObject*>(QString(), Qt::FindDirectChildrenOnly));
}

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

  超级列表框2 = new RuleListView(this);
  超级列表框2->setRootIsDecorated(false);
  超级列表框2->setUniformRowHeights(true);
  // The last column fills what the view really has beside the others, with
  // or without a scroll bar.
  超级列表框2->header()->setStretchLastSection(true);
  ruleModel_ = new RuleListModel(engine_->Rules(), this);
  SetUpList(超级列表框2, "超级列表框2", ruleModel_, {150, 500, 310}, QRect(8, 96, 994, 176),
            [this](int c, int w) { 超级列表框2->setColumnWidth(c, w); });
  // Rows and headers as in the event list below it.
  超级列表框2->setItemDelegate(new RowHeightDelegate(kRowHeight, 超级列表框2));
  超级列表框2->header()->setDefaultAlignment(Qt::AlignCenter);

  eventModel_ = new EventListModel(engine_->Events(), engine_->Colours(), this);
  超级列表框1 = new QTableView(this);
  超级列表框1->verticalHeader()->hide();
  超级列表框1->setShowGrid(false);
  超级列表框1->setWordWrap(false);
  超级列表框1->horizontalHeader()->setStretchLastSection(true);
  超级列表框1->horizontalHeader()->setHighlightSections(false);
  SetUpList(超级列表框1, "超级列表框1", eventModel_, {180, 200, 100, 480}, QRect(8, 276, 994, 492),
            [this](int c, int w) { 超级列表框1->setColumnWidth(c, w); });
  // The list follows new rows only while its last row is in view: whoever
  // scrolled up to read a row stays where they are. The scroll bar is
  // judged whenever it moves and before rows come; a range the view has not
  // laid out yet (0 while the rows do not fit) says nothing, and the last
  // judgement stands.
  auto judge = [this] {
    const QScrollBar* bar = 超级列表框1->verticalScrollBar();
    if (eventModel_->rowCount() * kRowHeight <= 超级列表框1->viewport()->height()) {
      followRows_ = true;
    } else if (bar->maximum() > 0) {
      followRows_ = bar->value() >= bar->maximum();
    }
  };
  connect(eventModel_, &QAbstractItemModel::rowsAboutToBeInserted, this, judge);
  connect(超级列表框1->verticalScrollBar(), &QScrollBar::valueChanged, this, judge);
  connect(eventModel_, &EventListModel::Appended, this, [this] {
    if (followRows_) 超级列表框1->scrollToBottom();
  });
  状态栏 = new StatusLine(this, *options_.clock);
  状态栏->setGeometry(8, 772, 560, 22);
  监控状态 = new QLabel(this);
  监控状态->setObjectName("监控状态");
  监控状态->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  监控状态->setGeometry(572, 772, 430, 22);
  connect(eventModel_, &EventListModel::Appended, this, [this] { ShowRows(); });
  connect(超级列表框1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { ShowRows(); });
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(ruleModel_, signal, this, [this] { ShowWatched(); });
  connect(ruleModel_, &QAbstractItemModel::modelReset, this, [this] { ShowWatched(); });
  connect(ruleModel_, &QAbstractItemModel::dataChanged, this, [this] { ShowWatched(); });
  connect(超级列表框2, &RuleListView::AddRequested, this, [this] { OpenRuleEditorForAdd(); });
  connect(超级列表框2, &RuleListView::ModifyRequested, this, [this] { OpenRuleEditorForModify(); });
  connect(超级列表框2, &RuleListView::RemoveRequested, this, [this] { RemoveRuleAsked(); });
}

void MainWindow::ShowWatched() {
  watched_ = QString::fromStdString(WatchedText(*engine_));
  ShowRows();
}

void MainWindow::ShowRows() {
  const std::size_t rows = EventRows().RowCount();
  // What lies below the last row in view is what the user has not seen;
  // the bar counts rows.
  const std::size_t seen = static_cast<std::size_t>(超级列表框1->verticalScrollBar()->value()) +
                           static_cast<std::size_t>(超级列表框1->viewport()->height() / kRowHeight);
  const std::size_t below = followRows_ || seen >= rows ? 0 : rows - seen;
  监控状态->setText(watched_ + "  |  " + QString::fromStdString(RowsText(rows, below)));
}

void MainWindow::RemoveRuleAsked() {
  const int row = SelectedRuleRow();
  if (row < 0) return;
  if (!Dialogs::Ask(this, "提示", QString::fromStdString(RemoveRuleQuestion(Rules()[static_cast<std::size_t>(row)])))) return;
  engine_->Rules().Remove(static_cast<std::size_t>(row));
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
  auto on = [this](QMenu* m, const char* item, std::function<void()> command) {
    connect(m->findChild<QAction*>(QString::fromUtf8(item)), &QAction::triggered, this, command);
  };
  右键菜单 = menu("右键菜单", {"导出列表", "定位目录", "复制路径", "撤销"});
  on(右键菜单, "导出列表", [this] { ExportEventList(); });
  on(右键菜单, "定位目录", [this] { OpenEventFolder(); });
  on(右键菜单, "复制路径", [this] { CopyEventPath(); });
  on(右键菜单, "撤销", [this] { TakeBackSelectedRow(); });
  // Ctrl+Z on the event list takes back the selected action.
  auto* undo = new QShortcut(QKeySequence::Undo, 超级列表框1, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(undo, &QShortcut::activated, this, [this] { TakeBackSelectedRow(); });
  QMenu* colours = 右键菜单->addMenu("修改颜色");
  colours->setObjectName("修改颜色");
  for (const char* item : kColourKeys) {
    QAction* a = colours->addAction(QString::fromUtf8(item));
    a->setObjectName(QString::fromUtf8(item));
    connect(a, &QAction::triggered, this, [this, item] { ChooseLogColour(item); });
  }
  QAction* clear = 右键菜单->addAction("清空列表");
  clear->setObjectName("清空列表");
  connect(clear, &QAction::triggered, this, [this] { ClearEventList(); });

  RuleStore& rules = engine_->Rules();
  列表右键 = menu("列表右键", {"添加监控", "修改选中", "删除选中", "全部开启", "全部关闭", "反向选中", "清空监控"});
  on(列表右键, "添加监控", [this] { OpenRuleEditorForAdd(); });
  on(列表右键, "修改选中", [this] { OpenRuleEditorForModify(); });
  on(列表右键, "删除选中", [this, &rules] {
    if (int row = SelectedRuleRow(); row >= 0) rules.Remove(static_cast<std::size_t>(row));
  });
  on(列表右键, "全部开启", [&rules] { rules.EnableAll(); });
  on(列表右键, "全部关闭", [&rules] { rules.DisableAll(); });
  on(列表右键, "反向选中", [&rules] { rules.InvertAll(); });
  on(列表右键, "清空监控", [&rules] { rules.ClearAll(); });
  托盘右键 = menu("托盘右键", {"开启提示", "显示窗口", "退出程序"});
  // The item offers the opposite of the current state; the box's own
  // handler writes the setting.
  on(托盘右键, "开启提示", [this] { 选择框_托盘提示->setChecked(托盘右键->actions()[0]->text() == "开启提示"); });
  on(托盘右键, "显示窗口", [this] { ShowMainWindow(); });
  on(托盘右键, "退出程序", [this] { QuitProgram(); });

  auto* menus = new ListMenus(this);
  menus->Attach(超级列表框1, 右键菜单);
  menus->Attach(超级列表框2, 列表右键);
  // Commands that need a selected row are offered only with one.
  connect(右键菜单, &QMenu::aboutToShow, this, [this] {
    const int row = SelectedEventRow();
    for (const char* item : {"定位目录", "复制路径"}) 右键菜单->findChild<QAction*>(item)->setEnabled(row >= 0);
    右键菜单->findChild<QAction*>("撤销")->setEnabled(row >= 0 && engine_->CanTakeBack(static_cast<std::size_t>(row)));
  });
  connect(列表右键, &QMenu::aboutToShow, this, [this] {
    const bool selected = SelectedRuleRow() >= 0;
    for (const char* item : {"修改选中", "删除选中"}) 列表右键->findChild<QAction*>(item)->setEnabled(selected);
  });
}

QCheckBox* MainWindow::TypeBoxWidget(DispatchHost::TypeBox box) const {
  QCheckBox* const boxes[] = {选择框_创建文件, 选择框_重命名文件, 选择框_更新文件, 选择框_删除目录,
                              选择框_创建目录, 选择框_删除文件, 选择框_重命名目录};
  return boxes[box];
}

void MainWindow::ConnectCheckBoxes() {
  // Every change by the user counts, by mouse, keyboard or a screen reader's
  // toggle; what the window shows of the engine's settings writes nothing.
  auto follow = [this](QCheckBox* box, std::function<void(bool)> command) {
    connect(box, &QCheckBox::toggled, this, [this, command](bool on) {
      if (!programSetsBoxes_) command(on);
    });
  };
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i) {
    auto box = static_cast<DispatchHost::TypeBox>(i);
    follow(TypeBoxWidget(box), [this, box](bool on) { engine_->SetType(box, on); });
  }
  follow(选择框_保存日志, [this](bool on) { engine_->SetSaveLog(on); });
  follow(选择框_托盘提示, [this](bool on) {
    engine_->SetPrompts(on);
    ShowSettings();
  });
  follow(选择框_全盘, [this](bool on) {
    engine_->SetWholeDisk(on);
    ShowWatched();
    if (ruleEditor_) ruleEditor_->SetWholeDiskMode(on);
  });
  follow(选择框_自定义, [this](bool on) {
    engine_->SetCustomPath(on);
    ShowWatched();
    if (ruleEditor_) ruleEditor_->SetWholeDiskMode(!on);
  });
}

void MainWindow::ShowSettings() {
  const Settings& s = engine_->CurrentSettings();
  programSetsBoxes_ = true;
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i)
    TypeBoxWidget(static_cast<DispatchHost::TypeBox>(i))->setChecked(s.types[i]);
  选择框_全盘->setChecked(s.wholeDisk);
  选择框_自定义->setChecked(s.customPath);
  选择框_保存日志->setChecked(s.saveLog);
  选择框_托盘提示->setChecked(s.prompts);
  programSetsBoxes_ = false;
  托盘右键->actions()[0]->setText(s.prompts ? "关闭提示" : "开启提示");
}

bool MainWindow::OnMainWindowCreated() {
  if (!engine_->StartSource(sourceError_)) {
    // Why, and what to do about it: the bare message leaves the user nowhere.
    QString why = QString::fromStdString(sourceError_);
    if (why.contains("fanotify"))
      why += "\n全盘监控需要与程序位于同一目录、带有所需能力的监控助手 vantrel-watch-helper: "
             "请以 root 身份安装 (sudo cmake --install build), 或以 root 身份运行 scripts/run.sh; "
             "也可使用 --watch-backend inotify。";
    Dialogs::Tell(this, "提示:", "注册shell监视函数失败！\n" + why, Dialogs::Icon::Error);
    return false;
  }
  driver_ = new EngineDriver(*engine_, this);
  driver_->Listen();
  engine_->Colours().SetRowHeight(kRowHeight);
  超级列表框1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  超级列表框1->verticalHeader()->setDefaultSectionSize(kRowHeight);
  childCount_ = RecordChildLayout();
  tray_->Add(this, windowTitle(), 托盘右键);
  // Where neither a tray nor a notification service shows a prompt.
  tray_->SetFallback([this](const TrayIcon::Prompt& p) {
    状态栏->ShowSoon((p.title + " " + p.text).toStdString(), p.icon == TrayIcon::Error);
  });
  connect(tray_, &TrayIcon::Clicked, this, [this] { ShowMainWindow(); });
  engine_->Start();
  ShowWatched();
  PlaceMainWindow(engine_->SettingsFile().WindowSize());
  Application::SetErrorHandler(&Application::ShowRuntimeError);
  if (options_.skin) ApplySkin(EmbeddedSkinResource());
  return true;
}

// Prompts.

void MainWindow::OnPrompt(const std::string& title, const std::string& text, PromptKind kind) {
  if (kind == PromptKind::Event) {
    tray_->ShowPrompt(title, text);
  } else if (kind == PromptKind::ActionFailed) {
    // A burst of failures: the line shows the latest a few times a second.
    状态栏->ShowSoon(title + " " + text, true);
    tray_->ShowPrompt(title, text, TrayIcon::Error);
  } else {
    TellUser(title, text, kind == PromptKind::Error);
  }
}

void MainWindow::TellUser(const std::string& title, const std::string& text, bool error) {
  状态栏->Show(title + " " + text, error);
  // Commands given in the editor are answered where the user looks.
  if (ruleEditor_ && ruleEditor_->isVisible()) ruleEditor_->ShowStatus(QString::fromStdString(title + " " + text), error);
  tray_->ShowPrompt(title, text, error ? TrayIcon::Error : TrayIcon::Info);
}

// The rule editor.

RuleEditorWindow& MainWindow::RuleEditor() {
  if (!ruleEditor_) {
    RuleEditorWindow::Host host;
    host.prompt = [this](const std::string& title, const std::string& text) { TellUser(title, text, false); };
    host.rules = &engine_->Rules();
    host.listed = [this] { return ListedChanges(engine_->Events()); };
    ruleEditor_ = new RuleEditorWindow(std::move(host), engine_->CurrentSettings().wholeDisk, this);
  }
  return *ruleEditor_;
}

void MainWindow::ShowRuleEditor() {
  RuleEditorWindow& editor = RuleEditor();
  // Over the window it belongs to, not wherever the desktop puts new windows,
  // and whole on the screen however small.
  if (!editor.isVisible()) {
    editor.move(frameGeometry().center() - QPoint(editor.width() / 2, editor.height() / 2));
    if (QScreen* screen = this->screen()) {
      const QRect outer(editor.pos(), editor.size() + FrameExtra());
      editor.move(ToQRect(FitInto(ToLayout(outer), ToLayout(screen->availableGeometry()))).topLeft());
    }
  }
  editor.show();
  editor.raise();
  editor.activateWindow();
}

void MainWindow::OpenRuleEditorForAdd() {
  RuleEditor().OpenForAdd();
  ShowRuleEditor();
}

void MainWindow::OpenRuleEditorForModify() {
  int row = SelectedRuleRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要修改项!", false);
    return;
  }
  RuleEditor().OpenForModify(QPersistentModelIndex(ruleModel_->index(row, 0)), Rules()[static_cast<std::size_t>(row)]);
  ShowRuleEditor();
}

int MainWindow::SelectedRuleRow() const { return SelectedRow(超级列表框2); }

// The event list's menu.

int MainWindow::SelectedEventRow() const {
  eventModel_->Sync();
  return SelectedRow(超级列表框1);
}

void MainWindow::ExportEventList() {
  SaveRequest request;
  request.title = "选择保存日志路径";
  request.defaultName = QString::fromStdString(FormatTime(options_.clock->Local(), 3, 1, 2) + "-事件.txt");
  request.filter = "文本文件(*.txt)|*.txt";
  request.initialDirectory = QString::fromStdString(engine_->Home());
  request.defaultExtension = ".txt";
  request.overwritePrompt = request.pathMustExist = request.keepDirectory = true;
  QString path = FileDialogs::ShowSaveDialog(this, request);
  if (path.isEmpty()) return;
  std::string why;
  if (!engine_->ExportList(path.toStdString(), why)) {
    // A silent failure would look like a saved list.
    TellUser("提示:", "导出列表失败: " + path.toStdString() + " (" + why + ")", true);
    return;
  }
  TellUser("提示:", "已导出 " + std::to_string(EventRows().RowCount()) + " 行到 " + path.toStdString(), false);
}

void MainWindow::ChooseLogColour(const char* key) {
  std::int64_t colour = Dialogs::ChooseColour(this);
  if (colour >= 0) engine_->SetColour(key, static_cast<std::uint32_t>(colour));
}

void MainWindow::OpenEventFolder() {
  int row = SelectedEventRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要定位项!", false);
    return;
  }
  const std::string folder = RowFolder(EventRows(), static_cast<std::size_t>(row));
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
  QGuiApplication::clipboard()->setText(QString::fromStdString(ReadableText(EventRows().Cell(static_cast<std::size_t>(row), 3))));
  Dialogs::Tell(this, "提示:", "路径已复制到剪辑板!", Dialogs::Icon::Information);
}

void MainWindow::TakeBackSelectedRow() {
  const int row = SelectedEventRow();
  if (row < 0) {
    TellUser("提示:", "未选中需要撤销的操作!", false);
    return;
  }
  const TakeBackResult result = engine_->TakeBackRow(static_cast<std::size_t>(row));
  TellUser(result.done ? "撤销:" : "提示:", result.text, !result.done);
}

void MainWindow::ClearEventList() {
  if (!Dialogs::Ask(this, "提示", "是否要清空列表?")) return;
  engine_->ClearEvents();
  eventModel_->Cleared();
}

// Window placement and layout.

void MainWindow::PlaceMainWindow(const std::string& saved) {
  std::vector<std::string> parts = SplitText(saved, "*");
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->geometry();
  if (parts.size() >= 2) {
    std::int64_t w = LeadingInteger(parts[0]);
    if (w >= area.width()) {
      setWindowState(windowState() | Qt::WindowMaximized);
      return;
    }
    std::int64_t h = LeadingInteger(parts[1]);
    // A size no window was ever saved with (text, or smaller than readable)
    // gives the design size.
    if (w < kReadableWidth || h < kReadableHeight) w = kDesignWidth, h = kDesignHeight;
    resize(static_cast<int>(w), static_cast<int>(std::min<std::int64_t>(h, QWIDGETSIZE_MAX)));
  }
  int left = (area.width() - width()) / 2;
  int top = (area.height() - PrimaryTaskbarThickness() - height()) / 2;
  move(area.left() + left, area.top() + top);
  EnsureOnScreen();
}

QSize MainWindow::FrameExtra() const {
  const QSize extra = frameGeometry().size() - geometry().size();
  return isVisible() && (extra.width() > 0 || extra.height() > 0) ? extra : QSize(kFrameWidthGuess, kFrameHeightGuess);
}

void MainWindow::EnsureOnScreen(int maximizedLooks) {
  if (isFullScreen()) return;
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // At a scale other than 1 the frame's size is rounded to whole pixels of
  // ours: a pixel is left for that.
  const int rounding = screen->devicePixelRatio() == 1.0 ? 0 : 1;
  const QRect usable = screen->availableGeometry().adjusted(0, 0, -rounding, -rounding);
  if (isMaximized()) {
    // The window manager makes a maximized window the usable area's size,
    // or is meant to: one that has not within two seconds leaves it as
    // large as it was, over the screen's edges, and it is fitted instead.
    if (usable.adjusted(0, 0, rounding, rounding).contains(frameGeometry())) return;
    if (maximizedLooks < 20) {
      QTimer::singleShot(100, this, [this, maximizedLooks] { EnsureOnScreen(maximizedLooks + 1); });
      return;
    }
    setWindowState(windowState() & ~Qt::WindowMaximized);
  }
  // The outer rectangle, title bar included, inside the usable area: a
  // window saved larger than this screen, or placed off it, comes back.
  const QSize extra = FrameExtra();
  const QRect outer(pos(), size() + extra);
  const QRect fitted = ToQRect(FitInto(ToLayout(outer), ToLayout(usable)));
  if (fitted == outer) return;
  resize(fitted.size() - extra);
  move(fitted.topLeft());
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The frame is known only once the window manager has framed the window.
  QTimer::singleShot(0, this, [this] { EnsureOnScreen(); });
}

void MainWindow::SaveWindowSize() {
  engine_->SaveWindowSize(width(), height());
  tray_->Remove();
}

int MainWindow::RecordChildLayout() {
  childWindows_.clear();
  childDesign_.clear();
  // The children stand where BuildControls put them: the design's places.
  for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;
    childWindows_.push_back(child);
    childDesign_.push_back(ToLayout(child->geometry()));
  }
  return static_cast<int>(childDesign_.size());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  OnSizeChanged();
}

void MainWindow::OnSizeChanged() { ApplyChildLayout(); }

void MainWindow::ApplyChildLayout() {
  for (int i = 0; i < childCount_ && i < static_cast<int>(childWindows_.size()); ++i) {
    childWindows_[i]->setGeometry(ToQRect(PlaceDesignChild(childDesign_[i], width(), height())));
    childWindows_[i]->raise();
  }
  CheckBoxPlacement p = PlaceCheckBoxes(分组框1->width(), 分组框1->height(), 分组框2->height());
  const std::pair<QCheckBox*, LayoutPoint> places[] = {
      {选择框_全盘, p.全盘},         {选择框_自定义, p.自定义},     {选择框_保存日志, p.保存日志},
      {选择框_托盘提示, p.托盘提示}, {选择框_创建文件, p.创建文件}, {选择框_删除文件, p.删除文件},
      {选择框_更新文件, p.更新文件}, {选择框_重命名文件, p.重命名文件}, {选择框_创建目录, p.创建目录},
      {选择框_删除目录, p.删除目录}, {选择框_重命名目录, p.重命名目录}};
  for (auto [box, at] : places) box->move(ToQPoint(at));
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
  if (driver_) driver_->Stop();
  engine_->Stop();
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

}  // namespace vantrel
