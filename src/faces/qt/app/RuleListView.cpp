#include "faces/qt/app/RuleListView.h"

#include "faces/shared/FaceTexts.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace vantrel {

RuleListView::RuleListView(QWidget* parent) : QTreeView(parent) {}

bool RuleListView::SelectCurrent() {
  if (Empty()) return false;
  QModelIndex current = currentIndex();
  if (!current.isValid()) current = model()->index(0, 0);
  if (!selectionModel()->isSelected(current) || currentIndex() != current)
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  return true;
}

void RuleListView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  // Arrows alone never select the only row there is: it is current already.
  if (event->reason() != Qt::MouseFocusReason) SelectCurrent();
}

void RuleListView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (Empty()) {
        emit AddRequested();
      } else if (SelectCurrent()) {
        emit ModifyRequested();
      }
      return;
    case Qt::Key_Delete:
      if (SelectCurrent()) emit RemoveRequested();
      return;
    case Qt::Key_Space:
      if (SelectCurrent()) {
        const QModelIndex box = model()->index(currentIndex().row(), 0);
        const bool ticked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model()->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
      }
      return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
      if (!selectionModel()->hasSelection() && event->modifiers() == Qt::NoModifier) {
        SelectCurrent();
        return;
      }
      break;
    default:
      break;
  }
  QTreeView::keyPressEvent(event);
}

void RuleListView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (indexAt(event->position().toPoint()).isValid()) {
    QTreeView::mouseDoubleClickEvent(event);
    emit ModifyRequested();
  } else if (Empty()) {
    emit AddRequested();
  }
}

void RuleListView::paintEvent(QPaintEvent* event) {
  QTreeView::paintEvent(event);
  if (!Empty()) return;
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  painter.drawText(viewport()->rect().adjusted(24, 8, -24, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromUtf8(kEmptyRulesHint));
}

}  // namespace vantrel
