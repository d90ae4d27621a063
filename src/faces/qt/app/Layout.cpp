#include "faces/qt/app/Layout.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace vantrel {
namespace {
int Trunc(double v) { return static_cast<int>(std::trunc(v)); }
}  // namespace

ChildRatio RecordRatio(const QRect& child, const QSize& window) {
  double w = window.width(), h = window.height();
  if (w <= 0 || h <= 0) return {0, 0, 0, 0};
  return {child.left() / w, child.top() / h, child.width() / w, child.height() / h};
}

QRect ApplyRatio(const ChildRatio& r, const QSize& window) {
  double w = window.width(), h = window.height();
  return QRect(Trunc(w * r.x), Trunc(h * r.y), Trunc(w * r.width), Trunc(h * r.height));
}

CheckBoxPlacement PlaceCheckBoxes(const QSize& group1, const QSize& group2) {
  CheckBoxPlacement p;
  int top = Trunc(group2.height() / 2.35);
  int left = Trunc(Trunc(group1.width() - 104) / 12.06);
  p.全盘 = QPoint(left, top);
  p.自定义 = QPoint(Trunc(left * 4.59), top);
  p.保存日志 = QPoint(Trunc(left * 8.18), top);
  p.托盘提示 = QPoint(Trunc(left * 11.81), top);
  int row1 = Trunc(group1.height() / 4.9);
  p.创建文件 = QPoint(left, row1);
  p.删除文件 = QPoint(p.自定义.x(), row1);
  p.更新文件 = QPoint(p.托盘提示.x(), row1);
  p.重命名文件 = QPoint(p.保存日志.x(), row1);
  int row2 = Trunc(group1.height() / 1.66);
  p.创建目录 = QPoint(p.创建文件.x(), row2);
  p.删除目录 = QPoint(p.删除文件.x(), row2);
  p.重命名目录 = QPoint(p.重命名文件.x(), row2);
  return p;
}

int TaskbarThickness(const QRect& screen, const QRect& available) {
  if (available.left() == screen.left() && available.right() == screen.right())
    return screen.height() - available.height();
  if (available.top() == screen.top() && available.bottom() == screen.bottom())
    return screen.width() - available.width();
  return 0;
}

DisplayMode CurrentDisplayMode() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  auto clip = [](double v) { return static_cast<std::uint16_t>(static_cast<long long>(v) & 0xFFFF); };
  QSize size = screen->size();
  return {clip(screen->depth()), clip(size.width()), clip(size.height()), clip(screen->refreshRate())};
}

int PrimaryTaskbarThickness() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 0;
  DisplayMode mode = CurrentDisplayMode();
  QRect full(screen->geometry().topLeft(), QSize(mode.width, mode.height));
  return TaskbarThickness(full, screen->availableGeometry());
}

}  // namespace vantrel
