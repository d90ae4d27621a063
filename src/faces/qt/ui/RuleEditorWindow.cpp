#include "faces/qt/ui/RuleEditorWindow.h"

#include "faces/qt/support/Dialogs.h"
#include "faces/qt/support/FileDialogs.h"
#include "platform/ThisProcess.h"
#include "rules/RulePath.h"
#include "text/PathRoutines.h"
#include "text/ShellLink.h"
#include "text/TextRules.h"

#include <QCheckBox>
#include <algorithm>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

namespace vantrel {
namespace {

// COLORREF 0xFF8800: blue FF, green 88, red 00.
const QColor kPathColour(0x00, 0x88, 0xFF);
const QColor kErrorColour(0xC0, 0x20, 0x20);
const char* const kPickTitle = "选择需要监控的文件/文件夹";

template <typename W>
W* Make(QWidget* parent, const char* name, const char* text, QRect at) {
  auto* w = new W(QString::fromUtf8(text), parent);
  w->setObjectName(QString::fromUtf8(name));
  w->setGeometry(at);
  return w;
}

void SetTextColour(QWidget* box, const QColor& colour) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Text, colour);
  palette.setColor(QPalette::WindowText, colour);
  box->setPalette(palette);
}

QLineEdit* MakeBox(QWidget* parent, const char* name, QRect at) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(at);
  // Values in the path colour; an empty box shows its hint in the style's grey.
  SetTextColour(box, kPathColour);
  return box;
}

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
  // A separator takes position 4 and is never selected, by mouse or arrow key.
  for (int i = 0; i < static_cast<int>(std::size(kEventItems)); ++i) {
    if (i == kEventSeparator) {
      组合框1->insertSeparator(i);
    } else {
      组合框1->addItem(QString::fromUtf8(kEventItems[i]));
    }
  }
  标签1->setBuddy(组合框1);
  connect(组合框1, &QComboBox::activated, this, &RuleEditorWindow::OnEventChosen);

  标签2 = Make<QLabel>(this, "标签2", "监控路径∶", {20, 56, 80, 24});
  编辑框1 = MakeBox(this, "编辑框1", {100, 54, 280, 26});
  编辑框1->setPlaceholderText(kCueText);
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
    connect(radio, &QRadioButton::toggled, this, [this](bool on) {
      if (on) OnOperationChosen();
    });

  标签_路径 = Make<QLabel>(this, "标签_路径", "复制文件∶", {20, 152, 80, 24});
  编辑框2 = MakeBox(this, "编辑框2", {100, 150, 280, 26});
  编辑框2->setPlaceholderText(kCueText);
  标签_路径->setBuddy(编辑框2);
  按钮2 = Make<QPushButton>(this, "按钮2", "选择", {390, 150, 60, 26});
  connect(按钮2, &QPushButton::clicked, this, &RuleEditorWindow::PickTargetPath);

  标签_路径1 = Make<QLabel>(this, "标签_路径1", "执行参数∶", {20, 188, 80, 24});
  编辑框3 = MakeBox(this, "编辑框3", {100, 186, 350, 26});
  标签_路径1->setBuddy(编辑框3);
  标签_方式 = Make<QLabel>(this, "标签_方式", "执行方式∶", {20, 224, 80, 24});
  组合框2 = new QComboBox(this);
  组合框2->setObjectName("组合框2");
  组合框2->setGeometry(100, 222, 150, 26);
  for (const char* item : kModeItems) 组合框2->addItem(QString::fromUtf8(item));
  标签_方式->setBuddy(组合框2);

  标签5 = Make<QLabel>(this, "标签5", "", {20, 258, 430, 40});
  标签5->setWordWrap(true);
  标签_状态 = Make<QLabel>(this, "标签_状态", "", {20, 302, 250, 30});
  按钮_试一试 = Make<QPushButton>(this, "按钮_试一试", "试一试", {280, 302, 80, 30});
  按钮_试一试->setToolTip("列出此规则现在会怎样处理已有的文件和列表中的变动, 不执行");
  connect(按钮_试一试, &QPushButton::clicked, this, &RuleEditorWindow::TryRule);
  标签_状态->setWordWrap(true);
  按钮3 = Make<QPushButton>(this, "按钮3", "添加", {370, 302, 80, 30});
  connect(按钮3, &QPushButton::clicked, this, &RuleEditorWindow::Submit);
  // Enter on a focused button presses it; elsewhere in the window it adds.
  for (QPushButton* button : {按钮1, 按钮2, 按钮_试一试, 按钮3}) button->setAutoDefault(true);
  按钮3->setDefault(true);

  // In the order the controls are read, top to bottom, left to right.
  QWidget* order[] = {组合框1, 编辑框1, 按钮1, 选择框1, 单选框_复制, 单选框_移动, 单选框_删除,
                      单选框_执行, 编辑框2, 按钮2, 编辑框3, 组合框2, 按钮_试一试, 按钮3};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  OnOperationChosen();
}

