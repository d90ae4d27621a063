#include "ui/RuleEditorWindow.h"

#include "support/Dialogs.h"
#include "support/FileDialogs.h"
#include "text/PathRoutines.h"
#include "text/ShellLink.h"
#include "text/TextRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>

namespace vantrel {
namespace {

const QColor kGrey(0x80, 0x80, 0x80);
// COLORREF 0xFF8800: blue FF, green 88, red 00.
const QColor kPathColour(0x00, 0x88, 0xFF);
const char* const kPickTitle = "选择需要监控的文件/文件夹";

template <typename W>
W* Make(QWidget* parent, const char* name, const char* text, QRect at) {
  auto* w = new W(QString::fromUtf8(text), parent);
  w->setObjectName(QString::fromUtf8(name));
  w->setGeometry(at);
  return w;
}

void SetTextColour(QLineEdit* box, const QColor& colour) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Text, colour);
  box->setPalette(palette);
}

struct OperationLook {
  const char* hint;
  bool showMode;
};

}  // namespace

RuleEditorWindow::RuleEditorWindow(Host host, bool wholeDiskMode, QWidget* owner)
    : QWidget(owner, Qt::Window), host_(std::move(host)) {
  setObjectName("RuleEditorWindow");
  setAcceptDrops(true);
  BuildControls();
  SetWholeDiskMode(wholeDiskMode);
  OpenForAdd();
}

void RuleEditorWindow::BuildControls() {
  setFixedSize(470, 345);
  标签1 = Make<QLabel>(this, "标签1", "监控事件∶", {20, 20, 80, 24});
  组合框1 = new QComboBox(this);
  组合框1->setObjectName("组合框1");
  组合框1->setGeometry(100, 18, 200, 26);
  组合框1->addItems({"新建文件", "删除文件", "更新文件", "重命名文件", "-", "新建目录", "删除目录", "重命名目录"});
  标签1->setBuddy(组合框1);
  connect(组合框1, &QComboBox::activated, this, &RuleEditorWindow::OnEventChosen);

  标签2 = Make<QLabel>(this, "标签2", "监控路径∶", {20, 56, 80, 24});
  编辑框1 = new QLineEdit(this);
  编辑框1->setObjectName("编辑框1");
  编辑框1->setGeometry(100, 54, 280, 26);
  编辑框1->installEventFilter(this);
  标签2->setBuddy(编辑框1);
  按钮1 = Make<QPushButton>(this, "按钮1", "选择", {390, 54, 60, 26});
  connect(按钮1, &QPushButton::clicked, this, &RuleEditorWindow::PickMonitoredPath);
  选择框1 = Make<QCheckBox>(this, "选择框1", "全盘路径监控", {100, 86, 150, 24});
  connect(选择框1, &QCheckBox::clicked, this, &RuleEditorWindow::OnGlobalPathClicked);

  标签3 = Make<QLabel>(this, "标签3", "执行操作∶", {20, 118, 80, 24});
  单选框_复制 = Make<QRadioButton>(this, "单选框_复制", "复制文件", {100, 116, 90, 24});
  单选框_移动 = Make<QRadioButton>(this, "单选框_移动", "移动文件", {190, 116, 90, 24});
  单选框_删除 = Make<QRadioButton>(this, "单选框_删除", "删除文件", {280, 116, 90, 24});
  单选框_执行 = Make<QRadioButton>(this, "单选框_执行", "执行程序", {370, 116, 90, 24});
  单选框_复制->setChecked(true);
  for (QRadioButton* radio : {单选框_复制, 单选框_移动, 单选框_删除, 单选框_执行})
    connect(radio, &QRadioButton::clicked, this, &RuleEditorWindow::OnOperationChosen);

  标签_路径 = Make<QLabel>(this, "标签_路径", "复制文件∶", {20, 152, 80, 24});
  编辑框2 = new QLineEdit(this);
  编辑框2->setObjectName("编辑框2");
  编辑框2->setGeometry(100, 150, 280, 26);
  编辑框2->installEventFilter(this);
  标签_路径->setBuddy(编辑框2);
  按钮2 = Make<QPushButton>(this, "按钮2", "选择", {390, 150, 60, 26});
  connect(按钮2, &QPushButton::clicked, this, &RuleEditorWindow::PickTargetPath);

  标签_路径1 = Make<QLabel>(this, "标签_路径1", "执行参数∶", {20, 188, 80, 24});
  编辑框3 = new QLineEdit(this);
  编辑框3->setObjectName("编辑框3");
  编辑框3->setGeometry(100, 186, 350, 26);
  编辑框3->installEventFilter(this);
  标签_路径1->setBuddy(编辑框3);
  标签_方式 = Make<QLabel>(this, "标签_方式", "执行方式∶", {20, 224, 80, 24});
  组合框2 = new QComboBox(this);
  组合框2->setObjectName("组合框2");
  组合框2->setGeometry(100, 222, 150, 26);
  组合框2->addItems({"普通激活", "隐藏窗口", "最小化激活", "最大化激活"});
  标签_方式->setBuddy(组合框2);
  connect(组合框2, &QComboBox::activated, this, [this] { setFocus(); });

  标签5 = Make<QLabel>(this, "标签5", "", {20, 258, 430, 40});
  标签5->setWordWrap(true);
  按钮3 = Make<QPushButton>(this, "按钮3", "添加", {370, 302, 80, 30});
  connect(按钮3, &QPushButton::clicked, this, &RuleEditorWindow::Submit);

  for (QLineEdit* box : {编辑框1, 编辑框2}) {
    box->setText(kCueText);
    SetTextColour(box, kGrey);
  }
  OnOperationChosen();
}

