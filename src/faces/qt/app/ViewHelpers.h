#pragma once
// Small pieces the window's construction repeats.
#include <QRect>
#include <functional>
#include <initializer_list>

class QAbstractItemModel;
class QAbstractItemView;
class QCheckBox;
class QWidget;

namespace vantrel {

QCheckBox* MakeBox(QWidget* parent, const char* name, const char* caption, int x, int y);
// A list by its form name over its model, rows selected whole, its columns
// given their widths.
void SetUpList(QAbstractItemView* list, const char* name, QAbstractItemModel* model, std::initializer_list<int> widths,
               QRect geometry, const std::function<void(int column, int width)>& setWidth);
// The list's selected row (the current one where it is selected), or -1.
int SelectedRow(const QAbstractItemView* view);

}  // namespace vantrel
