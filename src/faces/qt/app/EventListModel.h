#pragma once
// Shows the event list's rows to the view. The rows themselves live in the
// core's EventList; new rows are announced to the view once per pass of the
// event loop, so that a burst of changes costs the view one update.
#include "log/EventList.h"
#include "log/ListColourStore.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>

namespace vantrel {

class EventListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  EventListModel(const EventList& list, const ListColourStore& colours, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Rows reach the view at most every kFrameMs: a burst of thousands of
  // changes a second then costs a few repaints of the list, not one for
  // every pass of the event loop.
  static constexpr int kFrameMs = 40;
  void RowsAppended();
  void RowsRecoloured();
  void Cleared();
  // Brings the view up to the store now.
  void Sync();

  static QColor FromColorRef(std::uint32_t colour);

 signals:
  void Appended();

 private:
  const EventList& list_;
  const ListColourStore& colours_;
  int shown_ = 0;
  bool scheduled_ = false;
  QElapsedTimer sinceSync_;
};

}  // namespace vantrel
