#include "faces/qt/app/RuleListModel.h"


#include <QColor>

namespace vantrel {

RuleListModel::RuleListModel(RuleStore& store, QObject* parent) : QAbstractTableModel(parent), store_(store) {
  RuleStore::Observer o;
  o.aboutToInsert = [this](std::size_t row, std::size_t count) {
    beginInsertRows({}, static_cast<int>(row), static_cast<int>(row + count - 1));
  };
  o.inserted = [this](std::size_t, std::size_t) { endInsertRows(); };
  o.aboutToRemove = [this](std::size_t row) { beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row)); };
  o.removed = [this](std::size_t) { endRemoveRows(); };
  o.aboutToReset = [this] { beginResetModel(); };
  o.reset = [this] { endResetModel(); };
  o.rowChanged = [this](std::size_t row) {
    emit dataChanged(index(static_cast<int>(row), 0), index(static_cast<int>(row), 2));
  };
  store_.SetObserver(std::move(o));
}

int RuleListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(store_.Rules().size());
}

int RuleListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant RuleListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const MonitorRule& rule = store_.Rules()[static_cast<std::size_t>(index.row())];
  if (role == Qt::CheckStateRole && index.column() == 0) return rule.enabled ? Qt::Checked : Qt::Unchecked;
  // A rule that can never act is kept as it was read, and marked with why.
  if (role == Qt::ToolTipRole || role == Qt::ForegroundRole) {
    const std::optional<std::string> never = RuleNeverActsText(rule);
    if (!never) return {};
    if (role == Qt::ForegroundRole) return QColor(0xB0, 0x30, 0x30);
    return QString::fromStdString(*never);
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case 0:
      return QString::fromStdString(rule.eventName);
    case 1:
      return QString::fromStdString(ShownRulePath(rule));
    default:
      return QString::fromStdString(ShownAction(rule.actionText));
  }
}

bool RuleListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  store_.SetEnabledByUser(static_cast<std::size_t>(index.row()), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags RuleListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant RuleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < 3 ? QString::fromUtf8(kRuleColumnTitles[section]) : QVariant();
}

}  // namespace vantrel
