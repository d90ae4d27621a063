#pragma once
// The shared proportional layout (faces/shared/WindowLayout.h) in Qt's
// terms, and the screen's panel as Qt tells it.
#include "faces/shared/WindowLayout.h"

#include <QPoint>
#include <QRect>
#include <QSize>

namespace vantrel {

inline ChildRatio RecordRatio(const QRect& child, const QSize& window) {
  return RecordRatio(LayoutRect{child.left(), child.top(), child.width(), child.height()}, window.width(),
                     window.height());
}
inline QRect ApplyRatio(const ChildRatio& r, const QSize& window) {
  const LayoutRect at = ApplyRatio(r, window.width(), window.height());
  return QRect(at.left, at.top, at.width, at.height);
}
inline LayoutRect ToLayout(const QRect& r) { return {r.left(), r.top(), r.width(), r.height()}; }
inline QRect ToQRect(const LayoutRect& r) { return QRect(r.left, r.top, r.width, r.height); }
inline QPoint ToQPoint(const LayoutPoint& p) { return QPoint(p.x, p.y); }
inline int TaskbarThickness(const QRect& screen, const QRect& available) {
  return TaskbarThickness(LayoutRect{screen.left(), screen.top(), screen.width(), screen.height()},
                          LayoutRect{available.left(), available.top(), available.width(), available.height()});
}

// The primary screen's mode, and the thickness of its panel along an edge.
DisplayMode CurrentDisplayMode();
int PrimaryTaskbarThickness();

}  // namespace vantrel
