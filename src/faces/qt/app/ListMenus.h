#pragma once
// The lists' context menus: at the pointer for a click, at the current row
// for the keyboard (the Menu key and Shift+F10).
#include <QObject>
#include <QStyledItemDelegate>
#include <utility>
#include <vector>

class QAbstractItemView;
class QMenu;

namespace vantrel {

class ListMenus : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  void Attach(QAbstractItemView* view, QMenu* menu);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<std::pair<QAbstractItemView*, QMenu*>> lists_;
};

// Rows of one fixed height, so that both lists look alike.
class RowHeightDelegate : public QStyledItemDelegate {
 public:
  RowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

}  // namespace vantrel
