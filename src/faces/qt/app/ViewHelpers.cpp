#include "faces/qt/app/ViewHelpers.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QItemSelectionModel>

namespace vantrel {

QCheckBox* MakeBox(QWidget* parent, const char* name, const char* caption, int x, int y) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(x, y, 104, 24);
  return box;
}

void SetUpList(QAbstractItemView* list, const char* name, QAbstractItemModel* model, std::initializer_list<int> widths,
               QRect geometry, const std::function<void(int column, int width)>& setWidth) {
  list->setObjectName(QString::fromUtf8(name));
  list->setFrameShape(QFrame::NoFrame);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setModel(model);
  int i = 0;
  for (int width : widths) setWidth(i++, width);
  list->setGeometry(geometry);
}

int SelectedRow(const QAbstractItemView* view) {
  if (!view->selectionModel()) return -1;
  QModelIndex current = view->currentIndex();
  if (current.isValid() && view->selectionModel()->isRowSelected(current.row(), QModelIndex())) return current.row();
  const QModelIndexList rows = view->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

}  // namespace vantrel
