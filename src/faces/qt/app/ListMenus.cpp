#include "faces/qt/app/ListMenus.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QMenu>
#include <QShortcut>

namespace vantrel {
namespace {

QPoint MenuPoint(QAbstractItemView* view, bool keyboard, QPoint global) {
  if (!keyboard) return global;
  QRect row = view->visualRect(view->currentIndex());
  QPoint at = row.isValid() ? QPoint(row.left() + 16, row.bottom()) : QPoint(8, 8);
  return view->viewport()->mapToGlobal(at);
}

}  // namespace

void ListMenus::Attach(QAbstractItemView* view, QMenu* menu) {
  lists_.emplace_back(view, menu);
  view->setContextMenuPolicy(Qt::DefaultContextMenu);
  view->installEventFilter(this);
  view->viewport()->installEventFilter(this);
  auto* shortcut = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), view, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(shortcut, &QShortcut::activated, this, [view, menu] { menu->popup(MenuPoint(view, true, {})); });
}

bool ListMenus::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ContextMenu) return QObject::eventFilter(watched, event);
  auto* e = static_cast<QContextMenuEvent*>(event);
  for (auto [view, menu] : lists_) {
    if (watched != view && watched != view->viewport()) continue;
    menu->popup(MenuPoint(view, e->reason() == QContextMenuEvent::Keyboard, e->globalPos()));
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vantrel
