#include "faces/qt/app/Layout.h"

#include <QGuiApplication>
#include <QScreen>

namespace vantrel {

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