void RuleEditorWindow::OpenForAdd() {
  // Coming from a modification, the form starts empty: its contents were
  // the rule just saved, and adding them again would make a duplicate.
  if (按钮3->text() == "保存修改") {
    编辑框1->clear();
    编辑框2->clear();
    编辑框3->clear();
    if (选择框1->isChecked()) {
      选择框1->setChecked(false);
      OnGlobalPathClicked();
    }
  }
  modifying_ = QPersistentModelIndex();
  按钮3->setText("添加");
  setWindowTitle("添加监控");
  ShowStatus({}, false);
}

void RuleEditorWindow::SetWholeDiskMode(bool on) { 选择框1->setVisible(on); }

void RuleEditorWindow::ShowStatus(const QString& text, bool error) {
  SetTextColour(标签_状态, error ? kErrorColour : palette().color(QPalette::WindowText));
  标签_状态->setText(text);
}

void RuleEditorWindow::OnGlobalPathClicked() {
  bool global = 选择框1->isChecked();
  if (global) {
    编辑框1->setText(QString::fromUtf8(GlobalPathMarker.data(), GlobalPathMarker.size()));
  } else {
    编辑框1->clear();
  }
  编辑框1->setEnabled(!global);
  按钮1->setEnabled(!global);
}

QRadioButton* RuleEditorWindow::Operation() const {
  for (QRadioButton* radio : {单选框_执行, 单选框_删除, 单选框_移动, 单选框_复制})
    if (radio->isChecked()) return radio;
  return nullptr;
}

void RuleEditorWindow::OnOperationChosen() {
  QRadioButton* chosen = Operation();
  if (!chosen) return;
  const RuleForm::Operation operation = Form().operation;
  const bool showMode = operation == RuleForm::Run;
  标签_路径->setText(chosen->text() + "∶");
  标签5->setText(QString::fromUtf8(OperationHint(operation)));
  标签_方式->setVisible(showMode);
  组合框2->setVisible(showMode);
  // What the chosen operation does not use cannot be reached.
  const bool target = chosen != 单选框_删除, parameters = chosen == 单选框_执行;
  for (QWidget* w : {static_cast<QWidget*>(标签_路径), static_cast<QWidget*>(编辑框2), static_cast<QWidget*>(按钮2)})
    w->setEnabled(target);
  标签_路径1->setEnabled(parameters);
  编辑框3->setEnabled(parameters);
}

void RuleEditorWindow::OnEventChosen(int index) {
  if (组合框1->itemText(index) == "-" || index == kEventSeparator) 组合框1->setCurrentIndex(kEventInsteadOfSeparator);
}

void RuleEditorWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && 按钮3->isEnabled()) {
    按钮3->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

QString RuleEditorWindow::StartingPoint(const QString& current) {
  if (!current.isEmpty() && QFileInfo::exists(current)) return current;
  return QDir::homePath();
}

void RuleEditorWindow::PickMonitoredPath() {
  QString picked = FileDialogs::BrowseForPath(this, {kPickTitle, true, StartingPoint(编辑框1->text())});
  // A cancelled picker changes nothing.
  if (!picked.isEmpty()) 编辑框1->setText(picked);
}

void RuleEditorWindow::PickTargetPath() {
  if (单选框_删除->isChecked()) return;
  bool program = 单选框_执行->isChecked();
  QString picked = FileDialogs::BrowseForPath(
      this, {program ? "选择要执行的程序" : "选择目标文件夹", program, StartingPoint(编辑框2->text())});
  if (!picked.isEmpty()) 编辑框2->setText(picked);
}

void RuleEditorWindow::DropPath(const QString& path, QWidget* under) {
  if (under == 编辑框2 || under == 编辑框3) {
    if (std::optional<std::string> target = DroppedTarget(Form().operation, path.toStdString()))
      编辑框2->setText(QString::fromStdString(*target));
    return;
  }
  if (!编辑框1->isEnabled()) return;
  编辑框1->setText(path);
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
  const RuleForm form = FormOf(rule);
  组合框1->setCurrentIndex(form.event);
  if (form.global != 选择框1->isChecked()) {
    // A box left disabled by an earlier global rule would lock this path.
    选择框1->setChecked(form.global);
    OnGlobalPathClicked();
  }
  编辑框1->setText(QString::fromStdString(form.path));
  QRadioButton* const radios[] = {单选框_复制, 单选框_移动, 单选框_删除, 单选框_执行};
  radios[form.operation]->setChecked(true);
  OnOperationChosen();
  编辑框2->setText(QString::fromStdString(form.target));
  if (form.operation == RuleForm::Run) {
    编辑框3->setText(QString::fromStdString(form.parameters));
    组合框2->setCurrentIndex(form.mode);
  }
  modifying_ = index;
  按钮3->setText("保存修改");
  setWindowTitle("修改事件类型-" + QString::number(index.row()));
  ShowStatus({}, false);
}

RuleForm RuleEditorWindow::Form() const {
  RuleForm form;
  form.event = std::max(组合框1->currentIndex(), 0);
  form.path = 编辑框1->text().toStdString();
  form.global = 选择框1->isChecked();
  QRadioButton* const radios[] = {单选框_复制, 单选框_移动, 单选框_删除, 单选框_执行};
  for (int i = 0; i < 4; ++i)
    if (radios[i]->isChecked()) form.operation = static_cast<RuleForm::Operation>(i);
  form.target = 编辑框2->text().toStdString();
  form.parameters = 编辑框3->text().toStdString();
  form.mode = std::max(组合框2->currentIndex(), 0);
  return form;
}

void RuleEditorWindow::TryRule() {
  bool ok = false;
  const std::string text =
      TryForm(Form(), platform::UserHome(), host_.listed ? host_.listed() : std::vector<ListedChange>{}, ok);
  if (!ok) {
    ShowStatus(QString::fromStdString(text), true);
    Dialogs::Tell(this, "提示:", QString::fromStdString(text), Dialogs::Icon::Error);
    return;
  }
  Dialogs::ShowText(this, "试一试", QString::fromStdString(text));
}

void RuleEditorWindow::Submit() {
  auto refuse = [this](const QString& text) {
    ShowStatus(text, true);
    Dialogs::Tell(this, "提示:", text, Dialogs::Icon::Error);
  };
  RuleForm form = Form();
  if (std::optional<std::string> why = FormRefusal(form)) return refuse(QString::fromStdString(*why));
  const FormPathCheck paths = CheckFormPaths(form, platform::UserHome());
  if (paths.refusal) return refuse(QString::fromStdString(*paths.refusal));
  // The boxes show what the rule will hold.
  if (!form.global) 编辑框1->setText(QString::fromStdString(form.path));
  if (form.operation != RuleForm::Delete) 编辑框2->setText(QString::fromStdString(form.target));
  for (const std::string& folder : paths.missingFolders) {
    if (!Dialogs::Ask(this, "提示:", QString::fromStdString(MakeFolderQuestion(folder))))
      return refuse(QString::fromStdString("文件夹 " + folder + " 不存在, 监控未添加。"));
    if (std::optional<std::string> failed = MakeFolders(folder)) return refuse(QString::fromStdString(*failed));
  }
  if (!Dialogs::Ask(this, "添加提示:", QString::fromStdString(FormConfirmation(form)))) return;
  const MonitorRule wanted = RuleOf(form);
  if (按钮3->text() == "保存修改") {
    if (!modifying_.isValid()) {
      OpenForAdd();
      return refuse("要修改的监控已被删除, 修改未保存。");
    }
    if (!host_.rules->Replace(static_cast<std::size_t>(modifying_.row()), wanted.eventName, wanted.monitoredPath,
                              wanted.actionText))
      return;
    OpenForAdd();
    // Done with this rule: the editor goes, so that 添加 cannot repeat it.
    close();
    host_.prompt("修改事件成功!", form.path);
    return;
  }
  if (AlreadyListed(host_.rules->Rules(), wanted) && !Dialogs::Ask(this, "添加提示:", kAlreadyListedQuestion)) return;
  host_.rules->Add(wanted.eventName, wanted.monitoredPath, wanted.actionText);
}

}  // namespace vantrel
