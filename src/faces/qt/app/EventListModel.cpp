#include "faces/qt/app/EventListModel.h"

#include "faces/shared/FaceTexts.h"
#include "text/Codec.h"

#include <QColor>
#include <QTimer>

namespace vantrel {

EventListModel::EventListModel(const EventList& list, const ListColourStore& colours, QObject* parent)
    : QAbstractTableModel(parent), list_(list), colours_(colours) {}

int EventListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int EventListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : EventList::kColumns; }

QColor EventListModel::FromColorRef(std::uint32_t colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QVariant EventListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      std::string_view cell = list_.Cell(static_cast<std::size_t>(index.row()), index.column());
      return QString::fromStdString(ReadableText(cell));
    }
    case Qt::ForegroundRole:
    case Qt::BackgroundRole: {
      auto colour = colours_.CellColourAt(static_cast<std::size_t>(index.row()), index.column());
      if (!colour) return {};
      return FromColorRef(role == Qt::ForegroundRole ? colour->text : colour->background);
    }
    default:
      return {};
  }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 4) return {};
  return QString::fromUtf8(kEventColumnTitles[section]);
}

void EventListModel::RowsAppended() {
  if (scheduled_) return;
  scheduled_ = true;
  const qint64 since = sinceSync_.isValid() ? sinceSync_.elapsed() : kFrameMs;
  QTimer::singleShot(since >= kFrameMs ? 0 : static_cast<int>(kFrameMs - since), this, [this] { Sync(); });
}

void EventListModel::Sync() {
  scheduled_ = false;
  sinceSync_.start();
  int count = static_cast<int>(list_.RowCount());
  if (count < shown_) {
    beginResetModel();
    shown_ = count;
    endResetModel();
  } else if (count > shown_) {
    beginInsertRows(QModelIndex(), shown_, count - 1);
    shown_ = count;
    endInsertRows();
    emit Appended();
  }
}

void EventListModel::RowsRecoloured() {
  if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, EventList::kColumns - 1));
}

void EventListModel::Cleared() {
  beginResetModel();
  shown_ = static_cast<int>(list_.RowCount());
  endResetModel();
}

}  // namespace vantrel
