#pragma once
// Proportional layout of the main window: every direct child keeps the share
// of the window it had at start-up, and the check boxes are re-placed inside
// their group boxes by fixed ratios.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <vector>

class QWidget;

namespace vantrel {

struct ChildRatio {
  double x, y, width, height;
};

// A child's ratios from its rectangle relative to the window and the
// window's size. The window manager draws the frame outside our window, so
// the frame margins that the original measured from the outer corner are
// zero here and the window's own rectangle is the reference.
ChildRatio RecordRatio(const QRect& child, const QSize& window);
QRect ApplyRatio(const ChildRatio& r, const QSize& window);

struct CheckBoxPlacement {
  // Tops and lefts of the boxes relative to their group boxes.
  QPoint 全盘, 自定义, 保存日志, 托盘提示;
  QPoint 创建文件, 删除文件, 更新文件, 重命名文件;
  QPoint 创建目录, 删除目录, 重命名目录;
};
CheckBoxPlacement PlaceCheckBoxes(const QSize& group1, const QSize& group2);

// Height of a panel along an edge of the screen, from the screen and the part
// of it windows may use; 0 when no edge is taken across its whole length.
int TaskbarThickness(const QRect& screen, const QRect& available);

struct DisplayMode {
  std::uint16_t bitsPerPixel = 0, width = 0, height = 0, frequency = 0;
};
// The primary screen's mode, and the thickness of its panel along an edge.
DisplayMode CurrentDisplayMode();
int PrimaryTaskbarThickness();

}  // namespace vantrel