void RuleEditorWindow::OpenForAdd() {
  modifying_ = QPersistentModelIndex();
  按钮3->setText("添加");
  setWindowTitle("添加监控");
}

void RuleEditorWindow::SetWholeDiskMode(bool on) { 选择框1->setVisible(on); }

void RuleEditorWindow::OnGlobalPathClicked() {
  bool global = 选择框1->isChecked();
  编辑框1->setText(global ? QString::fromUtf8(GlobalPathMarker.data(), GlobalPathMarker.size()) : kCueText);
  SetTextColour(编辑框1, kGrey);
  编辑框1->setEnabled(!global);
  按钮1->setEnabled(!global);
}

QRadioButton* RuleEditorWindow::Operation() const {
  for (QRadioButton* radio : {单选框_执行, 单选框_删除, 单选框_移动, 单选框_复制})
    if (radio->isChecked()) return radio;
  return nullptr;
}

void RuleEditorWindow::OnOperationChosen() {
  static const OperationLook copy{"小提示:  复制文件到指定目录,如果文件存在则自动加上序号", false};
  static const OperationLook move{"小提示:  移动文件到指定目录,如果文件存在则自动加上序号", false};
  static const OperationLook remove{"小提示∶ 删除文件不需要选择路径", false};
  static const OperationLook run{
      "小提示:  #文件名 自动替换为触发的文件名，#路径 自动替换为触发的文件路径，下方可自定义执行方式和参数", true};
  QRadioButton* chosen = Operation();
  if (!chosen) return;
  const OperationLook& look = chosen == 单选框_复制   ? copy
                              : chosen == 单选框_移动 ? move
                              : chosen == 单选框_删除 ? remove
                                                      : run;
  标签_路径->setText(chosen->text() + "∶");
  标签5->setText(QString::fromUtf8(look.hint));
  标签_方式->setVisible(look.showMode);
  组合框2->setVisible(look.showMode);
}

void RuleEditorWindow::OnEventChosen(int index) {
  if (组合框1->itemText(index) == "-") 组合框1->setCurrentIndex(3);
  setFocus();
}

bool RuleEditorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == 编辑框1 && event->type() == QEvent::MouseButtonPress && 编辑框1->text() == kCueText) {
    编辑框1->clear();
    SetTextColour(编辑框1, kPathColour);
  } else if (event->type() == QEvent::FocusIn && watched == 编辑框2) {
    // The target is filled by the pickers and by dropping, never by typing.
    QTimer::singleShot(0, 按钮2, [this] { 按钮2->setFocus(); });
  } else if (event->type() == QEvent::FocusIn && watched == 编辑框3 && !单选框_执行->isChecked()) {
    host_.prompt("提示:", "所选类型无需输入参数!");
    QTimer::singleShot(0, 按钮2, [this] { 按钮2->setFocus(); });
  }
  return QWidget::eventFilter(watched, event);
}

void RuleEditorWindow::SetPathText(QLineEdit* box, const QString& text, bool pathColour) {
  if (pathColour) SetTextColour(box, kPathColour);
  box->setText(text);
}

void RuleEditorWindow::PickMonitoredPath() {
  SetTextColour(编辑框1, kPathColour);
  QString picked = FileDialogs::BrowseForPath(
      this, {kPickTitle, true, QString::fromStdString(host_.programDir)});
  SetPathText(编辑框1, picked, true);
}

void RuleEditorWindow::PickTargetPath() {
  if (单选框_删除->isChecked()) return;
  bool program = 单选框_执行->isChecked();
  QString picked = FileDialogs::BrowseForPath(this, {kPickTitle, program, QString::fromStdString(host_.programDir)});
  SetPathText(编辑框2, picked, true);
}

