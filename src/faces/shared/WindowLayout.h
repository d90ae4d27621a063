#pragma once
// The main window's proportional layout, the same for every face: each
// direct child keeps the share of the window it had at start-up, and the
// check boxes are re-placed inside their group boxes by fixed ratios.
#include <cstdint>

namespace vantrel {

struct LayoutRect {
  int left = 0, top = 0, width = 0, height = 0;
};
struct LayoutPoint {
  int x = 0, y = 0;
};

struct ChildRatio {
  double x, y, width, height;
};

// A child's ratios from its rectangle relative to the window's client area
// and that area's size: the frame belongs to the system, so the frame
// margins the first design measured from the outer corner are zero here.
ChildRatio RecordRatio(const LayoutRect& child, int windowWidth, int windowHeight);
LayoutRect ApplyRatio(const ChildRatio& r, int windowWidth, int windowHeight);

// The main window's design: its client size, its children's places in it,
// and the smallest size its controls stay readable at.
inline constexpr int kDesignWidth = 1010, kDesignHeight = 800;
inline constexpr int kReadableWidth = 800, kReadableHeight = 460;
// The design's vertical stretches that the two lists take; below the design
// height only these give up what is missing.
struct LayoutBand {
  int top = 0, bottom = 0;
};
inline constexpr LayoutBand kListBands[] = {{96, 272}, {276, 768}};

// Where a child of the design rectangle goes in a client area of width x
// height pixels, scale pixels to a design pixel. At the design height and
// above, every child keeps its share of the window; below it, the lists
// give up what is missing and the boxes, the group frames and the status
// line keep their design heights, so that nothing shrinks to unreadable.
// Widths keep their shares at every size.
LayoutRect PlaceDesignChild(const LayoutRect& design, int width, int height, double scale = 1.0);

// A window's outer rectangle moved and, if need be, shrunk into the part of
// the screen windows may use: a window saved larger than the screen, or
// placed off it, comes back whole.
LayoutRect FitInto(const LayoutRect& window, const LayoutRect& workArea);

struct CheckBoxPlacement {
  // Tops and lefts of the boxes relative to their group boxes.
  LayoutPoint 全盘, 自定义, 保存日志, 托盘提示;
  LayoutPoint 创建文件, 删除文件, 更新文件, 重命名文件;
  LayoutPoint 创建目录, 删除目录, 重命名目录;
};
// From the group boxes' sizes, in the units the design's 104 is in.
CheckBoxPlacement PlaceCheckBoxes(int group1Width, int group1Height, int group2Height);

// Height of a panel along an edge of the screen, from the screen and the part
// of it windows may use; 0 when no edge is taken across its whole length.
int TaskbarThickness(const LayoutRect& screen, const LayoutRect& available);

struct DisplayMode {
  std::uint16_t bitsPerPixel = 0, width = 0, height = 0, frequency = 0;
};

}  // namespace vantrel
