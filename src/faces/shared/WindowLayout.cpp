#include "faces/shared/WindowLayout.h"

#include <algorithm>
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

namespace {

// The design pixels of the list bands above y.
double ListPixelsAbove(double y) {
  double above = 0;
  for (const LayoutBand& band : kListBands) above += std::clamp(y - band.top, 0.0, double(band.bottom - band.top));
  return above;
}

}  // namespace

LayoutRect PlaceDesignChild(const LayoutRect& design, int width, int height, double scale) {
  const ChildRatio ratio = RecordRatio(design, kDesignWidth, kDesignHeight);
  LayoutRect at = ApplyRatio(ratio, width, height);
  const double missing = kDesignHeight * scale - height;
  if (missing <= 0) return at;
  const double lists = ListPixelsAbove(kDesignHeight);
  auto y = [&](double designY) { return designY * scale - missing * ListPixelsAbove(designY) / lists; };
  const int top = Trunc(y(design.top));
  at.top = top;
  at.height = std::max(0, Trunc(y(design.top + design.height)) - top);
  return at;
}

LayoutRect FitInto(const LayoutRect& window, const LayoutRect& workArea) {
  LayoutRect fitted = window;
  fitted.width = std::min(window.width, workArea.width);
  fitted.height = std::min(window.height, workArea.height);
  fitted.left = std::clamp(window.left, workArea.left, workArea.left + workArea.width - fitted.width);
  fitted.top = std::clamp(window.top, workArea.top, workArea.top + workArea.height - fitted.height);
  return fitted;
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