void RuleEditorWindow::DropPath(const QString& path, QWidget* under) {
  if (under == 编辑框2 || under == 编辑框3) {
    std::string p = path.toStdString();
    bool fileForAFolder = (单选框_复制->isChecked() || 单选框_移动->isChecked()) && !PathExtension(p).empty();
    if (fileForAFolder) {
      // The folder that holds the dropped file, with its trailing separator.
      std::size_t slash = p.rfind('/');
      编辑框2->setText(QString::fromStdString(slash == std::string::npos ? p : p.substr(0, slash + 1)));
    } else if (path.endsWith(".lnk")) {
      SetPathText(编辑框2, QString::fromStdString(ResolveShortcutTarget(p)), true);
    } else {
      SetPathText(编辑框2, path, true);
    }
    return;
  }
  if (!编辑框1->isEnabled()) return;
  SetPathText(编辑框1, path, true);
}

void RuleEditorWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void RuleEditorWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (paths.isEmpty()) return;
  // Several items together arrive as one text, each path ending in CR LF.
  QString text = paths.size() == 1 ? paths.first() : paths.join("\r\n") + "\r\n";
  DropPath(text, childAt(event->position().toPoint()));
  event->acceptProposedAction();
}

void RuleEditorWindow::OpenForModify(const QPersistentModelIndex& index, const MonitorRule& rule) {
  static const char* const kEvents[] = {"新建文件", "删除文件", "更新文件", "重命名文件",
                                        "-",        "新建目录", "删除目录", "重命名目录"};
  for (int i = 0; i < 8; ++i)
    if (i != 4 && rule.eventName == kEvents[i]) 组合框1->setCurrentIndex(i);
  SetPathText(编辑框1, QString::fromStdString(rule.monitoredPath), false);
  bool global = rule.monitoredPath == GlobalPathMarker;
  if (global != 选择框1->isChecked()) {
    // A box left disabled by an earlier global rule would lock this path.
    选择框1->setChecked(global);
    OnGlobalPathClicked();
    if (!global) SetPathText(编辑框1, QString::fromStdString(rule.monitoredPath), false);
  }
  const std::string& action = rule.actionText;
  std::size_t open = action.find("【"), close = action.find("】", open == std::string::npos ? 0 : open);
  std::size_t last = action.rfind("】");
  std::string operation =
      open == std::string::npos || close == std::string::npos ? "" : action.substr(open + 3, close - open - 3);
  std::string operand = last == std::string::npos ? "" : action.substr(last + 3);
  for (QRadioButton* radio : {单选框_复制, 单选框_移动, 单选框_删除, 单选框_执行}) {
    if (radio->text().toStdString() != operation) continue;
    radio->setChecked(true);
    OnOperationChosen();
  }
  std::vector<std::string> fields = SplitText(operand, "§");
  if (operation == "执行程序" && fields.size() > 2) {
    SetPathText(编辑框2, QString::fromStdString(fields[0]), false);
    编辑框3->setText(QString::fromStdString(fields[1]));
    组合框2->setCurrentIndex(static_cast<int>(LeadingInteger(fields[2])));
  } else {
    SetPathText(编辑框2, QString::fromStdString(operand), false);
  }
  modifying_ = index;
  按钮3->setText("保存修改");
  setWindowTitle("修改事件类型-" + QString::number(index.row()));
}

void RuleEditorWindow::Submit() {
  const QString path = 编辑框1->text();
  auto refuse = [this](const char* text) { Dialogs::Tell(this, "提示:", QString::fromUtf8(text), Dialogs::Icon::Error); };
  // An emptied box would make a rule that matches every path on the disk.
  if (path == kCueText || path.isEmpty()) return refuse("监控路径未输入!");
  if (编辑框2->text() == kCueText && !单选框_删除->isChecked()) return refuse("执行参数未输入!");
  // The rule file keeps one rule per line with "｜" between the fields.
  for (const QString& text : {path, 编辑框2->text(), 编辑框3->text()})
    if (text.contains(QString::fromUtf8("｜")) || text.contains('\r') || text.contains('\n'))
      return refuse("路径和参数中不能含有“｜”或换行: 规则文件用它们分隔规则和字段。");
  QRadioButton* chosen = Operation();
  const QString event = 组合框1->currentText();
  const QString operation = chosen ? chosen->text() : QString();
  if (!Dialogs::Ask(this, "添加提示:",
                    "监控事件∶" + event + "\r\n\r\n监控路径∶" + path + "\r\n\r\n执行操作∶" + operation))
    return;
  QString action = "【" + operation + "】" + 编辑框2->text();
  if (单选框_执行->isChecked()) action += "§" + 编辑框3->text() + "§" + QString::number(组合框2->currentIndex());
  if (按钮3->text() == "保存修改") {
    if (!modifying_.isValid()) {
      OpenForAdd();
      return refuse("要修改的监控已被删除, 修改未保存。");
    }
    if (!host_.replaceRule(modifying_.row(), event.toStdString(), path.toStdString(), action.toStdString())) return;
    OpenForAdd();
    host_.prompt("修改事件成功!", path.toStdString());
    return;
  }
  host_.addRule(event.toStdString(), path.toStdString(), action.toStdString());
}

}  // namespace vantrel
