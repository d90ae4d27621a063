#include "ui/RuleListPanel.h"

#include "rules/RuleMatcher.h"
#include "text/AtomicFile.h"
#include "text/TextRules.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTreeView>
#include <cerrno>
#include <cstring>

namespace vantrel {

std::string ShownAction(const std::string& actionText) {
  if (OperationName(actionText) != "执行程序") return actionText;
  std::vector<std::string> fields = SplitText(Operand(actionText), "§");
  if (fields.size() < 3) return actionText;
  static const char* const kModes[] = {"普通激活", "隐藏窗口", "最小化激活", "最大化激活"};
  std::int64_t mode = LeadingInteger(fields[2]);
  return "【执行程序】" + fields[0] + "    参数: " + (fields[1].empty() ? std::string("(无)") : fields[1]) +
         "    方式: " + kModes[mode >= 0 && mode < 4 ? mode : 0];
}

RuleListPanel::RuleListPanel(QTreeView* view, std::string filePath, Host host, QObject* parent)
    : QObject(parent), view_(view), model_(new QStandardItemModel(0, 3, this)), filePath_(std::move(filePath)),
      host_(std::move(host)) {
  model_->setHorizontalHeaderLabels({"监控事件", "监控路径", "执行操作"});
  connect(model_, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
    if (item->column() != 0 || item->row() >= static_cast<int>(rules_.size())) return;
    MonitorRule& rule = rules_[static_cast<std::size_t>(item->row())];
    bool enabled = item->checkState() == Qt::Checked;
    if (rule.enabled != enabled) rule.marked = true;
    rule.enabled = enabled;
    if (!programChange_) OnUserTick(item->row());
  });
}

int RuleListPanel::SelectedRow() const {
  if (!view_->selectionModel()) return -1;
  QModelIndex current = view_->currentIndex();
  if (current.isValid() && view_->selectionModel()->isRowSelected(current.row(), QModelIndex())) return current.row();
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void RuleListPanel::Append(const MonitorRule& rule) {
  rules_.push_back(rule);
  auto* event = new QStandardItem(QString::fromStdString(rule.eventName));
  event->setCheckable(true);
  event->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
  event->setEditable(false);
  auto* path = new QStandardItem(QString::fromStdString(rule.monitoredPath));
  path->setEditable(false);
  auto* action = new QStandardItem(QString::fromStdString(ShownAction(rule.actionText)));
  action->setEditable(false);
  programChange_ = true;
  model_->appendRow({event, path, action});
  programChange_ = false;
}

bool RuleListPanel::ReadFileIntoList() {
  RuleFileContent content;
  int error = LoadRuleFile(filePath_, content);
  if (error && error != ENOENT) {
    fileError_ = FileErrorText(error);
    return false;
  }
  fileError_.clear();
  keptLines_ = std::move(content.kept);
  for (const MonitorRule& rule : content.rules) Append(rule);
  return true;
}

void RuleListPanel::Load() {
  if (ReadFileIntoList()) return;
  host_.prompt("无法读取监控规则文件 " + filePath_ + " (" + fileError_ +
                   "), 文件保持原样; 在它能被读取之前, 规则列表的修改不会保存。",
               true);
}

bool RuleListPanel::ChangeAllowed() {
  if (fileError_.empty()) return true;
  // Nothing could change while the file was unreadable, so the list is still
  // empty and takes the file's rules now, if it can be read.
  if (ReadFileIntoList()) {
    host_.rulesChanged();
    return true;
  }
  host_.prompt("监控规则文件 " + filePath_ + " 无法读取 (" + fileError_ + "), 规则列表不能修改。", true);
  return false;
}

bool RuleListPanel::Save() {
  if (!fileError_.empty()) return false;
  if (SaveRuleFile(filePath_, rules_, keptLines_)) return true;
  // The earlier file stays whole; the user must know this change is not kept.
  host_.prompt("保存监控规则失败: " + filePath_ + " (" + FileErrorText(errno) + ")", true);
  return false;
}

void RuleListPanel::Add(const std::string& eventName, const std::string& monitoredPath,
                        const std::string& actionText) {
  if (!ChangeAllowed()) return;
  bool enabled = !(host_.customPathMode() && monitoredPath == GlobalPathMarker);
  Append({eventName, monitoredPath, actionText, enabled});
  host_.promptTitled("添加监控成功!", monitoredPath);
  Save();
  host_.rulesChanged();
}

bool RuleListPanel::Replace(int row, const std::string& eventName, const std::string& monitoredPath,
                            const std::string& actionText) {
  if (row < 0 || row >= static_cast<int>(rules_.size()) || !ChangeAllowed()) return false;
  MonitorRule& rule = rules_[static_cast<std::size_t>(row)];
  rule.eventName = eventName;
  rule.monitoredPath = monitoredPath;
  rule.actionText = actionText;
  programChange_ = true;
  model_->item(row, 0)->setText(QString::fromStdString(eventName));
  model_->item(row, 1)->setText(QString::fromStdString(monitoredPath));
  model_->item(row, 2)->setText(QString::fromStdString(ShownAction(actionText)));
  programChange_ = false;
  Save();
  host_.rulesChanged();
  return true;
}

void RuleListPanel::SetTicked(int row, bool ticked) {
  programChange_ = true;
  model_->item(row, 0)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  programChange_ = false;
}

void RuleListPanel::UntickGlobalPathRules() {
  for (std::size_t row = 0; row < rules_.size(); ++row)
    if (rules_[row].monitoredPath == GlobalPathMarker) SetTicked(static_cast<int>(row), false);
}

void RuleListPanel::OnUserTick(int row) {
  const MonitorRule& rule = rules_[static_cast<std::size_t>(row)];
  if (host_.customPathMode() && rule.monitoredPath == GlobalPathMarker && rule.enabled) {
    SetTicked(row, false);
    host_.prompt("当前监控路径为自定义,无法打开全局路径!", false);
    return;
  }
  if (!ChangeAllowed()) return;
  Save();
}

void RuleListPanel::DeleteSelected() {
  int row = SelectedRow();
  if (row < 0 || !ChangeAllowed()) return;
  rules_.erase(rules_.begin() + row);
  RuleRemoved(keptLines_, static_cast<std::size_t>(row));
  model_->removeRow(row);
  Save();
  host_.rulesChanged();
}

void RuleListPanel::EnableAll() {
  if (!ChangeAllowed()) return;
  bool custom = host_.customPathMode(), whole = host_.wholeDiskMode();
  for (std::size_t row = 0; row < rules_.size(); ++row) {
    bool global = rules_[row].monitoredPath == GlobalPathMarker;
    if (whole || (custom && !global)) SetTicked(static_cast<int>(row), true);
  }
  Save();
}

void RuleListPanel::DisableAll() {
  if (!ChangeAllowed()) return;
  for (std::size_t row = 0; row < rules_.size(); ++row) SetTicked(static_cast<int>(row), false);
  Save();
}

void RuleListPanel::InvertAll() {
  if (!ChangeAllowed()) return;
  bool custom = host_.customPathMode();
  for (std::size_t row = 0; row < rules_.size(); ++row) {
    bool ticked = rules_[row].enabled;
    bool global = rules_[row].monitoredPath == GlobalPathMarker;
    if (ticked || !(custom && global)) SetTicked(static_cast<int>(row), !ticked);
  }
  Save();
}

void RuleListPanel::ClearAll() {
  if (!host_.ask("提示", "是否要清空监控列表?") || !ChangeAllowed()) return;
  rules_.clear();
  model_->removeRows(0, model_->rowCount());
  Save();
  host_.rulesChanged();
}

}  // namespace vantrel
