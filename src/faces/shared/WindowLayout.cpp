#include "faces/shared/WindowLayout.h"

#include <cmath>

namespace vantrel {
namespace {
int Trunc(double v) { return static_cast<int>(std::trunc(v)); }
}  // namespace

ChildRatio RecordRatio(const LayoutRect& child, int windowWidth, int windowHeight) {
  const double w = windowWidth, h = windowHeight;
  if (w <= 0 || h <= 0) return {0, 0, 0, 0};
  return {child.left / w, child.top / h, child.width / w, child.height / h};
}

LayoutRect ApplyRatio(const ChildRatio& r, int windowWidth, int windowHeight) {
  const double w = windowWidth, h = windowHeight;
  return {Trunc(w * r.x), Trunc(h * r.y), Trunc(w * r.width), Trunc(h * r.height)};
}

CheckBoxPlacement PlaceCheckBoxes(int group1Width, int group1Height, int group2Height) {
  CheckBoxPlacement p;
  const int top = Trunc(group2Height / 2.35);
  const int left = Trunc(Trunc(group1Width - 104) / 12.06);
  p.全盘 = {left, top};
  p.自定义 = {Trunc(left * 4.59), top};
  p.保存日志 = {Trunc(left * 8.18), top};
  p.托盘提示 = {Trunc(left * 11.81), top};
  const int row1 = Trunc(group1Height / 4.9);
  p.创建文件 = {left, row1};
  p.删除文件 = {p.自定义.x, row1};
  p.更新文件 = {p.托盘提示.x, row1};
  p.重命名文件 = {p.保存日志.x, row1};
  const int row2 = Trunc(group1Height / 1.66);
  p.创建目录 = {p.创建文件.x, row2};
  p.删除目录 = {p.删除文件.x, row2};
  p.重命名目录 = {p.重命名文件.x, row2};
  return p;
}

int TaskbarThickness(const LayoutRect& screen, const LayoutRect& available) {
  if (available.left == screen.left && available.width == screen.width) return screen.height - available.height;
  if (available.top == screen.top && available.height == screen.height) return screen.width - available.width;
  return 0;
}

}  // namespace vantrel
